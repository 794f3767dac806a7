// A stand-in audio device for the tests: copied as mmdevapi.dll beside the
// real bin.exe, it serves the device enumerator with output endpoints whose
// states and volumes live in files beside the DLL, so that every process
// sees the same devices, as on a real machine (Wine's own device keeps no
// volume). Endpoint 1 is the speakers of a one-device machine:
//   devices.txt         each endpoint's state, from 1 on: "active",
//                       "disabled", "notpresent" or "unplugged" ("active
//                       unplugged active"). Missing: one active endpoint.
//   device-default.txt  the default endpoint of each role (console,
//                       multimedia, communications): "2", or "1 2 1". Not
//                       active: no default. Missing: 1.
//   device-level.txt    endpoint 1's scalar level ("0.62"); 1 when missing.
//                       A set writes it.
//   device-muted.txt    "1": muted; anything else or missing: not muted.
//   device-mode.txt     optional: "refuse-set" (a set is refused),
//                       "unreadable", "mute-fails" (the mute query fails).
//   device<N>-*.txt     the same three for endpoint N from 2 on.
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

const int kMaxEndpoints = 8;

// The endpoints' states, from devices.txt; the number of endpoints.
int EndpointStates(DWORD states[kMaxEndpoints]) {
    char text[256];
    if (!ReadLine(L"devices.txt", text, sizeof text)) strcpy(text, "active");
    int count = 0;
    for (char* word = strtok(text, " "); word && count < kMaxEndpoints;
         word = strtok(nullptr, " ")) {
        states[count++] = !strcmp(word, "active")      ? DEVICE_STATE_ACTIVE
                          : !strcmp(word, "disabled")  ? DEVICE_STATE_DISABLED
                          : !strcmp(word, "unplugged") ? DEVICE_STATE_UNPLUGGED
                                                       : DEVICE_STATE_NOTPRESENT;
    }
    return count;
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
    // "device-level.txt" for endpoint 1, "device3-level.txt" for endpoint 3.
    void Name(int endpoint) {
        const wchar_t* number = endpoint == 1 ? L"" : (_itow(endpoint, m_number, 10), m_number);
        _snwprintf(m_level, 32, L"device%ls-level.txt", number);
        _snwprintf(m_muted, 32, L"device%ls-muted.txt", number);
        _snwprintf(m_mode, 32, L"device%ls-mode.txt", number);
    }
    bool ModeIs(const char* mode) {
        char text[64];
        return ReadLine(m_mode, text, sizeof text) && strcmp(text, mode) == 0;
    }

    STDMETHODIMP GetMasterVolumeLevelScalar(float* level) override {
        if (!level) return E_POINTER;
        if (ModeIs("unreadable")) return E_FAIL;
        char text[64];
        *level = ReadLine(m_level, text, sizeof text) ? strtof(text, nullptr) : 1.0f;
        return S_OK;
    }
    STDMETHODIMP SetMasterVolumeLevelScalar(float level, LPCGUID) override {
        if (ModeIs("refuse-set")) return E_ACCESSDENIED;
        if (!(level >= 0.0f && level <= 1.0f)) return E_INVALIDARG;
        wchar_t path[MAX_PATH * 4];
        FilePath(m_level, path, sizeof path / sizeof path[0]);
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
        *muted = ReadLine(m_muted, text, sizeof text) && strcmp(text, "1") == 0;
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

private:
    wchar_t m_number[8], m_level[32], m_muted[32], m_mode[32];
} g_volumes[kMaxEndpoints + 1];  // by endpoint number; 0 unused

class Device : public Singleton<IMMDevice> {
public:
    int endpoint = 0;

    STDMETHODIMP Activate(REFIID iid, DWORD, PROPVARIANT*, void** object) override {
        if (!object) return E_POINTER;
        return g_volumes[endpoint].QueryInterface(iid, object);
    }
    STDMETHODIMP GetId(LPWSTR* id) override {
        if (!id) return E_POINTER;
        *id = static_cast<LPWSTR>(CoTaskMemAlloc(64 * sizeof(wchar_t)));
        if (!*id) return E_OUTOFMEMORY;
        _snwprintf(*id, 64, L"{0.0.0.00000000}.{stand-in %d}", endpoint);
        return S_OK;
    }
    STDMETHODIMP GetState(DWORD*) override { return E_NOTIMPL; }
    STDMETHODIMP OpenPropertyStore(DWORD, IPropertyStore**) override { return E_NOTIMPL; }
} g_devices[kMaxEndpoints + 1];

// The endpoints of the last enumeration: bin.exe lists them once and uses
// that one list.
class Collection : public Singleton<IMMDeviceCollection> {
public:
    int endpoints[kMaxEndpoints];
    UINT count = 0;

    STDMETHODIMP GetCount(UINT* result) override {
        if (!result) return E_POINTER;
        *result = count;
        return S_OK;
    }
    STDMETHODIMP Item(UINT index, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        if (index >= count) return E_INVALIDARG;
        *device = &g_devices[endpoints[index]];
        return S_OK;
    }
} g_collection;

class Enumerator : public Singleton<IMMDeviceEnumerator> {
public:
    STDMETHODIMP GetDefaultAudioEndpoint(EDataFlow flow, ERole role, IMMDevice** device) override {
        if (!device) return E_POINTER;
        *device = nullptr;
        const HRESULT kNotFound = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        if (flow != eRender || role < eConsole || role > eCommunications) return kNotFound;
        int defaults[3] = {1, 0, 0};
        char text[64];
        if (ReadLine(L"device-default.txt", text, sizeof text)) {
            sscanf(text, "%d %d %d", &defaults[0], &defaults[1], &defaults[2]);
        }
        const int endpoint = defaults[role] ? defaults[role] : defaults[0];
        DWORD states[kMaxEndpoints];
        if (endpoint < 1 || endpoint > EndpointStates(states) ||
            states[endpoint - 1] != DEVICE_STATE_ACTIVE) {
            return kNotFound;
        }
        *device = &g_devices[endpoint];
        return S_OK;
    }
    STDMETHODIMP EnumAudioEndpoints(EDataFlow flow, DWORD mask,
                                    IMMDeviceCollection** result) override {
        if (!result) return E_POINTER;
        DWORD states[kMaxEndpoints];
        const int endpoints = flow == eCapture ? 0 : EndpointStates(states);
        g_collection.count = 0;
        for (int i = 0; i < endpoints; ++i) {
            if (states[i] & mask) g_collection.endpoints[g_collection.count++] = i + 1;
        }
        *result = &g_collection;
        return S_OK;
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
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        for (int i = 1; i <= kMaxEndpoints; ++i) g_devices[i].endpoint = i, g_volumes[i].Name(i);
    }
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
