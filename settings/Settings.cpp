// The settings file and the path helpers.
#include "settings/Settings.h"

#include <windows.h>

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <mbstring.h>

#include "framework/App.h"
#include "settings/LimiterState.h"

namespace {

const char kSection[] = "user";
const char kIniName[] = "config.ini";
const char kToolName[] = "bin.exe";
const DWORD kValueBufferSize = 500;
// A save takes milliseconds; a holder slower than this is stuck, and our
// write goes ahead rather than be lost.
const DWORD kLockWaitMs = 5000;

// Windows' profile functions take a UTF-8 byte-order mark for part of the
// first line: a "[user]" behind it is not found, every value reads as
// missing, and the next write appends a second section. Editors add the mark
// when a user edits the file (the guide tells them how to drop a forgotten
// password), so its three bytes become an empty comment line of the same
// length. Nothing moves and the length stays: a write cut short or a power
// cut leaves the mark or the comment, never a half-shifted file. A UTF-16
// file, which the profile functions do read, starts otherwise and is kept.
void DropUtf8Mark(const char* iniPath) {
    char head[3] = {};
    DWORD count = 0;
    {
        // Looked at first without write access, so that an unmarked file
        // (nearly always) is never opened for writing.
        UniqueHandle reader(CreateFileA(iniPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        if (!reader || !ReadFile(reader.get(), head, sizeof head, &count, nullptr) ||
            count != sizeof head || memcmp(head, "\xEF\xBB\xBF", sizeof head) != 0) {
            return;
        }
    }
    UniqueHandle file(CreateFileA(iniPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return;
    // Checked again under this handle: the file may have changed between.
    if (!ReadFile(file.get(), head, sizeof head, &count, nullptr) || count != sizeof head ||
        memcmp(head, "\xEF\xBB\xBF", sizeof head) != 0) {
        return;
    }
    const char comment[] = ";\r\n";
    static_assert(sizeof comment - 1 == sizeof head, "the comment takes the mark's place exactly");
    OVERLAPPED atStart = {};
    DWORD written = 0;
    WriteFile(file.get(), comment, sizeof head, &written, &atStart);
}

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

CString AppDirFor(const std::wstring& modulePath) {
    bool lossless = false;
    const CString path = NarrowFromWide(modulePath.c_str(), kSystemCodePage, &lossless);
    if (lossless) return AppDirOf(path);
    // The ANSI form has '?' for every character the code page lacks, and
    // names a folder that does not exist. The short name of the folder is
    // plain ASCII wherever the volume keeps short names.
    const size_t slash = modulePath.find_last_of(L"\\/");
    if (slash == std::wstring::npos) return CString();
    const std::wstring dir = modulePath.substr(0, slash + 1);
    std::vector<wchar_t> shortDir(dir.size() + 1);
    DWORD length = GetShortPathNameW(dir.c_str(), shortDir.data(), shortDir.size());
    if (length >= shortDir.size()) {
        shortDir.resize(length);
        length = GetShortPathNameW(dir.c_str(), shortDir.data(), shortDir.size());
    }
    if (length == 0 || length >= shortDir.size()) return CString();
    const CString shortPath = NarrowFromWide(shortDir.data(), kSystemCodePage, &lossless);
    return lossless ? shortPath : CString();
}

CString GetAppDir() { return AppDirFor(GetModulePath()); }

bool FileExists(const char* path) {
    UniqueHandle file(
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    return static_cast<bool>(file);
}

CString ReadSetting(const char* key) {
    const CString dir = GetAppDir();
    // A bare file name would be looked for in the Windows folder.
    if (dir.IsEmpty()) return CString();
    return ReadSettingFrom(dir + kIniName, key);
}

bool WriteSetting(const char* key, const char* value) {
    const CString& iniPath = State().iniPath;
    if (iniPath.IsEmpty()) return false;
    const SettingsFileLock lock(iniPath);
    return WritePrivateProfileStringA(kSection, key, value, iniPath) != FALSE;
}

SettingsFileLock::SettingsFileLock(const char* iniPath) {
    // Mutex names take no backslashes: the file is named by a hash of its
    // upper-cased path, so that two spellings of one path meet.
    std::string path(iniPath);
    if (!path.empty()) CharUpperBuffA(&path[0], static_cast<DWORD>(path.size()));
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
    CString name;
    name.Format("Local\\Morvane.settings.%08lx%08lx", static_cast<unsigned long>(hash >> 32),
                static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    m_mutex.reset(CreateMutexA(nullptr, FALSE, name));
    // Without the lock the write still happens, as it did before locking.
    if (!m_mutex) return;
    const DWORD wait = WaitForSingleObject(m_mutex.get(), kLockWaitMs);
    // An abandoned lock is ours: its holder ended, perhaps in mid-write, and
    // our write puts a whole file back.
    m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
}

SettingsFileLock::~SettingsFileLock() {
    if (m_held) ReleaseMutex(m_mutex.get());
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
    const SettingsFileLock lock(state.iniPath);
    DropUtf8Mark(state.iniPath);
    state.password = ReadSettingFrom(state.iniPath, "p1");
    const CString isLock = ReadSettingFrom(state.iniPath, "isLock");
    Store(state.lock, _mbscmp(reinterpret_cast<const unsigned char*>(isLock.c_str()),
                              reinterpret_cast<const unsigned char*>("1")) == 0
                          ? 1
                          : 0);
    Store(state.limit, ParseVolume(ReadSettingFrom(state.iniPath, "vol")));
    state.toolPath = appDir + kToolName;
}

bool LoadSettings() {
    const CString dir = GetAppDir();
    if (dir.IsEmpty()) return false;
    LoadSettingsFrom(dir);
    return true;
}

bool SaveSettings() {
    const LimiterState& state = State();
    // Before the settings were loaded there is nothing to save, and no file
    // to save it in.
    if (state.iniPath.IsEmpty()) return true;
    // One hold for both keys, so that no other copy's save falls between.
    const SettingsFileLock lock(state.iniPath);
    const bool limitSaved = WriteSetting("vol", IntToStr(Load(state.limit)));
    const bool lockSaved = WriteSetting("isLock", Load(state.lock) ? "1" : "0");
    return limitSaved && lockSaved;
}
