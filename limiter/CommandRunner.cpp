// The command runner: the limiter's only way of talking to the volume tool.
#include "limiter/CommandRunner.h"

#include <string>
#include <vector>

#include "framework/Handles.h"
#include "framework/RecordSize.h"

namespace {

const char kInterpreterPrefix[] = "Cmd.exe /C ";
const DWORD kReadChunk = 4095;

static_assert(sizeof(SECURITY_ATTRIBUTES) == RecordSize(12, 24), "SECURITY_ATTRIBUTES");
static_assert(sizeof(STARTUPINFOA) == RecordSize(68, 104), "STARTUPINFOA");
static_assert(sizeof(JOBOBJECT_EXTENDED_LIMIT_INFORMATION) == RecordSize(112, 144),
              "JOBOBJECT_EXTENDED_LIMIT_INFORMATION");

// The interpreter of one run, in its job, and our end of its output pipe.
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

// Starts line hidden, with standard output and error going into a new pipe,
// inside a kill-on-close job. False when the pipe or the process cannot be
// made; nothing is left open then.
bool StartInJob(const CString& line, Child& child) {
    std::vector<char> commandLine(line.c_str(), line.c_str() + line.GetLength() + 1);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle writeEnd;
    if (!CreatePipe(child.readEnd.put(), writeEnd.put(), &inherit, 0)) return false;
    // Only the write end goes to the child; an inherited read end would keep
    // the pipe alive in the child and leak into everything it starts.
    SetHandleInformation(child.readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.wShowWindow = SW_HIDE;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;

    child.job = CreateKillOnCloseJob();
    PROCESS_INFORMATION process = {};
    // Suspended until it is in the job, so that nothing it starts escapes.
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        return false;
    }
    child.process.reset(process.hProcess);
    const UniqueHandle thread(process.hThread);
    // Without a job the command still runs; only the time-out loses its
    // grip on what the interpreter starts.
    if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get()))
        child.job.reset();
    ResumeThread(thread.get());
    // writeEnd closes on return: with our copy gone, the pipe breaks once the
    // child and all it started have ended.
    return true;
}

// Ends the interpreter and all it started, so that nothing keeps a hung
// command alive behind our back.
void EndChild(const Child& child) {
    if (child.job) {
        TerminateJobObject(child.job.get(), 1);
    } else {
        TerminateProcess(child.process.get(), 1);
    }
}

// Reads the pipe until it breaks or the deadline passes, keeping at most
// kMaxOutput bytes.
std::string DrainPipe(const Child& child, ULONGLONG deadline) {
    std::string output;
    std::vector<char> chunk(kReadChunk);
    size_t received = 0;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(child.readEnd.get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (GetTickCount64() >= deadline) {
            EndChild(child);
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

}  // namespace

CString BuildCommandLine(const CString& command) {
    CString line = CString(kInterpreterPrefix) + "\"" + command + "\"";
    if (line.GetLength() + 1 > kCommandLineSize) return CString();
    return line;
}

CString RunCommand(const CString& command, DWORD timeoutMs) {
    const CString line = BuildCommandLine(command);
    if (line.IsEmpty()) return CString();
    Child child;
    if (!StartInJob(line, child)) return CString();
    const std::string output = DrainPipe(child, GetTickCount64() + timeoutMs);

    // Output is text up to its first NUL, as the tool's answer is.
    CString result(output.c_str());
    result.TrimRight();
    return result;
}
