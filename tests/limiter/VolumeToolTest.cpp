// The volume tool's answer and command lines, and the round trip through
// the real interpreter to the fake tool or the real one.
#include <gtest/gtest.h>
#include <windows.h>

#include <climits>
#include <cstdio>

#include "limiter/CommandRunner.h"
#include "limiter/VolumeTool.h"
#include "settings/LimiterState.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

TEST(VolumeTool_ExtractBetween, TakesTheTextAfterTheFirstStartUpToTheNextEnd) {
    struct Case {
        const char* text;
        const char* start;
        const char* end;
        const char* expected;
    } cases[] = {
        {"master volume: 0.62. muted: no", "master volume:", ". ", " 0.62"},
        {"a master volume:0.1. x master volume:0.9. y", "master volume:", ". ", "0.1"},
        {"master volume:. muted", "master volume:", ". ", ""},
        {"master volume: 0.62.", "master volume:", ". ", ""},  // trimmed: no ". " left
        {"volume: 0.62. x", "master volume:", ". ", ""},
        {". before master volume: 7. after", "master volume:", ". ", " 7"},
        {"key=value", "key=", "", "value"},
        {"\xC4\xE3master volume: 0.5. x", "master volume:", ". ", " 0.5"},
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(ExtractBetween(c.text, c.start, c.end), c.expected) << c.text;
    }
}

TEST(VolumeTool_VolumeFromText, EveryTwoDecimalTextGivesItsOwnHundredths) {
    for (int hundredths = 0; hundredths <= 100; ++hundredths) {
        char text[16];
        snprintf(text, sizeof text, "%d.%02d", hundredths / 100, hundredths % 100);
        EXPECT_EQ(VolumeFromText(text), hundredths) << text;
        snprintf(text, sizeof text, " %d.%02d", hundredths / 100, hundredths % 100);
        EXPECT_EQ(VolumeFromText(text), hundredths) << "'" << text << "'";
    }
}

TEST(VolumeTool_VolumeFromText, LongerTextsTruncateAndNonNumbersGiveZero) {
    struct Case {
        const char* text;
        int32_t percent;
    } cases[] = {
        {"0.999", 99}, {"0.35", 35},       {"1.0", 100},        {"1", 100}, {"0", 0},
        {"0.005", 0},  {"0.2899", 28},     {"abc", 0},          {"", 0},    {"0.5abc", 50},
        {"-0.5", -50}, {"1e300", INT_MAX}, {"-1e300", INT_MIN},
    };
    for (const Case& c : cases) EXPECT_EQ(VolumeFromText(c.text), c.percent) << c.text;
}

TEST(VolumeTool_Commands, QuoteTheToolPathAndKeepTheInterpreterPrefix) {
    EXPECT_STREQ(BuildQueryCommand("D:\\bin.exe"), "\"D:\\bin.exe\" -multimedia");
    EXPECT_STREQ(BuildSetCommand("D:\\bin.exe", 40), "\"D:\\bin.exe\" -multimedia -v 40");
    EXPECT_STREQ(BuildSetCommand("C:\\R&D\\bin.exe", -5), "\"C:\\R&D\\bin.exe\" -multimedia -v -5");
    EXPECT_STREQ(BuildCommandLine(BuildSetCommand("D:\\bin.exe", 40)),
                 "Cmd.exe /D /C \"\"D:\\bin.exe\" -multimedia -v 40\"");
}

// A folder holding the fake tool as bin.exe, named as the caller likes.
class FakeTool : public ::testing::Test {
protected:
    explicit FakeTool(const char* folder = "vol tool") : dir(folder) {}
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(CopyBuildProgram("fakevol.exe", dir / "bin.exe"));
        State().toolPath = (dir / "bin.exe").c_str();
    }
    void TearDown() override { State().toolPath = ""; }
    void Answer(const std::string& value) {
        ASSERT_TRUE(WriteFile(dir / "fake-volume.txt", value));
    }
    void Mode(const std::string& mode) { ASSERT_TRUE(WriteFile(dir / "fake-mode.txt", mode)); }
    TempDir dir;
};

TEST_F(FakeTool, QueryReadsTheReportedVolume) {
    Answer("0.29");
    EXPECT_EQ(GetMasterVolume(), 29);
    Answer("garbage");
    EXPECT_EQ(GetMasterVolume(), 0);
    Mode("silent");
    EXPECT_EQ(GetMasterVolume(), -1);
}

TEST_F(FakeTool, RawAnswersFollowTheMarkers) {
    Mode("raw");
    struct Case {
        const char* output;
        int32_t percent;
    } cases[] = {
        {"master volume: 0.62.\r\n", -1},  // number printed last: no ". " after trimming
        {"master volume: 0.10. master volume: 0.90. x", 10},
        {"master volume:. x", -1},
        {"error: no device", -1},
        {"master volume: 0.57. muted: yes", 57},
    };
    for (const Case& c : cases) {
        Answer(c.output);
        EXPECT_EQ(GetMasterVolume(), c.percent) << c.output;
    }
}

TEST_F(FakeTool, SetSendsTheIntegerPercentage) {
    EXPECT_EQ(SetMasterVolume(40), 40);  // what the tool answers
    EXPECT_EQ(ReadFile(dir / "fake-volume.txt"), "0.40");
    EXPECT_EQ(GetMasterVolume(), 40);
    const std::string log = ReadFile(dir / "fake-log.txt");
    EXPECT_NE(log.find("bin.exe\" -multimedia -v 40"), std::string::npos) << log;
}

TEST_F(FakeTool, AMissingToolReadsAsUnknown) {
    ASSERT_TRUE(DeleteFileA((dir / "bin.exe").c_str()));
    EXPECT_EQ(GetMasterVolume(), -1);
}

// The real tool with the stand-in device, from a folder the interpreter
// would split at the space, the '&' or the parentheses.
class RealToolInAwkwardFolder : public FakeTool {
protected:
    RealToolInAwkwardFolder() : FakeTool("R&D dir(1) x") {}
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        ASSERT_TRUE(InstallRealTool(dir.wpath(), "0.33"));
        State().toolPath = (dir / "bin.exe").c_str();
    }
};

TEST_F(RealToolInAwkwardFolder, PathsWithSpacesAmpersandsAndParenthesesWork) {
    EXPECT_EQ(GetMasterVolume(), 33);
    EXPECT_EQ(SetMasterVolume(12), 12);
    EXPECT_FLOAT_EQ(DeviceLevel(dir.wpath()), 0.12f);
    EXPECT_EQ(GetMasterVolume(), 12);
    // A refused set answers what the device still holds, above the ceiling.
    ASSERT_TRUE(WriteFile(dir / "device-mode.txt", "refuse-set"));
    EXPECT_EQ(SetMasterVolume(5), 12);
}

}  // namespace
