// The command runner: the limiter's only way of talking to the volume tool.
#include "limiter/CommandRunner.h"

#include <tlhelp32.h>

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/RecordSize.h"
#include "limiter/ProcessGuard.h"

namespace {

// /D: the interpreter would first run the AutoRun command that any user may
// set under Command Processor in the registry. Its output would come before
// the tool's answer and could pass for it, and a slow one would hold up
// every query.
const char kInterpreterPrefix[] = "Cmd.exe /D /C ";
const wchar_t kInterpreterFile[] = L"\\cmd.exe";
const char kPolicyKey[] = "Software\\Policies\\Microsoft\\Windows\\System";
const char kPolicyValue[] = "DisableCMD";
const DWORD kReadChunk = 4095;
// How long each pass of ending a tree waits for what it ended. Ending is
// asynchronous: a process caught while starting a child finishes doing so
// after TerminateProcess has returned, and a look taken before that would
// miss the child and end the search.
const DWORD kEndWait = 500;

static_assert(sizeof(SECURITY_ATTRIBUTES) == RecordSize(12, 24), "SECURITY_ATTRIBUTES");
static_assert(sizeof(STARTUPINFOA) == RecordSize(68, 104), "STARTUPINFOA");
static_assert(sizeof(STARTUPINFOEXA) == RecordSize(72, 112), "STARTUPINFOEXA");
static_assert(sizeof(PROCESSENTRY32) == RecordSize(296, 304), "PROCESSENTRY32");
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == RecordSize(112, 144),
              "JOBOBJECT_EXTENDED_LIMIT_INFORMATION");

// The program of one run, in its job, and our end of its output pipe.
struct Child {
    UniqueHandle job;
    UniqueHandle process;
    UniqueHandle readEnd;
};

// A job that ends every process in it when its last handle closes, so that
// a hung command takes nothing with it that keeps our pipe open.
UniqueHandle CreateKillOnCloseJob() {
    UniqueHandle job(CreateJobObjectA(nullptr, nullptr));
    if (!job) return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits)) {
        job.reset();
    }
    return job;
}

// Starts program with command line line, hidden, with standard output and
// error going into a new pipe, inside a kill-on-close job when inJob. False
// when the pipe or the process cannot be made; nothing is left open then.
bool StartInJob(const CString& program, const CString& line, bool inJob, Child& child) {
    std::vector<char> commandLine(line.c_str(), line.c_str() + line.GetLength() + 1);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle writeEnd;
    if (!CreatePipe(child.readEnd.put(), writeEnd.put(), &inherit, 0)) return false;
    // Only the write end goes to the child; an inherited read end would keep
    // the pipe alive in the child and leak into everything it starts.
    SetHandleInformation(child.readEnd.get(), HANDLE_FLAG_INHERIT, 0);
    // Input that ends at once: a command that asks something gets no answer
    // instead of waiting on whatever our own input is.
    const UniqueHandle input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inherit, OPEN_EXISTING, 0, nullptr));
    if (!input) return false;
    HANDLE inherited[] = {writeEnd.get(), input.get()};
    const InheritList inheritList(inherited, sizeof inherited / sizeof inherited[0]);
    if (!inheritList.get()) return false;

    // Made from nothing rather than from our own start-up record: started by
    // another program's spawn functions, ours carries that runtime's table of
    // inherited file numbers, which the child's runtime would take for its
    // standard handles in place of the pipe.
    STARTUPINFOEXA startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.hStdInput = input.get();
    startup.StartupInfo.hStdOutput = writeEnd.get();
    startup.StartupInfo.hStdError = writeEnd.get();
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
    startup.lpAttributeList = inheritList.get();

    if (inJob) child.job = CreateKillOnCloseJob();
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    // No console either: where a terminal program hosts new consoles, it
    // shows a window for one whatever SW_HIDE says.
    // Guarded, the interpreter is made as guarded as we are; what it starts
    // in turn takes the guard from the token it inherits from us.
    if (!CreateProcessA(program, commandLine.data(), GuardedProcessAttributes(),
                        GuardedThreadAttributes(), TRUE,
                        CREATE_SUSPENDED | CREATE_NO_WINDOW | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                        nullptr, &startup.StartupInfo, &process)) {
        return false;
    }
    child.process.reset(process.hProcess);
    const UniqueHandle thread(process.hThread);
    // Without nested jobs (before Windows 8) this fails whenever we run in a
    // job ourselves; EndChild then ends what the program started by hand.
    if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get()))
        child.job.reset();
    ResumeThread(thread.get());
    // writeEnd closes on return: with our copy gone, the pipe breaks once the
    // child and all it started have ended.
    return true;
}

