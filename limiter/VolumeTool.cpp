// The volume tool's command lines and answer.
#include "limiter/VolumeTool.h"

#include <cmath>
#include <cstdlib>

#include "limiter/CommandRunner.h"
#include "settings/LimiterState.h"

namespace {
const char kVolumeMarker[] = "master volume:";
const char kValueEnd[] = ". ";
// How close to a whole number a product must be to count as that number.
// A two-decimal text is off by a few units in the last place after the
// multiplication; a text with more decimals is off by far more.
const double kWholeTolerance = 1e-7;

// The tool's exit status when some output could not be read or lowered.
const DWORD kExitOutputMissed = 3;

// The command is the tool's own command line too, its path quoted first.
CString RunTool(const CString& command, bool* outputMissed) {
    const LimiterState& state = State();
    DWORD status = kNoExitStatus;
    const CString output = state.commandPromptBarred
                               ? RunProgram(state.toolPath, command, kCommandTimeout, true, &status)
                               : RunCommand(command, kCommandTimeout, true, &status);
    if (outputMissed) *outputMissed = status == kExitOutputMissed;
    return output;
}

// A set is answered in the shape of a query.
int32_t VolumeFromAnswer(const CString& output) {
    const CString value = ExtractBetween(output, kVolumeMarker, kValueEnd);
    if (value.IsEmpty()) return -1;
    return VolumeFromText(value);
}
}  // namespace

CString ExtractBetween(const CString& text, const char* startMarker, const char* endMarker) {
    const int start = text.Find(startMarker);
    if (start < 0) return CString();
    const int pos = start + static_cast<int>(strlen(startMarker));
    if (!*endMarker) return text.Mid(pos);
    const int end = text.Find(endMarker, pos);
    if (end < 0) return CString();
    return text.Mid(pos, end - pos);
}

int32_t VolumeFromText(const CString& value) {
    const double product = atof(value) * 100.0;
    if (std::isnan(product)) return 0;
    const double nearest = std::round(product);
    const double percent =
        std::fabs(product - nearest) < kWholeTolerance ? nearest : std::trunc(product);
    if (percent >= 2147483647.0) return INT32_MAX;
    if (percent <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(percent);
}

CString BuildQueryCommand(const CString& toolPath) {
    return CString("\"") + toolPath + "\" -multimedia";
}

CString BuildSetCommand(const CString& toolPath, int32_t percent) {
    CString command;
    command.Format("\"%s\" -multimedia -v %d", toolPath.c_str(), static_cast<int>(percent));
    return command;
}

int32_t GetMasterVolume(bool* outputMissed) {
    return VolumeFromAnswer(RunTool(BuildQueryCommand(State().toolPath), outputMissed));
}

int32_t SetMasterVolume(int32_t percent, bool* outputMissed) {
    return VolumeFromAnswer(RunTool(BuildSetCommand(State().toolPath, percent), outputMissed));
}
