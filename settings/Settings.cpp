// The settings file and the path helpers.
#include "settings/Settings.h"

#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <mbstring.h>

#include "framework/Handles.h"
#include "settings/LimiterState.h"

namespace {

const char kSection[] = "user";
const char kIniName[] = "config.ini";
const char kToolName[] = "bin.exe";
const DWORD kValueBufferSize = 500;
// The longest path the system's wide functions take, in bytes of code page
// 936 (two per character).
const size_t kMaxModulePath = 2 * 32768;

CString ReadSettingFrom(const char* iniPath, const char* key) {
    char buffer[kValueBufferSize];
    memset(buffer, 0, sizeof buffer);
    GetPrivateProfileStringA(kSection, key, "", buffer, kValueBufferSize, iniPath);
    return CString(buffer);
}

}  // namespace

CString AppDirOf(const char* modulePath) {
    // What _splitpath gives as drive and directory: everything up to the
    // last separator, or the drive alone. Done by hand because _splitpath
    // stops at _MAX_DIR bytes (or, in some runtimes, writes past them) and
    // takes a second byte 0x5C of a Chinese character for a separator.
    size_t end = 0;
    if (isalpha(static_cast<unsigned char>(modulePath[0])) && modulePath[1] == ':') end = 2;
    for (size_t i = 0; modulePath[i] != '\0'; ++i) {
        if (IsDBCSLeadByte(static_cast<BYTE>(modulePath[i])) && modulePath[i + 1] != '\0') {
            ++i;
        } else if (modulePath[i] == '\\' || modulePath[i] == '/') {
            end = i + 1;
        }
    }
    return CString(modulePath, static_cast<int>(end));
}

CString GetAppDir() {
    // Chinese folder names pass MAX_PATH bytes long before they pass the
    // MAX_PATH characters that the system itself allows, so a MAX_PATH byte
    // buffer would cut a path that works and the tool beside it would seem
    // missing. The buffer grows until the whole path fits; a path that
    // still does not fit comes back cut and ends in the missing-tool
    // message. Older systems leave a cut path without its NUL; Wine gives
    // nothing at all when the buffer is short.
    std::vector<char> path(MAX_PATH, '\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameA(nullptr, path.data(), size);
        if ((length != 0 && length < size - 1) || path.size() >= kMaxModulePath) break;
        path.assign(path.size() * 2, '\0');
    }
    path.back() = '\0';
    return AppDirOf(path.data());
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
