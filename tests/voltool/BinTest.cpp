// The real bin.exe, run as the limiter runs it, against the stand-in audio
// device (tests/support/standin-device.cpp): Wine's own endpoint volume is a
// stub that keeps no volume.
#include <gtest/gtest.h>
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <thread>

#include "framework/Handles.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

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

ToolRun RunTool(const std::string& arguments,
                const std::string& folder = testing_support::BuildBinDir()) {
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
    std::string command = "\"" + folder + "bin.exe\"";
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

// A folder holding the real tool beside the stand-in device at 0.62.
class BinExe : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(InstallRealTool(dir.wpath(), "0.62"));
    }
    ToolRun Run(const std::string& arguments) { return RunTool(arguments, dir.path()); }
    void Device(const char* file, const std::string& text) {
        ASSERT_TRUE(WriteFile(dir / file, text));
    }
    TempDir dir{"bin tool"};
};

std::string Answer(int percent, const char* muted = "no") {
    char line[64];
    snprintf(line, sizeof line, "master volume: %d.%02d. muted: %s\r\n", percent / 100,
             percent % 100, muted);
    return line;
}

}  // namespace

TEST_F(BinExe, QueryReportsTheStoredLevelAndMuteState) {
    const struct {
        const char *level, *muted, *mode;
        std::string out;
    } cases[] = {
        {"0.62", "0", "", Answer(62)},
        {"0", "1", "", Answer(0, "yes")},
        {"0.005", "", "", Answer(1)},  // the half rounds up
        {"1", "1", "mute-fails", Answer(100, "unknown")},
    };
    for (const auto& c : cases) {
        Device("device-level.txt", c.level);
        Device("device-muted.txt", c.muted);
        Device("device-mode.txt", c.mode);
        const ToolRun run = Run("-multimedia");
        ASSERT_TRUE(run.finished) << c.level;
        EXPECT_EQ(run.exitCode, 0u) << c.level;
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, "") << c.level;
    }
}

TEST_F(BinExe, EverySetPercentReadsBackTheSameInANewProcess) {
    // Two devices, a thread each: most of a run is Wine starting a process.
    TempDir other("bin tool");
    ASSERT_TRUE(InstallRealTool(other.wpath(), "0.62"));
    const std::string folders[] = {dir.path(), other.path()};
    struct {
        ToolRun set, query;
        float level;
    } runs[101];
    // Downwards from full volume: a set lowers, and never raises.
    ASSERT_TRUE(SetDeviceLevel(dir.wpath(), "1") && SetDeviceLevel(other.wpath(), "1"));
    auto runEvery = [&](int first) {
        for (int percent = 100 - first; percent >= 0; percent -= 2) {
            const std::string& folder = folders[first];
            runs[percent].set = RunTool("-multimedia -v " + std::to_string(percent), folder);
            runs[percent].query = RunTool("-multimedia", folder);
            runs[percent].level = DeviceLevel(Wide(folder));
        }
    };
    std::thread odd(runEvery, 1);
    runEvery(0);
    odd.join();
    for (int percent = 0; percent <= 100; ++percent) {
        EXPECT_EQ(runs[percent].set.exitCode, 0u) << percent << ": " << runs[percent].set.err;
        EXPECT_EQ(runs[percent].set.out, Answer(percent));
        EXPECT_EQ(runs[percent].query.out, Answer(percent));
        EXPECT_FLOAT_EQ(runs[percent].level, percent / 100.0f) << percent;
    }
}

TEST_F(BinExe, AnswersWithTheLoudestActiveOutputAndLowersWithoutRaising) {
    // The speakers at 0.20; a muted headset at 0.90; an unplugged output at
    // full volume; a monitor at full volume, unreadable at first; a TV at
    // 0.70, the default for music and video.
    Device("devices.txt", "active active unplugged active active");
    Device("device-default.txt", "1 5 1");
    Device("device-level.txt", "0.20");
    Device("device2-level.txt", "0.90");
    Device("device2-muted.txt", "1");
    Device("device3-level.txt", "1");
    Device("device4-level.txt", "1");
    Device("device5-level.txt", "0.70");
    const std::string kUnreadable =
        "bin: cannot read the volume of output {0.0.0.00000000}.{stand-in 4} (HRESULT "
        "0x80004005)\r\n";
    const std::string kBoth =
        "bin: cannot lower the volume of output {0.0.0.00000000}.{stand-in 2} (HRESULT "
        "0x80070005)\r\n" +
        kUnreadable;
    const char *const kNo = "unreadable", *const kRefuse = "refuse-set";
    const struct {
        const char *arguments, *headsetMode, *monitorMode;
        DWORD exitCode;
        int levels[5];  // percent
        std::string out, err;
    } cases[] = {
        {"-multimedia", "", kNo, 3, {20, 90, 100, 100, 70}, Answer(90, "yes"), kUnreadable},
        // One output refusing keeps no other from being lowered, and the
        // answer shows it still above.
        {"-multimedia -v 60", kRefuse, kNo, 3, {20, 90, 100, 100, 60}, Answer(90, "yes"), kBoth},
        {"-multimedia -v 60", "", kNo, 3, {20, 60, 100, 100, 60}, Answer(60, "yes"), kUnreadable},
        {"-multimedia -v 65 -exact", "", "", 0, {20, 60, 100, 100, 65}, Answer(65), ""},
        {"-multimedia -v 40", "", "", 0, {20, 40, 100, 40, 40}, Answer(40, "yes"), ""},
    };
    for (const auto& c : cases) {
        Device("device2-mode.txt", c.headsetMode);
        Device("device4-mode.txt", c.monitorMode);
        const ToolRun run = Run(c.arguments);
        ASSERT_TRUE(run.finished) << c.arguments;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments;
        EXPECT_EQ(run.out, c.out) << c.arguments;
        EXPECT_EQ(run.err, c.err) << c.arguments;
        for (int output = 1; output <= 5; ++output) {
            EXPECT_FLOAT_EQ(DeviceLevel(dir.wpath(), output), c.levels[output - 1] / 100.0f)
                << c.arguments << ", output " << output;
        }
    }
}

TEST_F(BinExe, FailuresSayWhyOnStderrOnlyAndLeaveTheLevelAlone) {
    const char kNoDevice[] =
        "bin: cannot find an active audio output device: there is no audio output device "
        "(HRESULT 0x80070490)\r\n";
    const struct {
        const char *devices, *mode, *arguments;
        std::string err;
    } cases[] = {
        {"unplugged disabled", "", "-multimedia", kNoDevice},
        {"unplugged disabled", "", "-multimedia -v 10", kNoDevice},
        {"active", "unreadable", "-multimedia -v 10",
         "bin: cannot read the volume of output {0.0.0.00000000}.{stand-in 1} (HRESULT "
         "0x80004005)\r\nbin: no audio output device could be read\r\n"},
        {"active", "refuse-set", "-multimedia -v 70 -exact",
         "bin: cannot set the volume of the default output (HRESULT 0x80070005)\r\n"},
    };
    for (const auto& c : cases) {
        Device("devices.txt", c.devices);
        Device("device-mode.txt", c.mode);
        const ToolRun run = Run(c.arguments);
        ASSERT_TRUE(run.finished) << c.mode;
        EXPECT_EQ(run.exitCode, 1u) << c.mode;
        EXPECT_EQ(run.out, "") << c.mode;
        EXPECT_EQ(run.err, c.err);
        EXPECT_FLOAT_EQ(DeviceLevel(dir.wpath()), 0.62f) << c.mode;
    }
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
