// Command line and output lines of the volume tool.
#include "voltool/VolumeArgs.h"

#include <cfloat>
#include <cstdio>
#include <cstring>

const char kUsage[] =
    "usage: bin -multimedia             print the volume of the loudest output\n"
    "       bin -multimedia -v N        lower every output above N percent to N\n"
    "                                   (N is clamped to 0-100; none is raised),\n"
    "                                   then print the loudest again\n"
    "       bin -multimedia -v N -exact set the default output to N, up or down,\n"
    "                                   and leave the others alone; then print it\n"
    "Every active output device is read: speakers, headsets, monitors and Bluetooth\n"
    "devices, default or not; unplugged and disabled ones are left out. No master\n"
    "volume reaches a program that amplifies its own sound past 100%, an\n"
    "exclusive-mode stream on a device without hardware volume, a Bluetooth headset\n"
    "whose own buttons work apart from Windows' volume (absolute volume off), or\n"
    "loudness equalisation and other enhancements.\n"
    "Exit code: 0 done; 1 no output could be read (no answer); 2 bad arguments;\n"
    "3 answered, but some output could not be read or lowered.\n";

namespace {

const char kTool[] = "bin";
// Longest piece of a bad argument quoted back; the rest only hides the reason.
const int kQuotedArgMax = 40;
const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

VolumeArgs Invalid(const char* reason, const char* argument = nullptr) {
    VolumeArgs args;
    if (argument) {
        snprintf(args.error.text, sizeof args.error.text, "%s: %s \"%.*s\"", kTool, reason,
                 kQuotedArgMax, argument);
    } else {
        snprintf(args.error.text, sizeof args.error.text, "%s: %s", kTool, reason);
    }
    return args;
}

bool IsHelp(const char* arg) {
    return !strcmp(arg, "-h") || !strcmp(arg, "-?") || !strcmp(arg, "/?") || !strcmp(arg, "--help");
}

}  // namespace

bool ParsePercent(const char* text, int* percent) {
    const char* p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (!*p) return false;
    // Saturate instead of overflowing: any number past 100 means 100, and the
    // limiter hands over whatever it read from its settings file.
    int magnitude = 0;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        if (magnitude <= 100) magnitude = magnitude * 10 + (*p - '0');
    }
    if (negative) {
        *percent = 0;
    } else {
        *percent = magnitude > 100 ? 100 : magnitude;
    }
    return true;
}

VolumeArgs ParseVolumeArgs(int argc, const char* const argv[]) {
    bool multimedia = false;
    bool set = false;
    bool exact = false;
    int percent = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (IsHelp(arg)) {
            VolumeArgs args;
            args.command = VolumeCommand::Help;
            return args;
        }
        if (!strcmp(arg, "-multimedia")) {
            multimedia = true;
        } else if (!strcmp(arg, "-v")) {
            if (set) return Invalid("-v given twice");
            // The value may itself start with '-': a negative limit is legal.
            if (i + 1 >= argc) return Invalid("-v needs a percentage");
            if (!ParsePercent(argv[++i], &percent)) {
                return Invalid("not a whole percentage:", argv[i]);
            }
            set = true;
        } else if (!strcmp(arg, "-exact")) {
            exact = true;
        } else {
            return Invalid("unknown option", arg);
        }
    }
    if (!multimedia) return Invalid("-multimedia is required");
    if (exact && !set) return Invalid("-exact needs -v N");
    VolumeArgs args;
    args.command = exact ? VolumeCommand::SetDefault
                   : set ? VolumeCommand::Set
                         : VolumeCommand::Query;
    args.percent = percent;
    return args;
}

int PercentFromScalar(float scalar) {
    // Halves round up: the limiter holds a ceiling, so a level halfway
    // between two percentages counts as the higher one. A float misses an
    // exact half by up to half a unit in the last place (0.005f is
    // 0.00499999989), which below 1 is at most FLT_EPSILON / 4; the
    // allowance, twice that in percent, lets such a level round as the half
    // it stands for and no level that is really below a half.
    const double kHalfAllowance = 100.0 * FLT_EPSILON / 2;
    if (!(scalar > 0.0f)) return 0;  // also NaN
    if (scalar >= 1.0f) return 100;
    return static_cast<int>(static_cast<double>(scalar) * 100.0 + 0.5 + kHalfAllowance);
}

TextLine FormatAnswer(float scalar, MuteState mute) {
    static const char* const kMuteText[] = {"no", "yes", "unknown"};
    const int percent = PercentFromScalar(scalar);
    TextLine line;
    snprintf(line.text, sizeof line.text, "master volume: %d.%02d. muted: %s", percent / 100,
             percent % 100, kMuteText[static_cast<int>(mute)]);
    return line;
}

TextLine FormatFailure(const char* action, HRESULT hr) {
    TextLine line;
    const unsigned long code = static_cast<unsigned long>(hr);
    if (hr == kNotFound) {
        snprintf(line.text, sizeof line.text,
                 "%s: cannot %s: there is no audio output device (HRESULT 0x%08lX)", kTool, action,
                 code);
    } else {
        snprintf(line.text, sizeof line.text, "%s: cannot %s (HRESULT 0x%08lX)", kTool, action,
                 code);
    }
    return line;
}
