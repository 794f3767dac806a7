// The settings file and path helpers, against real profile files.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>

#include "settings/LimiterState.h"
#include "settings/Settings.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

// Each test starts from a clean shared state and leaves one behind.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override { Reset(); }
    void TearDown() override { Reset(); }
    static void Reset() {
        LimiterState& state = State();
        Store(state.limit, 0);
        Store(state.lock, 0);
        state.iniPath = state.password = state.toolPath = "";
    }
    std::string Ini() const { return dir / "config.ini"; }
    void LoadUserSection(const std::string& lines) {
        ASSERT_TRUE(WriteFile(Ini(), "[user]\r\n" + lines));
        LoadSettingsFrom(dir.path().c_str());
    }
    std::string Value(const char* key) const {
        char buffer[600] = "";
        GetPrivateProfileStringA("user", key, "<missing>", buffer, sizeof buffer, Ini().c_str());
        return buffer;
    }
    TempDir dir{"settings"};
};

TEST_F(SettingsFile, MissingFileLoadsDefaultsAndIsCreatedOnlyBySave) {
    ASSERT_FALSE(dir.path().empty());
    LoadSettingsFrom(dir.path().c_str());
    const LimiterState& state = State();
    EXPECT_EQ(Load(state.limit), 0);
    EXPECT_EQ(Load(state.lock), 0);
    EXPECT_TRUE(state.password.IsEmpty());
    EXPECT_EQ(state.iniPath, Ini().c_str());
    EXPECT_EQ(state.toolPath, (dir / "bin.exe").c_str());
    EXPECT_EQ(GetFileAttributesA(Ini().c_str()), INVALID_FILE_ATTRIBUTES)
        << "reading created the file";

    SaveSettings();
    EXPECT_EQ(Value("vol"), "0");
    EXPECT_EQ(Value("isLock"), "0");
    EXPECT_EQ(Value("p1"), "<missing>");
}

