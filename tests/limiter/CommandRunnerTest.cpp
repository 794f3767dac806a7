// The command runner through the real interpreter.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "limiter/CommandRunner.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

ULONGLONG Elapsed(ULONGLONG start) { return GetTickCount64() - start; }

// Puts the fake tool into dir, set to mode; the command that runs it.
CString FakeTool(const TempDir& dir, const char* mode) {
    EXPECT_TRUE(CopyBuildProgram("fakevol.exe", dir / "bin.exe"));
    EXPECT_TRUE(WriteFile(dir / "fake-mode.txt", mode));
    return CString("\"") + (dir / "bin.exe").c_str() + "\" -multimedia";
}

TEST(CommandRunner_RunCommand, ReturnsOneLineWithoutItsLineBreak) {
    const ULONGLONG start = GetTickCount64();
    EXPECT_STREQ(RunCommand("echo hello & echo.   "), "hello");
    const ULONGLONG took = Elapsed(start);
    RecordProperty("echo_ms", static_cast<int>(took));
    EXPECT_GE(took, 450u) << "the runner pauses between looks at the pipe";
    EXPECT_LT(took, 5000u);
}

TEST(CommandRunner_RunCommand, ASilentCommandYieldsNothingAfterHalfASecond) {
    const ULONGLONG start = GetTickCount64();
    EXPECT_STREQ(RunCommand("rem"), "");
    EXPECT_GE(Elapsed(start), 450u);
    EXPECT_LT(Elapsed(start), 5000u);
}

TEST(CommandRunner_RunCommand, ErrorsOfTheCommandAreCaptured) {
    EXPECT_STRNE(RunCommand("\"C:\\no such dir\\bin.exe\" -multimedia"), "");
}

TEST(CommandRunner_RunCommand, OutputLongerThanOneReadIsAppended) {
    TempDir dir("flood");
    const CString output = RunCommand(FakeTool(dir, "flood 20000"));
    EXPECT_GT(output.GetLength(), 20000);
    EXPECT_EQ(output.Find("master volume: 1.00. muted: no"), output.GetLength() - 30);
}

TEST(CommandRunner_RunCommand, AMegabyteIsCappedAndDrainedWithoutBlockingTheChild) {
    TempDir dir("megabyte");
    const CString command = FakeTool(dir, "flood 1048576");
    const ULONGLONG start = GetTickCount64();
    const CString output = RunCommand(command, 8000);
    EXPECT_LT(Elapsed(start), 7500u) << "the child was not drained and ran into the time-out";
    EXPECT_EQ(output.GetLength(), kMaxOutput);
}

// Also without a job of its own, as where nested jobs are missing (before
// Windows 8) and the program itself runs in one.
TEST(CommandRunner_RunCommand, AHangingCommandIsEndedWithEverythingItStarted) {
    for (const bool inJob : {true, false}) {
        SCOPED_TRACE(inJob ? "in a job" : "without a job");
        TempDir dir("hang");
        const CString command = FakeTool(dir, "hang");
        const ULONGLONG start = GetTickCount64();
        const CString output = RunCommand(command, 1500, inJob);
        EXPECT_GE(Elapsed(start), 1400u);
        EXPECT_LT(Elapsed(start), 4000u);
        EXPECT_STREQ(output, "");
        // The tool, a grandchild of ours, is gone too (termination may lag a little).
        EXPECT_TRUE(WaitFor([&] { return ProcessesRunning(dir / L"bin.exe").empty(); }, 3000));
        // And the next query is answered as usual.
        ASSERT_TRUE(WriteFile(dir / "fake-mode.txt", ""));
        const ULONGLONG next = GetTickCount64();
        EXPECT_STREQ(RunCommand(command, kCommandTimeout, inJob), "master volume: 1.00. muted: no");
        EXPECT_LT(Elapsed(next), 4000u);
    }
}

// Whatever this process holds that a child could inherit (here an event
// made for it, and under Wine our own standard handles), the tool gets only
// its standard handles: the pipe and an input of its own. Our input, a pipe
// nobody writes to, would hang a tool that reads it.
TEST(CommandRunner_RunCommand, NothingButTheOutputPipeReachesTheTool) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE bait = CreateEventA(&inherit, TRUE, FALSE, nullptr);
    HANDLE silent = nullptr, unwritten = nullptr, ownInput = GetStdHandle(STD_INPUT_HANDLE);
    ASSERT_TRUE(bait && CreatePipe(&silent, &unwritten, &inherit, 0));
    SetStdHandle(STD_INPUT_HANDLE, silent);
    TempDir dir("handles");
    const CString output = RunCommand(FakeTool(dir, "handles"));
    SetStdHandle(STD_INPUT_HANDLE, ownInput);
    EXPECT_STREQ(output, ("inherited: input: " + std::to_string(FILE_TYPE_CHAR)).c_str());
    for (HANDLE handle : {bait, silent, unwritten}) CloseHandle(handle);
}

TEST(CommandRunner_RunCommand, EndlessOutputStillEndsAtTheTimeOut) {
    const ULONGLONG start = GetTickCount64();
    const CString output = RunCommand("for /L %i in (0,0,1) do @echo endless", 2000);
    EXPECT_LT(Elapsed(start), 5000u);
    EXPECT_EQ(output.Find("endless"), 0);
}

TEST(CommandRunner_RunCommand, ACommandTooLongForTheBufferIsRefused) {
    // Fits exactly with "echo " after the prefix and the quotes around it.
    const std::string longest(kCommandLineSize - 1 - BuildCommandLine("").GetLength() - 5, 'x');
    EXPECT_EQ(BuildCommandLine(("echo " + longest).c_str()).GetLength(), kCommandLineSize - 1);
    const std::string tooLong = "echo " + longest + "y";
    EXPECT_STREQ(BuildCommandLine(tooLong.c_str()), "");
    const ULONGLONG start = GetTickCount64();
    EXPECT_STREQ(RunCommand(tooLong.c_str()), "");
    EXPECT_LT(Elapsed(start), 100u) << "nothing should have been started";
}

TEST(CommandRunner_RunCommand, LeavesNoHandleBehind) {
    RunCommand("echo warm up");  // the first run loads what stays loaded
    const int before = CountOwnHandles();
    ASSERT_GT(before, 0) << "the handle table could not be read";
    for (int run = 0; run < 10; ++run) RunCommand("echo run");
    const int after = CountOwnHandles();
    RecordProperty("handles_before", before);
    RecordProperty("handles_after", after);
    EXPECT_EQ(after, before);
}

}  // namespace
