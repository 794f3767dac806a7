// The volume tool's command line and its printed lines, kept free of the
// audio system so that every rule can be tested without a sound device.
#pragma once

#include <windows.h>

// One line of output, built in place: the tool stays free of heap strings.
struct TextLine {
    char text[256];
};

// Set lowers every output above the percentage; SetDefault ("-exact") sets
// the default output to it, up or down, for someone using the tool by hand.
enum class VolumeCommand { Query, Set, SetDefault, Help, Invalid };

struct VolumeArgs {
    VolumeCommand command = VolumeCommand::Invalid;
    int percent = 0;   // for the sets: already clamped to 0-100
    TextLine error{};  // for Invalid: what was wrong, without the usage text
};

enum class MuteState { No, Yes, Unknown };

extern const char kUsage[];

// Reads "-multimedia", "-multimedia -v N" and "-multimedia -v N -exact"
// (options in any order); "-h", "-?", "/?" and "--help" ask for the usage
// text.
VolumeArgs ParseVolumeArgs(int argc, const char* const argv[]);

// A whole number in decimal with an optional sign, clamped to 0-100; false
// for anything else (empty, fractions, trailing text, spaces, hex).
bool ParsePercent(const char* text, int* percent);

// The percentage a scalar level stands for, to the nearest whole percent.
int PercentFromScalar(float scalar);

// "master volume: 0.62. muted: no": the value is the level in hundredths,
// followed by ". " and more text, which is what the limiter looks for.
TextLine FormatAnswer(float scalar, MuteState mute);

// "bin: cannot <action>: <reason> (HRESULT 0x80070490)".
TextLine FormatFailure(const char* action, HRESULT hr);
