// The command runner: the limiter's only way of talking to the volume tool.
#include "limiter/CommandRunner.h"

#include <string>
#include <vector>

#include "framework/Handles.h"

namespace {

const char kInterpreterPrefix[] = "Cmd.exe /C ";
const DWORD kReadChunk = 4095;

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

}  // namespace

CString BuildCommandLine(const CString& command) {
    CString line = CString(kInterpreterPrefix) + "\"" + command + "\"";
    if (line.GetLength() + 1 > kCommandLineSize) return CString();
    return line;
}

CString RunCommand(const CString& command, DWORD timeoutMs) {
    const CString line = BuildCommandLine(command);
    if (line.IsEmpty()) return CString();
    std::vector<char> commandLine(line.c_str(), line.c_str() + line.GetLength() + 1);

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle readEnd, writeEnd;
    if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return CString();
    // Only the write end goes to the child; an inherited read end would keep
    // the pipe alive in the child and leak into everything it starts.
    SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    startup.hStdOutput = writeEnd.get();
    startup.hStdError = writeEnd.get();
    startup.wShowWindow = SW_HIDE;
    startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;

    UniqueHandle job = CreateKillOnCloseJob();
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &process)) {
        return CString();
    }
    UniqueHandle processHandle(process.hProcess), threadHandle(process.hThread);
    // Without a job the command still runs; only the time-out loses its
    // grip on what the interpreter starts.
    if (job && !AssignProcessToJobObject(job.get(), processHandle.get())) job.reset();
    ResumeThread(threadHandle.get());
    writeEnd.reset();

    std::string output;
    std::vector<char> chunk(kReadChunk);
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    size_t received = 0;
    for (;;) {
        DWORD available = 0;
        if (!PeekNamedPipe(readEnd.get(), nullptr, 0, nullptr, &available, nullptr)) break;
        if (GetTickCount64() >= deadline) {
            // Ends the interpreter and all it started, so nothing keeps a
            // hung command alive behind our back.
            if (job) {
                TerminateJobObject(job.get(), 1);
            } else {
                TerminateProcess(processHandle.get(), 1);
            }
            break;
        }
        if (available > 0) {
            DWORD count = 0;
            if (!ReadFile(readEnd.get(), chunk.data(), kReadChunk, &count, nullptr)) break;
            const size_t room = kMaxOutput - output.size();
            output.append(chunk.data(), count < room ? count : room);
            received += count;
        }
        // An ordinary answer fits in one read and keeps the usual pause. A
        // long one is drained briskly so that a full pipe never holds the
        // child up.
        Sleep(received >= kReadChunk ? kDrainPause : kPeekPause);
    }

    // Output is text up to its first NUL, as the tool's answer is.
    CString result(output.c_str());
    result.TrimRight();
    return result;
}
