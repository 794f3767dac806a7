// A stand-in audio device for the tests: copied as mmdevapi.dll beside the
// real bin.exe, it serves the device enumerator with one output device whose
// volume lives in files beside the DLL, so that every process sees the same
// device, as on a real machine (Wine's own device keeps no volume):
//   device-level.txt  the scalar level ("0.62"); 1 when missing. A set
//                     writes it.
//   device-muted.txt  "1": muted; anything else or missing: not muted.
//   device-mode.txt   optional: "absent" (no output device), "refuse-set"
//                     (a set is refused), "mute-fails" (the mute query fails).
// Whatever bin.exe never asks for answers E_NOTIMPL. The objects are
// singletons that live as long as the DLL, which never unloads.
#include <windows.h>
#include <objbase.h>
#include <mmdeviceapi.h>
#include <endpointvolume.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const CLSID kClsidDeviceEnumerator = {
    0xBCDE0395, 0xE52F, 0x467C, {0x8E, 0x3D, 0xC4, 0x57, 0x92, 0x91, 0x69, 0x2E}};

HMODULE g_module = nullptr;

// path receives the folder of this DLL followed by name.
void FilePath(const wchar_t* name, wchar_t* path, DWORD size) {
    const DWORD length = GetModuleFileNameW(g_module, path, size);
    wchar_t* slash = length && length < size ? wcsrchr(path, L'\\') : nullptr;
    if (!slash || wcslen(name) >= size - static_cast<DWORD>(slash + 1 - path)) {
        path[0] = L'\0';
        return;
    }
    wcscpy(slash + 1, name);
}

// The file's first line, trimmed; false when there is none. A writer
// truncates before it writes: an empty file is read again a moment later.
bool ReadLine(const wchar_t* name, char* text, DWORD size) {
    wchar_t path[MAX_PATH * 4];
    FilePath(name, path, sizeof path / sizeof path[0]);
    for (int attempt = 0; attempt < 20; ++attempt, Sleep(5)) {
        HANDLE file =
            CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        DWORD read = 0;
        const BOOL ok = ::ReadFile(file, text, size - 1, &read, nullptr);
        CloseHandle(file);
        if (!ok) return false;
        text[read] = '\0';
        text[strcspn(text, "\r\n")] = '\0';
        if (text[0]) return true;
    }
    return false;
}

bool ModeIs(const char* mode) {
    char text[64];
    return ReadLine(L"device-mode.txt", text, sizeof text) && strcmp(text, mode) == 0;
}

// Generic COM plumbing for the singletons: one interface each, beside
// IUnknown.
template <class Interface>
class Singleton : public Interface {
public:
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        if (iid != IID_IUnknown && iid != __uuidof(Interface)) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<Interface*>(this);
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
};

class Volume : public Singleton<IAudioEndpointVolume> {
public:
    STDMETHODIMP GetMasterVolumeLevelScalar(float* level) override {
        if (!level) return E_POINTER;
        char text[64];
        *level = ReadLine(L"device-level.txt", text, sizeof text) ? strtof(text, nullptr) : 1.0f;
        return S_OK;
    }
    STDMETHODIMP SetMasterVolumeLevelScalar(float level, LPCGUID) override {
        if (ModeIs("refuse-set")) return E_ACCESSDENIED;
        if (!(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
        wchar_t path[MAX_PATH * 4];
        FilePath(L"device-level.txt", path, sizeof path / sizeof path[0]);
        char text[32];
        // Nine digits give back the very float that was set.
        const int length = snprintf(text, sizeof text, "%.9g\r\n", level);
        HANDLE file =
            CreateFileW(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, CREATE_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        DWORD written = 0;
        const BOOL ok = ::WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
        CloseHandle(file);
        return ok ? S_OK : E_FAIL;
    }
    STDMETHODIMP GetMute(BOOL* muted) override {
        if (!muted) return E_POINTER;
        if (ModeIs("mute-fails")) return E_FAIL;
        char text[8];
        *muted = ReadLine(L"device-muted.txt", text, sizeof text) && strcmp(text, "1") == 0;
        return S_OK;
    }

    STDMETHODIMP RegisterControlChangeNotify(IAudioEndpointVolumeCallback*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP UnregisterControlChangeNotify(IAudioEndpointVolumeCallback*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetChannelCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMasterVolumeLevel(float, LPCGUID) override { return E_NOTIMPL; }
    STDMETHODIMP GetMasterVolumeLevel(float*) override { return E_NOTIMPL; }
    STDMETHODIMP SetChannelVolumeLevel(UINT, float, LPCGUID) override { return E_NOTIMPL; }
    STDMETHODIMP SetChannelVolumeLevelScalar(UINT, float, LPCGUID) override { return E_NOTIMPL; }
    STDMETHODIMP GetChannelVolumeLevel(UINT, float*) override { return E_NOTIMPL; }
    STDMETHODIMP GetChannelVolumeLevelScalar(UINT, float*) override { return E_NOTIMPL; }
    STDMETHODIMP SetMute(BOOL, LPCGUID) override { return E_NOTIMPL; }
    STDMETHODIMP GetVolumeStepInfo(UINT*, UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP VolumeStepUp(LPCGUID) override { return E_NOTIMPL; }
    STDMETHODIMP VolumeStepDown(LPCGUID) override { return E_NOTIMPL; }
    STDMETHODIMP QueryHardwareSupport(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP GetVolumeRange(float*, float*, float*) override { return E_NOTIMPL; }
} g_volume;

class Device : public Singleton<IMMDevice> {
public:
    STDMETHODIMP Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        if (!object) return E_POINTER;
        return g_volume.QueryInterface(iid, object);
    }
    STDMETHODIMP OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
    STDMETHODIMP GetId(LPWSTR*) override { return E_NOTIMPL; }
    STDMETHODIMP GetState(DWORD*) override { return E_NOTIMPL; }
} g_device;

class Enumerator : public Singleton<IMMDeviceEnumerator> {
public:
    STDMETHODIMP GetDefaultAudioEndpoint(EDataFlow flow, ERole, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (flow != eRender || ModeIs("absent")) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        *device = &g_device;
        return S_OK;
    }
    STDMETHODIMP EnumAudioEndpoints(EDataFlow, DWORD, IMMDeviceCollection**) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDevice(LPCWSTR, IMMDevice**) override { return E_NOTIMPL; }
    STDMETHODIMP RegisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
    STDMETHODIMP UnregisterEndpointNotificationCallback(IMMNotificationClient*) override {
        return E_NOTIMPL;
    }
} g_enumerator;

class Factory : public Singleton<IClassFactory> {
public:
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        return g_enumerator.QueryInterface(iid, object);
    }
    STDMETHODIMP LockServer(BOOL) override { return S_OK; }
} g_factory;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) g_module = module;
    return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI
    DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (clsid != kClsidDeviceEnumerator) return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(iid, object);
}

// The singletons outlive every caller only if the DLL stays.
extern "C" __declspec(dllexport) HRESULT WINAPI DllCanUnloadNow() { return S_FALSE; }
