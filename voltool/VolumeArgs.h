// The volume tool's command line and its printed lines, kept free of the
// audio system so that every rule can be tested without a sound device.
#pragma once

#include <windows.h>

// One line of output, built in place: the tool stays free of heap strings.
struct TextLine {
    char text[256];
};

enum class VolumeCommand { Query, Set, Help, Invalid };

struct VolumeArgs {
    VolumeCommand command = VolumeCommand::Invalid;
    int percent = 0;   // for Set: already clamped to 0-100
    TextLine error{};  // for Invalid: what was wrong, without the usage text
};

enum class MuteState { No, Yes, Unknown };

extern const char kUsage[];

// Reads "-multimedia" and "-multimedia -v N" (options in any order); "-h",
// "-?", "/?" and "--help" ask for the usage text.
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