ULONGLONG CreationTime(HANDLE process) {
    FILETIME created = {}, exited, kernel, user;
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// Ends root and, found by their parent's id, all it started. The handles
// held meanwhile keep each ended process's id from being reused; a process
// older than its supposed parent only met a reused id. What a process
// started before it exited itself is out of reach: its parent id names no
// one we know.
void EndProcessTree(HANDLE root) {
    struct Ended {
        DWORD id;
        ULONGLONG created;
    };
    std::vector<Ended> ended = {{GetProcessId(root), CreationTime(root)}};
    std::vector<UniqueHandle> held;
    TerminateProcess(root, 1);
    WaitForSingleObject(root, kEndWait);
    // Until a look finds no one new: each ended process may have started
    // another while we looked.
    for (bool found = true; found;) {
        found = false;
        const size_t firstOfPass = held.size();
        const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32 entry = {};
        entry.dwSize = sizeof entry;
        for (BOOL more = Process32First(snapshot.get(), &entry); more;
             more = Process32Next(snapshot.get(), &entry)) {
            const Ended* parent = nullptr;
            bool known = false;
            for (const Ended& e : ended) {
                if (e.id == entry.th32ParentProcessID) parent = &e;
                known = known || e.id == entry.th32ProcessID;
            }
            if (!parent || known) continue;
            UniqueHandle process(
                OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE,
                            FALSE, entry.th32ProcessID));
            if (!process) continue;
            const ULONGLONG created = CreationTime(process.get());
            if (created < parent->created) continue;
            TerminateProcess(process.get(), 1);
            ended.push_back({entry.th32ProcessID, created});
            held.push_back(std::move(process));
            found = true;
        }
        const ULONGLONG deadline = GetTickCount64() + kEndWait;
        for (size_t i = firstOfPass; i < held.size(); ++i) {
            const ULONGLONG now = GetTickCount64();
            WaitForSingleObject(held[i].get(),
                                now < deadline ? static_cast<DWORD>(deadline - now) : 0);
        }
    }
}

// Ends the program and all it started, so that nothing keeps a hung
// command alive behind our back.
void EndChild(const Child& child) {
    if (child.job) {
        TerminateJobObject(child.job.get(), 1);
    } else {
        EndProcessTree(child.process.get());
    }
}

// Reads the pipe until it breaks or the deadline passes, keeping at most
// kMaxOutput bytes; *ended tells that the deadline passed and the child was
// ended.
std::string DrainPipe(const Child& child, ULONGLONG deadline, bool* ended) {
    std::string output;
    std::vector<char> chunk(kReadChunk);
    size_t received = 0;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(child.readEnd.get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (GetTickCount64() >= deadline) {
            EndChild(child);
            *ended = true;
            break;
        }
        if (available > 0) {
            DWORD count = 0;
            if (!ReadFile(child.readEnd.get(), chunk.data(), kReadChunk, &count, nullptr)) break;
            const size_t room = kMaxOutput - output.size();
            output.append(chunk.data(), count < room ? count : room);
            received += count;
        }
        // An ordinary answer fits in one read and keeps the usual pause. A
        // long one is drained briskly so that a full pipe never holds the
        // child up.
        Sleep(received >= kReadChunk ? kDrainPause : kPeekPause);
    }
    return output;
}

// The exit status of a program whose output has ended. The pipe breaks as
// it closes its handles on the way out, a moment before it counts as ended,
// so it is waited for, up to the deadline.
DWORD ExitStatus(HANDLE process, ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    DWORD status = kNoExitStatus;
    if (WaitForSingleObject(process, now < deadline ? static_cast<DWORD>(deadline - now) : 0) !=
            WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &status)) {
        return kNoExitStatus;
    }
    return status;
}

// The interpreter by its full path: named by its file name alone, it would
// be looked for in our own folder and the current one first, and a cmd.exe
// placed there would run instead. "" when the system folder cannot be spelt
// in the ANSI code page: then nothing is run rather than something searched.
CString InterpreterPath() {
    wchar_t folder[MAX_PATH];
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return CString();
    bool lossless = false;
    const CString path = NarrowFromWide((std::wstring(folder, length) + kInterpreterFile).c_str(),
                                        kSystemCodePage, &lossless);
    return lossless ? path : CString();
}

}  // namespace

CString BuildCommandLine(const CString& command) {
    CString line = CString(kInterpreterPrefix) + "\"" + command + "\"";
    if (line.GetLength() + 1 > kCommandLineSize) return CString();
    return line;
}

bool CommandPromptBarred() {
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        // Policies are written to the system's own view of the registry,
        // which a 32-bit program on 64-bit Windows does not see by default.
        HKEY key = nullptr;
        if (RegOpenKeyExA(root, kPolicyKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &key) !=
            ERROR_SUCCESS) {
            continue;
        }
        DWORD type = 0, value = 0, size = sizeof value;
        const bool barred =
            RegQueryValueExA(key, kPolicyValue, nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD && size == sizeof value && value != 0;
        RegCloseKey(key);
        if (barred) return true;
    }
    return false;
}

CString RunProgram(const CString& program, const CString& commandLine, DWORD timeoutMs, bool inJob,
                   DWORD* exitStatus) {
    if (exitStatus) *exitStatus = kNoExitStatus;
    if (program.IsEmpty() || commandLine.GetLength() + 1 > kCommandLineSize) return CString();
    Child child;
    if (!StartInJob(program, commandLine, inJob, child)) return CString();
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    bool ended = false;
    const std::string output = DrainPipe(child, deadline, &ended);
    if (exitStatus && !ended) *exitStatus = ExitStatus(child.process.get(), deadline);

    // Output is text up to its first NUL, as the tool's answer is.
    CString result(output.c_str());
    result.TrimRight();
    return result;
}

CString RunCommand(const CString& command, DWORD timeoutMs, bool inJob, DWORD* exitStatus) {
    if (exitStatus) *exitStatus = kNoExitStatus;
    const CString line = BuildCommandLine(command);
    if (line.IsEmpty()) return CString();
    return RunProgram(InterpreterPath(), line, timeoutMs, inJob, exitStatus);
}
