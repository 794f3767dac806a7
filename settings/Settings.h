// The settings file ("config.ini" beside the executable, section "user") and
// the small file and path helpers around it.
#pragma once

#include <cstdint>

#include "framework/String.h"

// The directory of the running executable, with its trailing separator.
CString GetAppDir();
// The directory part of modulePath (drive and directory, trailing separator).
CString AppDirOf(const char* modulePath);

// True when path names a file that can be opened for reading.
bool FileExists(const char* path);

// The value of key in section "user" of the settings file beside the
// executable; "" when the file or key is missing.
CString ReadSetting(const char* key);
// Writes key=value in section "user" of State().iniPath.
void WriteSetting(const char* key, const char* value);

CString IntToStr(int n);

// Reads "vol" the way atoi does (leading white space, optional sign,
// digits), but saturates at the 32-bit limits instead of overflowing.
int32_t ParseVolume(const char* text);

// Fills iniPath, password, lock, limit and toolPath of State() from the
// settings file beside the executable.
void LoadSettings();
// The same, for an application directory given by the caller.
void LoadSettingsFrom(const CString& appDir);
// Writes "vol" and then "isLock" to State().iniPath.
void SaveSettings();
