// The real bin.exe, run as the limiter runs it. Wine's endpoint volume is a
// stub (no device without a sound server; with one, a get answers 1.0 and a
// set is refused), so these tests accept either a correct answer or a clean
// failure, and never a failure dressed as an answer.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "framework/Handles.h"
#include "tests/support/TestSupport.h"

namespace {

const DWORD kToolTimeoutMs = 30000;
const DWORD kPipeSize = 64 * 1024;  // far more than the tool ever prints

struct ToolRun {
    bool finished = false;
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

// Everything already in the pipe; the tool has ended, so nothing more comes,
// and a peek cannot block on a writer that some other process inherited.
std::string Drain(HANDLE pipe) {
    std::string text;
    DWORD available = 0;
    while (PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) && available > 0) {
        std::string chunk(available, '\0');
        DWORD read = 0;
        if (!ReadFile(pipe, &chunk[0], available, &read, nullptr) || read == 0) break;
        text.append(chunk, 0, read);
    }
    return text;
}

ToolRun RunTool(const std::string& arguments) {
    ToolRun run;
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    UniqueHandle outRead, outWrite, errRead, errWrite;
    if (!CreatePipe(outRead.put(), outWrite.put(), &inherit, kPipeSize) ||
        !CreatePipe(errRead.put(), errWrite.put(), &inherit, kPipeSize)) {
        ADD_FAILURE() << "CreatePipe failed: " << GetLastError();
        return run;
    }
    SetHandleInformation(outRead.get(), HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(errRead.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();
    std::string command = "\"" + testing_support::BuildBinDir() + "bin.exe\"";
    if (!arguments.empty()) command += " " + arguments;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        ADD_FAILURE() << "CreateProcess failed for " << command << ": " << GetLastError();
        return run;
    }
    UniqueHandle processHandle(process.hProcess);
    UniqueHandle threadHandle(process.hThread);
    outWrite.reset();
    errWrite.reset();

    if (WaitForSingleObject(processHandle.get(), kToolTimeoutMs) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.get(), 1);
        ADD_FAILURE() << command << " did not end within " << kToolTimeoutMs << " ms";
        return run;
    }
    run.finished = GetExitCodeProcess(processHandle.get(), &run.exitCode) != 0;
    EXPECT_TRUE(run.finished) << "GetExitCodeProcess failed: " << GetLastError();
    run.out = Drain(outRead.get());
    run.err = Drain(errRead.get());
    return run;
}

// The answer shape: "master volume: D.DD. " then a non-blank character, one
// line. Gives the value in percent, or -1 when the text is not that shape.
int AnswerPercent(const std::string& out) {
    const std::string prefix = "master volume: ";
    if (out.compare(0, prefix.size(), prefix) != 0) return -1;
    const std::string rest = out.substr(prefix.size());
    if (rest.size() < 7 || !isdigit(rest[0]) || rest[1] != '.' || !isdigit(rest[2]) ||
        !isdigit(rest[3]) || rest.compare(4, 2, ". ") != 0 || isspace(rest[6])) {
        return -1;
    }
    if (rest.find('\n') != rest.size() - 1) return -1;  // exactly one line
    const int percent = (rest[0] - '0') * 100 + (rest[2] - '0') * 10 + (rest[3] - '0');
    return percent <= 100 ? percent : -1;
}

// "HRESULT 0x" followed by eight hex digits somewhere in text.
bool HasHresult(const std::string& text) {
    const std::string marker = "HRESULT 0x";
    const size_t at = text.find(marker);
    if (at == std::string::npos || text.size() < at + marker.size() + 8) return false;
    for (size_t i = at + marker.size(); i < at + marker.size() + 8; ++i) {
        if (!isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

// A failure must say why on stderr and must not look like an answer, or the
// limiter would act on it.
void ExpectCleanFailure(const ToolRun& run, const std::string& what) {
    EXPECT_NE(run.exitCode, 0u) << what;
    EXPECT_EQ(run.out.find("master volume:"), std::string::npos) << what << ": " << run.out;
    EXPECT_TRUE(HasHresult(run.err)) << what << ": " << run.err;
    if (run.err.find("0x80070490") != std::string::npos) {
        EXPECT_NE(run.err.find("no audio output device"), std::string::npos) << run.err;
    }
}

}  // namespace

TEST(BinExe_Query, AnswersOrFailsCleanly) {
    const ToolRun run = RunTool("-multimedia");
    ASSERT_TRUE(run.finished);
    if (run.exitCode == 0) {
        EXPECT_GE(AnswerPercent(run.out), 0) << run.out;
        EXPECT_EQ(run.err, "");
    } else {
        ExpectCleanFailure(run, "query");
    }
    printf("query: exit %lu, stdout \"%s\", stderr \"%s\"\n", run.exitCode, run.out.c_str(),
           run.err.c_str());
}

TEST(BinExe_Set, ReportsTheNewVolumeOrTheRefusal) {
    // Set the volume the device already has, so that on a real machine the
    // test changes nothing a user would hear.
    const ToolRun query = RunTool("-multimedia");
    ASSERT_TRUE(query.finished);
    const int current = query.exitCode == 0 ? AnswerPercent(query.out) : -1;
    const int target = current >= 0 ? current : 37;

    const ToolRun run = RunTool("-multimedia -v " + std::to_string(target));
    ASSERT_TRUE(run.finished);
    if (run.exitCode == 0) {
        EXPECT_EQ(AnswerPercent(run.out), target) << run.out;
        EXPECT_EQ(run.err, "");
    } else {
        ExpectCleanFailure(run, "set");
    }
    printf("set %d: exit %lu, stdout \"%s\", stderr \"%s\"\n", target, run.exitCode,
           run.out.c_str(), run.err.c_str());
}

TEST(BinExe_Arguments, BadArgumentsGiveUsageAndNoAnswer) {
    const struct {
        const char* arguments;
        const char* reason;
    } cases[] = {
        {"", "-multimedia is required"},
        {"-multimedia -x", "unknown option \"-x\""},
        {"-multimedia -v", "-v needs a percentage"},
        {"-multimedia -v 4.5", "not a whole percentage: \"4.5\""},
        {"-multimedia -v abc", "not a whole percentage: \"abc\""},
        {"-multimedia -v \"\"", "not a whole percentage: \"\""},
    };
    for (const auto& c : cases) {
        const ToolRun run = RunTool(c.arguments);
        ASSERT_TRUE(run.finished) << c.arguments;
        EXPECT_EQ(run.exitCode, 2u) << c.arguments;
        EXPECT_EQ(run.out, "") << c.arguments;
        EXPECT_EQ(run.err.find(std::string("bin: ") + c.reason), 0u)
            << c.arguments << ": " << run.err;
        EXPECT_NE(run.err.find("usage: bin -multimedia"), std::string::npos) << run.err;
    }
}

TEST(BinExe_Arguments, HelpGoesToStdoutWithSuccess) {
    const ToolRun run = RunTool("/?");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.out.find("usage: bin -multimedia"), 0u) << run.out;
    EXPECT_EQ(run.out.find("master volume:"), std::string::npos);
    EXPECT_EQ(run.err, "");
}

TEST(BinExe_File, StaysSmall) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    ASSERT_TRUE(GetFileAttributesExA((testing_support::BuildBinDir() + "bin.exe").c_str(),
                                     GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeHigh, 0u);
    EXPECT_LT(data.nFileSizeLow, 100u * 1024) << "bytes";
}
