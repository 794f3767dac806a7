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
#include "framework/Security.h"
#include "settings/LimiterState.h"

namespace {

const char kSection[] = "user";
const char kIniName[] = "config.ini";
const char kToolName[] = "bin.exe";
const DWORD kValueBufferSize = 500;
// A save takes milliseconds; a holder slower than this is stuck, and our
// write goes ahead rather than be lost.
const DWORD kLockWaitMs = 5000;
const DWORD kLockRetryMs = 100;
// All that waiting on the lock and releasing it needs.
const DWORD kLockRights = SYNCHRONIZE | MUTEX_MODIFY_STATE;
// Whoever makes the lock first, any account, elevated or not, it stays one
// that every other copy may wait on and release; its owner cannot take that
// back either. Made as the process starts, as the file view below is.
KernelObjectSecurity* const g_lockSecurity =
    new KernelObjectSecurity{{WinWorldSid, kLockRights | READ_CONTROL},
                             {WinCreatorOwnerRightsSid, kLockRights | READ_CONTROL}};
// A virus scanner or a sync client may hold the file at sign-in; its
// defaults would switch the lock off, so the start waits this long for it.
const ULONGLONG kUnreadableWaitMs = 10000;
const DWORD kUnreadableRetryMs = 250;
const char kUtf8Mark[] = "\xEF\xBB\xBF";
const DWORD kUtf8MarkSize = sizeof kUtf8Mark - 1;

// Windows' profile functions take a UTF-8 byte-order mark for part of the
// first line: a "[user]" behind it is not found, every value reads as
// missing, and the next write appends a second section. Editors add the mark
// when a user edits the file (the guide tells them how to drop a forgotten
// password), so its three bytes become an empty comment line of the same
// length. Nothing moves and the length stays: a write cut short or a power
// cut leaves the mark or the comment, never a half-shifted file. A UTF-16
// file, which the profile functions do read, starts otherwise and is kept.
// True when the file keeps its mark: it cannot be written (under Program
// Files, for a standard account).
bool KeepsUtf8Mark(const char* iniPath) {
    char head[kUtf8MarkSize] = {};
    DWORD count = 0;
    {
        // Looked at first without write access, so that an unmarked file
        // (nearly always) is never opened for writing.
        UniqueHandle reader(CreateFileA(iniPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
        if (!reader || !ReadFile(reader.get(), head, sizeof head, &count, nullptr) ||
            count != sizeof head || memcmp(head, kUtf8Mark, sizeof head) != 0) {
            return false;
        }
    }
    UniqueHandle file(CreateFileA(iniPath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, 0, nullptr));
    if (!file) return true;
    // Checked again under this handle: the file may have changed between.
    if (!ReadFile(file.get(), head, sizeof head, &count, nullptr) || count != sizeof head ||
        memcmp(head, kUtf8Mark, sizeof head) != 0) {
        return false;
    }
    const char comment[] = ";\r\n";
    static_assert(sizeof comment - 1 == sizeof head, "the comment takes the mark's place exactly");
    OVERLAPPED atStart = {};
    DWORD written = 0;
    return !WriteFile(file.get(), comment, sizeof head, &written, &atStart) ||
           written != sizeof head;
}

// path for the ANSI functions, in its short (8.3) form where the code page
// cannot spell it: plain ASCII wherever the volume keeps short names. ""
// when neither works.
CString AnsiPathOf(const std::wstring& path) {
    bool lossless = false;
    const CString narrow = NarrowFromWide(path.c_str(), kSystemCodePage, &lossless);
    if (lossless) return narrow;
    std::vector<wchar_t> shortPath(path.size() + 1);
    DWORD length = GetShortPathNameW(path.c_str(), shortPath.data(), shortPath.size());
    if (length >= shortPath.size()) {
        shortPath.resize(length);
        length = GetShortPathNameW(path.c_str(), shortPath.data(), shortPath.size());
    }
    if (length == 0 || length >= shortPath.size()) return CString();
    const CString shortNarrow = NarrowFromWide(shortPath.data(), kSystemCodePage, &lossless);
    return lossless ? shortNarrow : CString();
}

// A marked file that cannot be rewritten is read through a copy without its
// mark, in the user's temporary folder, which the profile functions then
// read as they would the file. The copy goes with this object; path() is ""
// when none could be made (or iniPath is null).
class UnmarkedCopy {
public:
    explicit UnmarkedCopy(const char* iniPath);
    ~UnmarkedCopy();
    UnmarkedCopy(const UnmarkedCopy&) = delete;
    UnmarkedCopy& operator=(const UnmarkedCopy&) = delete;
    const CString& path() const { return m_path; }

private:
    std::wstring m_copy;  // the file made, whatever became of it
    CString m_path;
};

UnmarkedCopy::UnmarkedCopy(const char* iniPath) {
    if (!iniPath) return;
    std::string text;
    {
        UniqueHandle file(CreateFileA(iniPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
        if (!file) return;
        char chunk[4096];
        DWORD count = 0;
        BOOL read = FALSE;
        while ((read = ReadFile(file.get(), chunk, sizeof chunk, &count, nullptr)) && count > 0) {
            text.append(chunk, count);
        }
        if (!read || text.compare(0, kUtf8MarkSize, kUtf8Mark) != 0) return;
    }
    wchar_t folder[MAX_PATH + 1] = L"";
    wchar_t name[MAX_PATH] = L"";
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    // A folder the ANSI functions cannot reach would take a copy at every look.
    if (length == 0 || length > MAX_PATH || AnsiPathOf(folder).IsEmpty() ||
        !GetTempFileNameW(folder, L"mvn", 0, name)) {
        return;
    }
    m_copy = name;  // made, empty: removed from here on, whatever fails
    {
        UniqueHandle copy(CreateFileW(name, GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_TEMPORARY, nullptr));
        const DWORD size = static_cast<DWORD>(text.size() - kUtf8MarkSize);
        DWORD written = 0;
        if (!copy || !WriteFile(copy.get(), text.data() + kUtf8MarkSize, size, &written, nullptr) ||
            written != size) {
            return;
        }
    }
    m_path = AnsiPathOf(m_copy);
}

UnmarkedCopy::~UnmarkedCopy() {
    if (m_copy.empty()) return;
    // A virus scanner may look at the new file for a moment, sharing no
    // removal.
    for (int attempt = 0; !DeleteFileW(m_copy.c_str()) && attempt < 20; ++attempt) Sleep(50);
}

CString ReadSettingFrom(const char* iniPath, const char* key) {
    char buffer[kValueBufferSize];
    memset(buffer, 0, sizeof buffer);
    GetPrivateProfileStringA(kSection, key, "", buffer, kValueBufferSize, iniPath);
    return CString(buffer);
}

// The settings as the file holds them, unconverted, so that a value this
// copy wrote compares equal to what it reads back.
struct FileValues {
    CString vol, isLock, p1;
};

FileValues ReadValuesFrom(const char* iniPath) {
    return {ReadSettingFrom(iniPath, "vol"), ReadSettingFrom(iniPath, "isLock"),
            ReadSettingFrom(iniPath, "p1")};
}

int32_t LockFrom(const CString& isLock) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(isLock.c_str()),
                   reinterpret_cast<const unsigned char*>("1")) == 0
               ? 1
               : 0;
}

// When the file was last written, and its size. On FAT drives the time goes
// in steps of two seconds, so two writes of one size within a step leave the
// same stamp: a stamp younger than this is looked at again.
struct FileStamp {
    ULONGLONG written = 0;  // 100 ns units
    ULONGLONG size = 0;
    bool operator==(const FileStamp& other) const {
        return written == other.written && size == other.size;
    }
};
const ULONGLONG kStampSettlesAfter = 3 * 10000000ull;

bool StampOf(const char* path, FileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return false;
    }
    stamp->written = (static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                     data.ftLastWriteTime.dwLowDateTime;
    stamp->size = (static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool Settled(const FileStamp& stamp) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const ULONGLONG current =
        (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return current > stamp.written && current - stamp.written > kStampSettlesAfter;
}

// What this copy last read from or wrote to the file, and which of its own
// changes it could not write. User interface thread only.
struct FileView {
    FileValues values;
    unsigned unwritten = 0;
    // stamp is the file's as last read, and old enough to be trusted.
    bool settled = false;
    FileStamp stamp;
};

// Made as the process starts, as State() is: a local static would take the
// runtime's guarded initialisation and its exception machinery with it.
FileView* const g_view = new FileView;
FileView& View() { return *g_view; }

CString* KnownValue(FileValues& values, const char* key) {
    if (strcmp(key, "vol") == 0) return &values.vol;
    if (strcmp(key, "isLock") == 0) return &values.isLock;
    if (strcmp(key, "p1") == 0) return &values.p1;
    return nullptr;
}

enum class FileRead { kUnreadable, kNoSection, kRead };

// Reads the file under its lock into values and stamp. Nothing is read from
// a file that cannot be read now, or has no section user.
FileRead ReadWholeFile(const char* iniPath, FileValues* values, FileStamp* stamp) {
    const SettingsFileLock lock(iniPath);
    const bool marked = KeepsUtf8Mark(iniPath);
    // Held open while it is read, without sharing its removal, so that it is
    // neither replaced nor locked by another program in between; a file that
    // cannot be opened now is held by one.
    const UniqueHandle hold(CreateFileA(iniPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, 0, nullptr));
    // Stamped before it is read: a write in between is read again next time.
    if (!hold || !StampOf(iniPath, stamp)) return FileRead::kUnreadable;
    const UnmarkedCopy copy(marked ? iniPath : nullptr);
    const char* const readPath = marked ? copy.path().c_str() : iniPath;
    if (*readPath == '\0') return FileRead::kUnreadable;
    // A file without the section is being written or was emptied; its
    // defaults would switch the lock off.
    char keys[16] = "";
    if (GetPrivateProfileStringA(kSection, nullptr, "", keys, sizeof keys, readPath) == 0) {
        return FileRead::kNoSection;
    }
    *values = ReadValuesFrom(readPath);
    return FileRead::kRead;
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
    return AnsiPathOf(modulePath.substr(0, slash + 1));
}

CString GetAppDir() { return AppDirFor(GetModulePath()); }

CString SettingsPathText(bool folderOnly) {
    const CString& path = State().iniPath;
    return NarrowFromWide(
        WideFromNarrow(folderOnly ? AppDirOf(path) : path, kSystemCodePage).c_str());
}

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

bool WriteSetting(const char* key, const char* value, bool* denied) {
    if (denied) *denied = false;
    const CString& iniPath = State().iniPath;
    if (iniPath.IsEmpty()) return false;
    const SettingsFileLock lock(iniPath);
    if (!WritePrivateProfileStringA(kSection, key, value, iniPath)) {
        if (denied) *denied = GetLastError() == ERROR_ACCESS_DENIED;
        return false;
    }
    if (CString* known = KnownValue(View().values, key)) *known = value;
    return true;
}

CString SettingsLockName(const char* iniPath) {
    // Mutex names take no backslashes: the file is named by a hash of its
    // upper-cased path, so that two spellings of one path meet. Global, so
    // that copies in other sessions (another account signed in, a remote
    // desktop) meet there too.
    std::string path(iniPath);
    if (!path.empty()) CharUpperBuffA(&path[0], static_cast<DWORD>(path.size()));
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : path) hash = (hash ^ c) * 1099511628211ull;
    CString name;
    name.Format("Global\\Morvane.settings.%08lx%08lx", static_cast<unsigned long>(hash >> 32),
                static_cast<unsigned long>(hash & 0xFFFFFFFFu));
    return name;
}

SettingsFileLock::SettingsFileLock(const char* iniPath) {
    const CString name = SettingsLockName(iniPath);
    const DWORD deadline = GetTickCount() + kLockWaitMs;
    // A copy refused the lock waits as for a held one; without it after
    // that, the write still happens, as it did before locking.
    for (;;) {
        m_mutex.reset(CreateMutexExA(g_lockSecurity->attributes(), name, 0, kLockRights));
        if (m_mutex || GetLastError() != ERROR_ACCESS_DENIED) break;
        if (static_cast<LONG>(GetTickCount() - deadline) >= 0) return;
        Sleep(kLockRetryMs);
    }
    if (!m_mutex) return;
    const LONG left = static_cast<LONG>(deadline - GetTickCount());
    const DWORD wait = WaitForSingleObject(m_mutex.get(), left > 0 ? left : 0);
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

bool LoadSettingsFrom(const CString& appDir) {
    LimiterState& state = State();
    state.iniPath = appDir + kIniName;
    FileView& view = View();
    view = FileView();
    FileStamp stamp;
    const FileRead read = ReadWholeFile(state.iniPath, &view.values, &stamp);
    // An unread file is left unstamped, so that the next look reads it
    // whatever its stamp.
    if (read != FileRead::kUnreadable) {
        view.stamp = stamp;
        view.settled = Settled(stamp);
    }
    state.password = view.values.p1;
    Store(state.lock, LockFrom(view.values.isLock));
    Store(state.limit, ParseVolume(view.values.vol));
    state.toolPath = appDir + kToolName;
    // A missing file (or a folder in its place) holds every default.
    return read != FileRead::kUnreadable || !StampOf(state.iniPath, &stamp);
}

SettingsLoad LoadSettings() {
    const CString dir = GetAppDir();
    if (dir.IsEmpty()) return SettingsLoad::kUnusableFolder;
    const ULONGLONG start = GetTickCount64();
    while (!LoadSettingsFrom(dir)) {
        if (GetTickCount64() - start >= kUnreadableWaitMs) return SettingsLoad::kUnreadable;
        Sleep(kUnreadableRetryMs);
    }
    return SettingsLoad::kRead;
}

bool SaveSettings(unsigned keys, bool* denied) {
    if (denied) *denied = false;
    const LimiterState& state = State();
    // Before the settings were loaded there is nothing to save, and no file
    // to save it in.
    if (state.iniPath.IsEmpty()) return true;
    FileView& view = View();
    keys = (keys | view.unwritten) & (kSettingLimit | kSettingLock);
    // One hold for both keys, so that no other copy's save falls between.
    const SettingsFileLock lock(state.iniPath);
    bool limitDenied = false, lockDenied = false;
    if ((keys & kSettingLimit) && WriteSetting("vol", IntToStr(Load(state.limit)), &limitDenied)) {
        keys &= ~kSettingLimit;
    }
    if ((keys & kSettingLock) &&
        WriteSetting("isLock", Load(state.lock) ? "1" : "0", &lockDenied)) {
        keys &= ~kSettingLock;
    }
    if (denied) *denied = limitDenied || lockDenied;
    view.unwritten = keys;
    return keys == 0;
}

bool SaveUnwrittenSettings() { return SaveSettings(0); }

unsigned TakeSettingsChanges() {
    LimiterState& state = State();
    FileView& view = View();
    FileStamp stamp;
    if (state.iniPath.IsEmpty() || !StampOf(state.iniPath, &stamp) ||
        (view.settled && stamp == view.stamp)) {
        return 0;
    }
    FileValues values;
    const FileRead read = ReadWholeFile(state.iniPath, &values, &stamp);
    if (read == FileRead::kUnreadable) return 0;
    view.settled = Settled(stamp);
    view.stamp = stamp;
    if (read == FileRead::kNoSection) return 0;

    unsigned taken = 0;
    if (values.vol != view.values.vol) {
        Store(state.limit, ParseVolume(values.vol));
        taken |= kSettingLimit;
    }
    if (values.isLock != view.values.isLock) {
        Store(state.lock, LockFrom(values.isLock));
        taken |= kSettingLock;
    }
    if (values.p1 != view.values.p1) {
        state.password = values.p1;
        taken |= kSettingPassword;
    }
    view.values = values;
    view.unwritten &= ~taken;
    return taken;
}
