// bin.exe: reads the master volume of every active output device through
// Core Audio and answers with the loudest, in the one-line shape the limiter
// reads; a set lowers each output above the ceiling and raises none. A
// headset or a monitor that plays at its own volume is held as the default
// device is. Failures go to stderr; when no output could be read the tool
// exits non-zero without that shape, so a caller can only mistake it for
// "unknown".
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <cstdio>

#include "framework/Handles.h"
#include "voltool/VolumeArgs.h"

namespace {

// 3: an answer was printed, but some output could not be read or lowered,
// so the ceiling may not hold there.
enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2, kExitPartly = 3 };

// The headers declare the class but not its identifier.
const CLSID kClsidDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

int Fail(const char* action, HRESULT hr) {
    fprintf(stderr, "%s\n", FormatFailure(action, hr).text);
    return kExitFailed;
}

// Names the output by its endpoint id, the one name every Windows has for
// it; the failure of one output is a warning, not the tool's end.
void WarnAbout(IMMDevice* device, const char* action, HRESULT hr) {
    wchar_t* id = nullptr;
    TextLine what;
    if (SUCCEEDED(device->GetId(&id)) && id) {
        snprintf(what.text, sizeof what.text, "%s of output %ls", action, id);
    } else {
        snprintf(what.text, sizeof what.text, "%s of an output", action);
    }
    CoTaskMemFree(id);
    Fail(what.text, hr);
}

struct Reading {
    bool found = false;
    float level = 0.0f;
    MuteState mute = MuteState::Unknown;
};

// The mute state is extra information; a device that cannot report it
// still has a volume worth answering with.
MuteState MuteOf(IAudioEndpointVolume* volume) {
    BOOL muted = FALSE;
    if (FAILED(volume->GetMute(&muted))) return MuteState::Unknown;
    return muted ? MuteState::Yes : MuteState::No;
}

int PrintAnswer(const Reading& reading) {
    // A caller that got no answer must not be told it did.
    if (printf("%s\n", FormatAnswer(reading.level, reading.mute).text) < 0 || fflush(stdout) != 0) {
        fputs("bin: cannot write the answer\n", stderr);
        return kExitFailed;
    }
    return kExitOk;
}

// Reads one output, first lowering it to ceiling when it is above (ceiling
// below 0: a query). What it holds afterwards joins loudest; false when the
// output could not be read or lowered.
bool HoldOutput(IMMDevice* device, float ceiling, Reading* loudest) {
    ComPtr<IAudioEndpointVolume> volume;
    HRESULT hr =
        device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, volume.put_void());
    if (FAILED(hr)) {
        WarnAbout(device, "open the volume control", hr);
        return false;
    }
    float level = 0.0f;
    hr = volume->GetMasterVolumeLevelScalar(&level);
    if (FAILED(hr)) {
        WarnAbout(device, "read the volume", hr);
        return false;
    }
    bool held = true;
    // Compared as the device holds it: a level that prints as the ceiling
    // but lies above it would otherwise round up into a correction that
    // never takes.
    if (level > ceiling && ceiling >= 0.0f) {
        hr = volume->SetMasterVolumeLevelScalar(ceiling, nullptr);
        if (FAILED(hr)) {
            WarnAbout(device, "lower the volume", hr);
            held = false;
        }
        // The answer is what the device now holds, not what was asked for.
        if (FAILED(volume->GetMasterVolumeLevelScalar(&level))) return false;
    }
    if (!loudest->found || level > loudest->level) {
        loudest->found = true;
        loudest->level = level;
        loudest->mute = MuteOf(volume.get());
    }
    return held;
}

// Every active output, held under the ceiling; no output raised.
int HoldEveryOutput(IMMDeviceEnumerator* enumerator, float ceiling) {
    // Unplugged, disabled and absent endpoints are left out by the state
    // mask: none of them plays anything, and one that comes back is active
    // at the next query.
    ComPtr<IMMDeviceCollection> outputs;
    HRESULT hr = enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, outputs.put());
    if (FAILED(hr)) return Fail("list the audio output devices", hr);
    UINT count = 0;
    hr = outputs->GetCount(&count);
    if (FAILED(hr)) return Fail("count the audio output devices", hr);
    if (count == 0)
        return Fail("find an active audio output device", HRESULT_FROM_WIN32(ERROR_NOT_FOUND));

    Reading loudest;
    bool everyOutputHeld = true;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IMMDevice> device;
        hr = outputs->Item(i, device.put());
        if (FAILED(hr)) {
            Fail("open an audio output device", hr);
            everyOutputHeld = false;
            continue;
        }
        everyOutputHeld &= HoldOutput(device.get(), ceiling, &loudest);
    }
    if (!loudest.found) {
        fputs("bin: no audio output device could be read\n", stderr);
        return kExitFailed;
    }
    const int printed = PrintAnswer(loudest);
    return printed != kExitOk || everyOutputHeld ? printed : kExitPartly;
}

// The default output for music and video set to exactly percent.
int SetDefaultOutput(IMMDeviceEnumerator* enumerator, int percent) {
    ComPtr<IMMDevice> device;
    HRESULT hr = enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put());
    if (FAILED(hr)) return Fail("open the default audio output device", hr);

    ComPtr<IAudioEndpointVolume> volume;
    hr = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, volume.put_void());
    if (FAILED(hr)) return Fail("open the device's volume control", hr);
    hr = volume->SetMasterVolumeLevelScalar(percent / 100.0f, nullptr);
    if (FAILED(hr)) return Fail("set the volume of the default output", hr);
    Reading reading;
    hr = volume->GetMasterVolumeLevelScalar(&reading.level);
    if (FAILED(hr)) return Fail("read the volume of the default output", hr);
    reading.mute = MuteOf(volume.get());
    return PrintAnswer(reading);
}

// Runs inside a COM scope; every interface is released before it ends.
int Run(const VolumeArgs& args) {
    ComPtr<IMMDeviceEnumerator> enumerator;
    const HRESULT hr = CoCreateInstance(kClsidDeviceEnumerator, nullptr, CLSCTX_ALL,
                                        __uuidof(IMMDeviceEnumerator), enumerator.put_void());
    if (FAILED(hr)) return Fail("create the audio device enumerator", hr);
    switch (args.command) {
        case VolumeCommand::SetDefault:
            return SetDefaultOutput(enumerator.get(), args.percent);
        case VolumeCommand::Set:
            return HoldEveryOutput(enumerator.get(), args.percent / 100.0f);
        default:
            return HoldEveryOutput(enumerator.get(), -1.0f);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const VolumeArgs args = ParseVolumeArgs(argc, argv);
    if (args.command == VolumeCommand::Help) {
        fputs(kUsage, stdout);
        return kExitOk;
    }
    if (args.command == VolumeCommand::Invalid) {
        fprintf(stderr, "%s\n%s", args.error.text, kUsage);
        return kExitUsage;
    }
    const ComInitScope com;
    if (FAILED(com.result())) return Fail("initialise COM", com.result());
    return Run(args);
}
