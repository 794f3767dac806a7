// The settings file ("config.ini" beside the executable, section "user") and
// the small file and path helpers around it.
#pragma once

#include <cstdint>
#include <string>

#include "framework/Handles.h"
#include "framework/String.h"

// The directory of the running executable with its trailing separator, in
// the form the system's ANSI functions take; "" when it cannot be named so.
CString GetAppDir();
// The same for a given module path: its directory, or, when the system's
// ANSI code page cannot spell the path, the directory's short (8.3) path,
// which is plain ASCII; "" when that cannot be spelt either.
CString AppDirFor(const std::wstring& modulePath);
// The directory part of modulePath (drive and directory, trailing separator).
CString AppDirOf(const char* modulePath);

// True when path names a file that can be opened for reading.
bool FileExists(const char* path);

// The value of key in section "user" of the settings file beside the
// executable; "" when the file or key is missing.
CString ReadSetting(const char* key);
// Writes key=value in section "user" of State().iniPath, under the file's
// lock; false when the file cannot be written, and then *denied, when given,
// tells whether the system refused it for lack of rights (a folder such as
// Program Files, to a program not run as administrator). A written "vol",
// "isLock" or "p1" is one that TakeSettingsChanges does not take for
// another's change.
bool WriteSetting(const char* key, const char* value, bool* denied = nullptr);
// The settings file's path, or with folderOnly its folder, spelt in the code
// page of the program's messages, for telling which file or folder failed.
CString SettingsPathText(bool folderOnly);

// Every copy of the program in one folder writes the one settings file, and
// each write rewrites it whole: a copy reading while another writes would
// see a cut file and write that back. This lock, named after the file's
// path, is held around each write and each load; a holder that does not let
// go within a few seconds is not waited for, so no save is ever lost to it.
// The lock's name for the file at iniPath, in the global namespace.
CString SettingsLockName(const char* iniPath);
class SettingsFileLock {
public:
    explicit SettingsFileLock(const char* iniPath);
    ~SettingsFileLock();
    SettingsFileLock(const SettingsFileLock&) = delete;
    SettingsFileLock& operator=(const SettingsFileLock&) = delete;
    bool held() const { return m_held; }

private:
    UniqueHandle m_mutex;
    bool m_held = false;
};

CString IntToStr(int n);

// Reads "vol" the way atoi does (leading white space, optional sign,
// digits), but saturates at the 32-bit limits instead of overflowing.
int32_t ParseVolume(const char* text);

// The settings a copy changes and takes from the file, as bits.
enum SettingKeys : unsigned {
    kSettingLimit = 1u << 0,     // "vol"
    kSettingLock = 1u << 1,      // "isLock"
    kSettingPassword = 1u << 2,  // "p1"
};

enum class SettingsLoad {
    kRead,  // from the file, or every default where there is none
    // Nothing filled: the executable's folder cannot be named for the ANSI
    // functions.
    kUnusableFolder,
    // The file exists but could not be read within the wait: every default
    // holds until TakeSettingsChanges first reads it.
    kUnreadable,
};
// Fills iniPath, password, lock, limit and toolPath of State() from the
// settings file beside the executable. A file that exists but cannot be
// read (another program holds it) is tried again for up to ten seconds.
SettingsLoad LoadSettings();
// The same, once, for an application directory given by the caller; false
// when the file exists but could not be read.
bool LoadSettingsFrom(const CString& appDir);
// Writes the given settings of State() ("vol", then "isLock"), and with them
// any this copy changed earlier and could not write; nothing before a load.
// False when any is left unwritten: it still holds in this copy, and goes
// with the next save; *denied as WriteSetting's, for any of them.
bool SaveSettings(unsigned keys = kSettingLimit | kSettingLock, bool* denied = nullptr);
// Writes only what this copy changed and could not write yet (at exit and
// at the end of the session): whatever else it holds may be older than what
// another copy wrote since. True when nothing is left unwritten.
bool SaveUnwrittenSettings();
// Several copies share the file: takes into State() each setting that the
// file holds otherwise than this copy last read or wrote it, and drops an
// unwritten change of this copy's to a setting so taken, which is newer.
// Looks only when the file changed since the last look; a file that is
// missing, held by another program or has no section "user" is left for the
// next look, rather than read as every setting's default. The bits of the
// settings taken. User interface thread only.
unsigned TakeSettingsChanges();
