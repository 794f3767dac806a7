// The volume tool's command line and output lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "voltool/VolumeArgs.h"

namespace {

VolumeArgs Parse(std::vector<const char*> args) {
    args.insert(args.begin(), "bin.exe");
    return ParseVolumeArgs(static_cast<int>(args.size()), args.data());
}

std::string Error(const VolumeArgs& args) { return args.error.text; }

}  // namespace

TEST(VolumeArgs_ParsePercent, AcceptsWholeNumbersAndClampsThem) {
    const struct {
        const char* text;
        int percent;
    } cases[] = {
        {"0", 0},
        {"40", 40},
        {"+7", 7},
        {"007", 7},
        {"100", 100},
        {"101", 100},
        {"-1", 0},
        {"-40", 0},
        {"-0", 0},
        // Far past any integer type: saturates instead of wrapping to a
        // small or negative number.
        {"4294967336", 100},
        {"99999999999999999999999999", 100},
        {"-99999999999999999999999999", 0},
    };
    for (const auto& c : cases) {
        int percent = -123;
        EXPECT_TRUE(ParsePercent(c.text, &percent)) << c.text;
        EXPECT_EQ(percent, c.percent) << c.text;
    }
}

TEST(VolumeArgs_ParsePercent, RejectsAnythingButAWholeNumber) {
    const char* const cases[] = {"",   "-",   "+",    "4.5", "4x",   " 4",  "4 ",
                                 "x4", "0x1", "1e2",  "--4", "+-4",  "4-",  "50%",
                                 "\xA3\xB4" /* a full-width digit in code page 936 */};
    for (const char* text : cases) {
        int percent = -123;
        EXPECT_FALSE(ParsePercent(text, &percent)) << "'" << text << "'";
        EXPECT_EQ(percent, -123) << "'" << text << "' changed the result";
    }
}

TEST(VolumeArgs_ParseVolumeArgs, ReadsTheQueryAndTheSetLines) {
    const struct {
        std::vector<const char*> args;
        VolumeCommand command;
        int percent;
    } cases[] = {
        {{"-multimedia"}, VolumeCommand::Query, 0},
        {{"-multimedia", "-v", "40"}, VolumeCommand::Set, 40},
        {{"-multimedia", "-v", "0"}, VolumeCommand::Set, 0},
        {{"-v", "40", "-multimedia"}, VolumeCommand::Set, 40},
        {{"-exact", "-v", "30", "-multimedia"}, VolumeCommand::SetDefault, 30},
        {{"-multimedia", "-v", "-5"}, VolumeCommand::Set, 0},  // a negative limit
        {{"-multimedia", "-v", "250"}, VolumeCommand::Set, 100},
        {{"-multimedia", "-multimedia"}, VolumeCommand::Query, 0},
        {{"-h"}, VolumeCommand::Help, 0},
        {{"/?"}, VolumeCommand::Help, 0},
        {{"-multimedia", "-?"}, VolumeCommand::Help, 0},
        {{"--help", "-bogus"}, VolumeCommand::Help, 0},
    };
    for (const auto& c : cases) {
        const VolumeArgs args = Parse(c.args);
        const std::string line = ::testing::PrintToString(c.args);
        EXPECT_EQ(args.command, c.command) << line << ": " << Error(args);
        EXPECT_EQ(args.percent, c.percent) << line;
    }
}