TEST_F(SettingsFile, VolumeIsReadLikeAtoiButSaturatesAndIsWrittenBackAsRead) {
    struct Case {
        const char* stored;
        int32_t limit;
        const char* written;
    } cases[] = {
        {"150", 150, "150"},
        {"-5", -5, "-5"},
        {"30x", 30, "30"},
        {"abc", 0, "0"},
        {"", 0, "0"},
        {"+7", 7, "7"},
        {"4 2", 4, "4"},
        {"2147483647", INT_MAX, "2147483647"},
        {"99999999999999999999", INT_MAX, "2147483647"},
        {"-2147483648", INT_MIN, "-2147483648"},
        {"-99999999999", INT_MIN, "-2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        LoadUserSection(std::string("vol=") + c.stored + "\r\n");
        EXPECT_EQ(Load(State().limit), c.limit);
        SaveSettings();
        EXPECT_EQ(Value("vol"), c.written);
    }
}

TEST_F(SettingsFile, LockIsOnOnlyForExactlyOne) {
    // The profile functions drop the spaces around a value.
    struct Case {
        const char* line;
        int32_t lock;
    } cases[] = {
        {"isLock=1", 1},   {"isLock=true", 0}, {"isLock=01", 0}, {"isLock=0", 0},
        {"isLock=1x", 0},  {"isLock=", 0},     {"", 0},          {"isLock=11", 0},
        {"isLock=yes", 0}, {"isLock= 1", 1},   {"isLock=1 ", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        LoadUserSection(std::string(c.line) + "\r\nvol=20\r\n");
        EXPECT_EQ(Load(State().lock), c.lock);
        SaveSettings();
        EXPECT_EQ(Value("isLock"), c.lock ? "1" : "0");
    }
}

TEST_F(SettingsFile, OnlySectionUserCountsAndOtherContentSurvivesASave) {
    ASSERT_TRUE(WriteFile(Ini(),
                          "[other]\r\nvol=90\r\nisLock=1\r\n"
                          "[user]\r\np1=secret\r\nvol=35\r\nextra=kept\r\n"));
    LoadSettingsFrom(dir.path().c_str());
    EXPECT_EQ(Load(State().limit), 35);
    EXPECT_EQ(Load(State().lock), 0);
    EXPECT_EQ(State().password, "secret");
    Store(State().limit, 60);
    Store(State().lock, 1);
    SaveSettings();
    EXPECT_EQ(Value("vol"), "60");
    EXPECT_EQ(Value("isLock"), "1");
    EXPECT_EQ(Value("p1"), "secret");
    EXPECT_EQ(Value("extra"), "kept");
    char other[16] = "";
    GetPrivateProfileStringA("other", "vol", "", other, sizeof other, Ini().c_str());
    EXPECT_STREQ(other, "90");
}

TEST_F(SettingsFile, LongValuesAreCutToTheReadBuffer) {
    const std::string longPassword(800, 'p');
    ASSERT_TRUE(WriteFile(Ini(), "[user]\r\np1=" + longPassword + "\r\n"));
    LoadSettingsFrom(dir.path().c_str());
    EXPECT_EQ(State().password.GetLength(), 499);
}

TEST_F(SettingsFile, AUtf8MarkIsDroppedFromTheFileAndNothingElse) {
    const std::string user = "[user]\r\nvol=30\r\nisLock=1\r\np1=\xC3\xA9\r\n";
    // The last line without a line break: nothing may be cut from its end.
    const std::string open = "[user]\r\nvol=30\r\np1=\xC3\xA9\r\nisLock=1";
    const std::string utf16("\xFF\xFE[\0u\0s\0e\0r\0]\0\r\0\n\0", 20);
    // The mark becomes an empty comment line of its own length.
    struct Case {
        const char* name;
        std::string stored, onDisk;
        int32_t limit;
    } cases[] = {
        {"marked", "\xEF\xBB\xBF" + user, ";\r\n" + user, 30},
        {"marked, no last line break", "\xEF\xBB\xBF" + open, ";\r\n" + open, 30},
        {"marked twice: only the first is the mark", "\xEF\xBB\xBF\xEF\xBB\xBF" + user,
         ";\r\n\xEF\xBB\xBF" + user, -1},
        {"only the mark", "\xEF\xBB\xBF", ";\r\n", 0},
        {"unmarked", user, user, 30},
        {"UTF-16, which the profile functions read", utf16, utf16, 0},
        {"a cut mark", "\xEF\xBB" + user, "\xEF\xBB" + user, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteFile(Ini(), c.stored));
        LoadSettingsFrom(dir.path().c_str());
        EXPECT_EQ(ReadFile(Ini()), c.onDisk);
        if (c.limit >= 0) {
            EXPECT_EQ(Load(State().limit), c.limit);
        }
        if (c.limit == 30) {  // every key read, the last one too
            EXPECT_EQ(Load(State().lock), 1);
            EXPECT_STREQ(State().password, "\xC3\xA9");
        }
    }
    // What was read once the mark is gone is what a save keeps: one section.
    ASSERT_TRUE(WriteFile(Ini(), "\xEF\xBB\xBF" + user));
    LoadSettingsFrom(dir.path().c_str());
    SaveSettings();
    const std::string saved = ReadFile(Ini());
    EXPECT_EQ(saved.find("[user]"), 3u) << saved;
    EXPECT_EQ(saved.find("[user]", 4), std::string::npos) << saved;
    EXPECT_EQ(Value("p1"), "\xC3\xA9");

    // Where it cannot be dropped (here: held by someone who lets others only
    // read), the file is read through a copy without it in the temporary
    // folder (by its short name where need be), removed at once; no copy, no
    // read. Wine's reader skips the mark itself: only this shows here.
    const TempDir plain("temp"), thai(L"\u0e17\u0e14\u0e2a\u0e2d\u0e1a");
    wchar_t temp[MAX_PATH] = L"";
    const bool hadTemp = GetEnvironmentVariableW(L"TMP", temp, MAX_PATH) > 0;
    for (const auto& [folder, readable] : {std::pair(plain.wpath(), true),
                                           {thai.wpath(), true},
                                           {plain.wpath() + L"missing\\", false}}) {
        SCOPED_TRACE(Narrow(folder));
        SetEnvironmentVariableW(L"TMP", folder.c_str());
        for (const int vol : {30, 40}) {  // at the start, then at a look
            const std::string stored =
                "\xEF\xBB\xBF[user]\r\nvol=" + std::to_string(vol) + "\r\nisLock=1\r\n";
            ASSERT_TRUE(WriteFile(Ini(), stored));
            HANDLE guard = CreateFileA(Ini().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
            EXPECT_EQ(vol == 30 ? LoadSettingsFrom(dir.path().c_str())
                                : TakeSettingsChanges() == kSettingLimit,
                      readable);
            CloseHandle(guard);
            EXPECT_EQ(Load(State().limit), readable ? vol : 0);
            EXPECT_EQ(ReadFile(Ini()), stored);
            std::error_code error;
            EXPECT_EQ(std::filesystem::is_empty(folder, error), readable) << "a copy left behind";
        }
    }
    SetEnvironmentVariableW(L"TMP", hadTemp ? temp : nullptr);
}

// Several copies share the file: what another writes is taken, what this
// copy wrote or could not write is not taken for a change, and nothing this
// copy merely holds is written back.
TEST_F(SettingsFile, OtherCopiesChangesAreTakenAndOnlyUnwrittenOnesWrittenBack) {
    const auto otherCopyWrites = [&](const char* key, const char* value) {
        ASSERT_TRUE(WritePrivateProfileStringA("user", key, value, Ini().c_str()));
    };
    LoadUserSection("vol=60\r\nisLock=1\r\np1=pw\r\n");
    LimiterState& state = State();
    Store(state.limit, 80);
    ASSERT_TRUE(SaveSettings(kSettingLimit));
    EXPECT_EQ(TakeSettingsChanges(), 0u) << "its own write taken for another's";
    otherCopyWrites("p1", "new");
    otherCopyWrites("vol", "70");
    EXPECT_EQ(TakeSettingsChanges(), kSettingLimit | kSettingPassword);
    EXPECT_EQ(Load(state.limit), 70);
    EXPECT_EQ(state.password, "new");
    EXPECT_EQ(Load(state.lock), 1);

    // Changes that cannot be written (the file held by someone who lets
    // others only read) hold here, and only they are written later.
    HANDLE guard = CreateFileA(Ini().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(guard, INVALID_HANDLE_VALUE);
    Store(state.lock, 0);
    Store(state.limit, 90);
    EXPECT_FALSE(SaveSettings(kSettingLock));
    EXPECT_FALSE(SaveSettings(kSettingLimit));
    EXPECT_EQ(TakeSettingsChanges(), 0u);
    EXPECT_EQ(Load(state.lock), 0);
    CloseHandle(guard);
    // Another copy's later change of the limit wins over this one's.
    otherCopyWrites("vol", "50");
    EXPECT_EQ(TakeSettingsChanges(), kSettingLimit);
    otherCopyWrites("vol", "55");
    EXPECT_TRUE(SaveUnwrittenSettings());
    EXPECT_EQ(Value("vol"), "55");
    EXPECT_EQ(Value("isLock"), "0");

    // A file held by a program that shares nothing is looked at later, a
    // file that is gone or has no section not taken for one of defaults. A
    // minute old, the file is looked at again only once it has changed.
    HANDLE exclusive = CreateFileA(Ini().c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    ULARGE_INTEGER time;
    GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&time));
    time.QuadPart -= 60 * 10000000ull;
    ASSERT_TRUE(SetFileTime(exclusive, nullptr, nullptr, reinterpret_cast<FILETIME*>(&time)));
    EXPECT_EQ(TakeSettingsChanges(), 0u);
    CloseHandle(exclusive);
    EXPECT_EQ(TakeSettingsChanges(), kSettingLimit);
    for (const char* text : {"", "vol=0\r\nisLock=0\r\n"}) {
        SCOPED_TRACE(text);
        ASSERT_TRUE(DeleteFileA(Ini().c_str()));
        EXPECT_EQ(TakeSettingsChanges(), 0u);
        ASSERT_TRUE(WriteFile(Ini(), text));
        EXPECT_EQ(TakeSettingsChanges(), 0u);
        EXPECT_EQ(Load(state.limit), 55);
        EXPECT_EQ(Load(state.lock), 0);
    }
}

TEST(Settings_AppDirOf, KeepsDriveAndDirectoryWithTheTrailingSeparator) {
    struct Case {
        const char* module;
        const char* dir;
    } cases[] = {
        {"D:\\x.exe", "D:\\"},
        {"C:\\Tools\\x.exe", "C:\\Tools\\"},
        {"C:\\Program Files\\R&D (1)\\Morvane.exe", "C:\\Program Files\\R&D (1)\\"},
        {"C:\\\xD2\xF4\xC1\xBF\\Morvane.exe", "C:\\\xD2\xF4\xC1\xBF\\"},  // a Chinese folder name
        // A character whose second byte is a backslash, in the file name.
        {"C:\\\xD2\xF4\\\x9C\x5C.exe", "C:\\\xD2\xF4\\"},
        {"x.exe", ""},
    };
    for (const Case& c : cases) EXPECT_STREQ(AppDirOf(c.module), c.dir) << c.module;
    // Longer than _MAX_DIR: Chinese folder names reach it within MAX_PATH
    // characters.
    const std::string deep = "C:\\" + std::string(300, 'd') + "\\";
    EXPECT_STREQ(AppDirOf((deep + "Morvane.exe").c_str()), deep.c_str());
}

TEST(Settings_GetAppDir, IsTheFolderOfTheRunningProgram) {
    EXPECT_STREQ(GetAppDir(), BuildBinDir().c_str());
}

TEST(Settings_AppDirFor, ReachesAFolderTheCodePageCannotSpellByItsShortName) {
    EXPECT_STREQ(AppDirFor(L"C:\\Tools\\Morvane.exe"), "C:\\Tools\\");
    // Thai letters and an emoji: no ANSI code page spells both.
    const TempDir temp(L"\u0e17\u0e14\u0e2a\u0e2d\u0e1a \U0001F50A");
    const std::wstring& folder = temp.wpath();
    ASSERT_FALSE(folder.empty());
    ASSERT_TRUE(WriteFile(folder + L"config.ini", ""));

    const CString dir = AppDirFor(folder + L"Morvane.exe");
    EXPECT_FALSE(dir.IsEmpty());
    EXPECT_EQ(std::string(dir).find('?'), std::string::npos) << dir;
    EXPECT_TRUE(FileExists(dir + "config.ini")) << dir;
    // No short name to be had (here: no such folder): nothing usable, rather
    // than a path with '?' that names nothing.
    EXPECT_STREQ(AppDirFor(folder + L"\u0e17\\Morvane.exe"), "");
}

TEST(Settings_FileExists, TrueOnlyForAFileThatCanBeOpenedForReading) {
    TempDir dir("exists");
    const std::string file = dir / "bin.exe";
    ASSERT_TRUE(WriteFile(file, "x"));
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_FALSE(FileExists((dir / "missing.exe").c_str()));
    EXPECT_FALSE(FileExists((dir / "no folder\\bin.exe").c_str()));
    EXPECT_FALSE(FileExists(dir.path().c_str()));

    // Held open by someone who shares nothing: counts as absent.
    HANDLE exclusive =
        CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(exclusive, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileExists(file.c_str()));
    CloseHandle(exclusive);
    EXPECT_TRUE(FileExists(file.c_str()));
}

// Copies of the program in one folder write one file, and each write
// rewrites it whole: a copy reading while another writes would see a cut
// file and write that back. This test runs again in writer processes that
// save while the lock is held here, and then all at once; each save writes
// a pair whose limit is odd exactly when the switch is on, so a pair mixed
// from two saves shows to a reader that takes the lock.
TEST(Settings_FileLock, WritersInOtherProcessesWaitAndLoseNoKey) {
    const int kSaves = 100;
    char writerIni[MAX_PATH] = "";
    if (GetEnvironmentVariableA("MORVANE_WRITER_INI", writerIni, sizeof writerIni)) {
        State().iniPath = writerIni;
        for (int i = 1; i <= kSaves; ++i) {
            Store(State().limit, i);
            Store(State().lock, i % 2);
            SaveSettings();
        }
        return;
    }
    TempDir dir("settings lock");
    const std::string ini = dir / "config.ini";
    ASSERT_TRUE(WriteFile(ini, "[user]\r\nvol=0\r\nisLock=0\r\np1=keep\r\n"));
    const auto value = [&](const char* key) {
        char text[64] = "";
        GetPrivateProfileStringA("user", key, "<missing>", text, sizeof text, ini.c_str());
        return std::string(text);
    };
    Process writers[3];
    {
        const SettingsFileLock lock(ini.c_str());
        ASSERT_TRUE(lock.held());
        // Copies in every session and account meet at the lock, whoever
        // made it: each may wait on it and release it, none may change that.
        const CString name = SettingsLockName(ini.c_str());
        EXPECT_EQ(std::string(name).rfind("Global\\", 0), 0u) << name;
        const std::string dacl = DaclOf(OpenMutexA(READ_CONTROL, FALSE, name));
        EXPECT_EQ(dacl, "D:(A;;0x120001;;;WD)(A;;0x120001;;;OW)");
        // Inherited by the writers; this process has read its filter already.
        SetEnvironmentVariableA("MORVANE_WRITER_INI", ini.c_str());
        SetEnvironmentVariableA("GTEST_FILTER", "Settings_FileLock.*");
        for (Process& writer : writers) {
            // One of them in a standard account.
            ASSERT_TRUE(writer.Start(ModuleDir() + L"test_settings.exe", L"", &writer == writers));
        }
        SetEnvironmentVariableA("MORVANE_WRITER_INI", nullptr);
        SetEnvironmentVariableA("GTEST_FILTER", nullptr);
        EXPECT_FALSE(WaitFor([&] { return value("vol") != "0"; }, 1000))
            << "a write passed the lock";
    }
    std::string mixed;
    const auto done = [&] {
        const bool exited = std::all_of(std::begin(writers), std::end(writers),
                                        [](const Process& writer) { return writer.WaitExit(0); });
        const SettingsFileLock lock(ini.c_str());
        const std::string vol = value("vol"), isLock = value("isLock");
        if (std::to_string(std::atoi(vol.c_str()) % 2) != isLock) mixed = vol + "/" + isLock;
        return exited || !mixed.empty();
    };
    EXPECT_TRUE(WaitFor(done, 60000));
    ASSERT_EQ(mixed, "") << "a save's two keys were split by another save";
    EXPECT_EQ(value("vol"), std::to_string(kSaves)) << "the writers did not write";
    EXPECT_EQ(value("p1"), "keep") << ReadFile(ini);
}

TEST(Settings_IntToStr, FormatsSignedDecimal) {
    EXPECT_STREQ(IntToStr(0), "0");
    EXPECT_STREQ(IntToStr(-5), "-5");
    EXPECT_STREQ(IntToStr(INT_MIN), "-2147483648");
}

}  // namespace
