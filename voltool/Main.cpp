// bin.exe: reads or sets the master volume of the default output device for
// the multimedia role through Core Audio, and prints it in the one-line shape
// the limiter reads. Failures go to stderr with a non-zero exit code and
// never print that shape, so a caller can only mistake them for "unknown".
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <cstdio>

#include "framework/Handles.h"
#include "voltool/VolumeArgs.h"

namespace {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

// The headers declare the class but not its identifier.
const CLSID kClsidDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

int Fail(const char* action, HRESULT hr) {
    fprintf(stderr, "%s\n", FormatFailure(action, hr).text);
    return kExitFailed;
}

int PrintVolume(IAudioEndpointVolume* volume) {
    float level = 0.0f;
    const HRESULT hr = volume->GetMasterVolumeLevelScalar(&level);
    if (FAILED(hr)) return Fail("read the master volume", hr);
    // The mute state is extra information; a device that cannot report it
    // still has a volume worth answering with.
    BOOL muted = FALSE;
    const MuteState mute = FAILED(volume->GetMute(&muted)) ? MuteState::Unknown
                           : muted                         ? MuteState::Yes
                                                           : MuteState::No;
    // A caller that got no answer must not be told it did.
    if (printf("%s\n", FormatAnswer(level, mute).text) < 0 || fflush(stdout) != 0) {
        fputs("bin: cannot write the answer\n", stderr);
        return kExitFailed;
    }
    return kExitOk;
}

// Runs inside a COM scope; every interface is released before it ends.
int Run(const VolumeArgs& args) {
    ComPtr<IMMDeviceEnumerator> enumerator;
    HRESULT hr = CoCreateInstance(kClsidDeviceEnumerator, nullptr, CLSCTX_ALL,
                                  __uuidof(IMMDeviceEnumerator), enumerator.put_void());
    if (FAILED(hr)) return Fail("create the audio device enumerator", hr);

    ComPtr<IMMDevice> device;
    hr = enumerator->GetDefaultAudioEndpoint(eRender, eMultimedia, device.put());
    if (FAILED(hr)) return Fail("open the default audio output device", hr);

    ComPtr<IAudioEndpointVolume> volume;
    hr = device->Activate(__uuidof(IAudioEndpointVolume), CLSCTX_ALL, nullptr, volume.put_void());
    if (FAILED(hr)) return Fail("open the device's volume control", hr);

    if (args.command == VolumeCommand::Set) {
        hr = volume->SetMasterVolumeLevelScalar(args.percent / 100.0f, nullptr);
        if (FAILED(hr)) return Fail("set the master volume", hr);
    }
    // After a set, print what the device now holds, not what was asked for.
    return PrintVolume(volume.get());
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
