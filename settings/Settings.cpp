// The settings file and the path helpers.
#include "settings/Settings.h"

#include <windows.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <mbstring.h>

#include "framework/Handles.h"
#include "settings/LimiterState.h"

namespace {

const char kSection[] = "user";
const char kIniName[] = "config.ini";
const char kToolName[] = "bin.exe";
const DWORD kValueBufferSize = 500;

CString ReadSettingFrom(const char* iniPath, const char* key) {
    char buffer[kValueBufferSize];
    memset(buffer, 0, sizeof buffer);
    GetPrivateProfileStringA(kSection, key, "", buffer, kValueBufferSize, iniPath);
    return CString(buffer);
}

}  // namespace

CString AppDirOf(const char* modulePath) {
    char drive[_MAX_DRIVE] = "";
    char dir[_MAX_DIR] = "";
    _splitpath(modulePath, drive, dir, nullptr, nullptr);
    CString result;
    result.Format("%s%s", drive, dir);
    return result;
}

CString GetAppDir() {
    char path[MAX_PATH] = "";
    // A path longer than the buffer comes back cut and, on older systems,
    // without its NUL; the cut path then names no tool and the program says
    // so instead of reading past the buffer.
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    return AppDirOf(path);
}

bool FileExists(const char* path) {
    UniqueHandle file(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(file);
}

CString ReadSetting(const char* key) { return ReadSettingFrom(GetAppDir() + kIniName, key); }

void WriteSetting(const char* key, const char* value) {
    WritePrivateProfileStringA(kSection, key, value, State().iniPath);
}

CString IntToStr(int n) {
    CString text;
    text.Format("%d", n);
    return text;
}

int32_t ParseVolume(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > static_cast<int64_t>(INT32_MAX) + 1) break;  // saturated either way
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

void LoadSettingsFrom(const CString& appDir) {
    LimiterState& state = State();
    state.iniPath = appDir + kIniName;
    state.password = ReadSettingFrom(state.iniPath, "p1");
    const CString isLock = ReadSettingFrom(state.iniPath, "isLock");
    Store(state.lock, _mbscmp(reinterpret_cast<const unsigned char*>(isLock.c_str()),
                              reinterpret_cast<const unsigned char*>("1")) == 0
                          ? 1
                          : 0);
    Store(state.limit, ParseVolume(ReadSettingFrom(state.iniPath, "vol")));
    state.toolPath = appDir + kToolName;
}

void LoadSettings() { LoadSettingsFrom(GetAppDir()); }

void SaveSettings() {
    const LimiterState& state = State();
    WriteSetting("vol", IntToStr(Load(state.limit)));
    WriteSetting("isLock", Load(state.lock) ? "1" : "0");
}