TEST(VolumeArgs_ParseVolumeArgs, ExplainsWhatIsWrong) {
    const struct {
        std::vector<const char*> args;
        const char* reason;
    } cases[] = {
        {{}, "-multimedia is required"},
        {{"-v", "40"}, "-multimedia is required"},
        {{"-multimedia", "-v"}, "-v needs a percentage"},
        {{"-multimedia", "-v", "4.5"}, "not a whole percentage: \"4.5\""},
        {{"-multimedia", "-v", ""}, "not a whole percentage: \"\""},
        {{"-multimedia", "-v", "abc"}, "not a whole percentage: \"abc\""},
        {{"-multimedia", "-v", "1", "-v", "2"}, "-v given twice"},
        {{"-multimedia", "-exact"}, "-exact needs -v N"},
        {{"-multimedia", "-x"}, "unknown option \"-x\""},
        {{"-Multimedia"}, "unknown option \"-Multimedia\""},
        {{"-multimedia", "40"}, "unknown option \"40\""},
        {{"-multimedia", "-v40"}, "unknown option \"-v40\""},
    };
    for (const auto& c : cases) {
        const VolumeArgs args = Parse(c.args);
        const std::string line = ::testing::PrintToString(c.args);
        EXPECT_EQ(args.command, VolumeCommand::Invalid) << line;
        EXPECT_EQ(Error(args), std::string("bin: ") + c.reason) << line;
    }
}

TEST(VolumeArgs_ParseVolumeArgs, CutsALongBadArgumentShort) {
    const std::string longArg = "-" + std::string(1000, 'x');
    const VolumeArgs args = Parse({"-multimedia", longArg.c_str()});
    EXPECT_EQ(args.command, VolumeCommand::Invalid);
    EXPECT_EQ(Error(args), "bin: unknown option \"-" + std::string(39, 'x') + "\"");
}

TEST(VolumeArgs_FormatAnswer, PrintsHundredthsThenAFullStopAndMore) {
    const struct {
        float scalar;
        MuteState mute;
        const char* line;
    } cases[] = {
        {0.0f, MuteState::No, "master volume: 0.00. muted: no"},
        // Halfway between 0 and 1 percent counts as 1: see PercentFromScalar.
        {0.005f, MuteState::No, "master volume: 0.01. muted: no"},
        {0.0049f, MuteState::No, "master volume: 0.00. muted: no"},
        // ... but a level really below a half does not, however close.
        {0.004999f, MuteState::No, "master volume: 0.00. muted: no"},
        {0.284999f, MuteState::No, "master volume: 0.28. muted: no"},
        {0.285f, MuteState::No, "master volume: 0.29. muted: no"},  // 0.28499999642
        {0.62f, MuteState::Yes, "master volume: 0.62. muted: yes"},
        {0.625f, MuteState::No, "master volume: 0.63. muted: no"},
        {0.999f, MuteState::No, "master volume: 1.00. muted: no"},
        {1.0f, MuteState::Unknown, "master volume: 1.00. muted: unknown"},
        // A driver reporting outside the documented range still gives a
        // percentage the limiter can act on.
        {-0.5f, MuteState::No, "master volume: 0.00. muted: no"},
        {1.5f, MuteState::No, "master volume: 1.00. muted: no"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(FormatAnswer(c.scalar, c.mute).text, c.line) << c.scalar;
    }
}

TEST(VolumeArgs_PercentFromScalar, ReadsBackEveryPercentageThatWasSet) {
    // The tool sets N percent as the float N / 100 and prints what it reads
    // back: each of those must print as N again.
    for (int percent = 0; percent <= 100; ++percent) {
        EXPECT_EQ(PercentFromScalar(percent / 100.0f), percent);
        EXPECT_EQ(PercentFromScalar((percent + 0.5f) / 100.0f), percent < 100 ? percent + 1 : 100)
            << "half above " << percent;
    }
}

TEST(VolumeArgs_FormatFailure, NamesTheActionAndTheHresultInHex) {
    EXPECT_STREQ(
        FormatFailure("open the default audio output device", HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
            .text,
        "bin: cannot open the default audio output device: there is no audio output "
        "device (HRESULT 0x80070490)");
    EXPECT_STREQ(FormatFailure("set the master volume", E_NOTIMPL).text,
                 "bin: cannot set the master volume (HRESULT 0x80004001)");
    EXPECT_STREQ(FormatFailure("initialise COM", RPC_E_CHANGED_MODE).text,
                 "bin: cannot initialise COM (HRESULT 0x80010106)");
}
