// What a user's machine can do to the program, and what the program must do
// back: keep working, lose nothing, hang nowhere. The real Morvane.exe runs
// beside the fake volume tool, which is made to hang, babble or vanish, and
// the settings file is made odd or unwritable.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/Tray.h"

using namespace testing_support;

namespace {

// The runner gives up on a command after this long.
constexpr long long kCommandTimeoutMs = 10000;

bool HasSet(const Morvane& app, const std::string& value, long long afterMs = 0) {
    return CountCalls(app.ToolCalls(), true, afterMs, value) > 0;
}

// The window answers a message within a second: its thread is not blocked.
bool Answers(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000,
                               &result) != 0;
}

std::string WithLimit(int limit, bool lock) {
    return "[user]\r\nvol=" + std::to_string(limit) + "\r\nisLock=" + (lock ? "1" : "0") + "\r\n";
}

}  // namespace

// Run in a standard account, as a child's copy is: guarded against that
// account, it must still end what it started.
TEST(Fault_Tool, HangingToolTimesOutWhileTheWindowAnswers) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(WithLimit(50, true) + "p1=secret\r\n", "0.80"));
    ASSERT_TRUE(app.SetToolMode("hang"));
    HWND main = app.StartToMainWindow("secret", /*asStandardUser=*/true);
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitFor([&] { return !app.ToolCalls().empty(); }, kTimeout));
    const long long hungAt = app.ToolCalls().front().whenMs;
    // The interpreter it started is guarded as it is.
    wchar_t system[MAX_PATH];
    GetSystemDirectoryW(system, MAX_PATH);
    const std::vector<DWORD> interpreter = ProcessesRunning(system + std::wstring(L"\\cmd.exe"));
    ASSERT_EQ(interpreter.size(), 1u);
    EXPECT_FALSE(StandardUserRightsOn(interpreter[0]).CanStop());

    // The worker is stuck in the command; the window is not.
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(Answers(main));
    }
    EXPECT_TRUE(MoveSlider(main, 50));
    EXPECT_EQ(app.ToolCalls().size(), 1u);

    // Once the command is given up on, the cycles go on and correct.
    ASSERT_TRUE(app.SetToolMode(""));
    ASSERT_TRUE(WaitFor([&] { return HasSet(app, "50"); }, kCommandTimeoutMs + kTimeout));
    const std::vector<ToolCall> calls = app.ToolCalls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_GE(calls[1].whenMs - hungAt, kCommandTimeoutMs - 500);

    // Hung at the exit: the exit takes its usual time and ends the tool.
    ASSERT_TRUE(app.SetToolMode("hang"));
    const long long hangAgain = NowMs();
    ASSERT_TRUE(
        WaitFor([&] { return CountCalls(app.ToolCalls(), false, hangAgain) >= 1; }, kTimeout));
    EXPECT_EQ(ProcessesRunning(app.Path(L"bin.exe")).size(), 1u);
    const long long closedAt = NowMs();
    ASSERT_TRUE(app.Close(main));
    EXPECT_LT(NowMs() - closedAt, 6000);
    EXPECT_TRUE(WaitFor([&] { return ProcessesRunning(app.Path(L"bin.exe")).empty(); }, 5000));
}

TEST(Fault_Tool, OddAnswersChangeNothingAndTheLoopGoesOn) {
    struct Case {
        const char* mode;
        bool answerSurvives;  // the volume can still be read from it
    };
    const Case cases[] = {
        {"flood 1048576", false},  // the answer comes after the kept 64 KiB
        {"binary", false},         // a NUL ends the text before the answer
        {"error", false},
        {"binary-tail", true},
    };
    Morvane app;
    ASSERT_TRUE(app.Prepare(WithLimit(50, true), "0.50"));
    HWND main = app.StartToMainWindow();
    ASSERT_TRUE(main);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mode);
        // The tool reads its mode after logging the call: a call logged
        // after the change has the new mode, and so has every call that
        // sees the raised volume.
        const long long modeAt = NowMs();
        ASSERT_TRUE(app.SetToolMode(c.mode));
        ASSERT_TRUE(
            WaitFor([&] { return CountCalls(app.ToolCalls(), false, modeAt) >= 1; }, kTimeout));
        const long long raisedAt = NowMs();
        ASSERT_TRUE(app.SetToolVolume("0.80"));
        // Two queries: a correction due after the first would be logged
        // before the second.
        ASSERT_TRUE(
            WaitFor([&] { return CountCalls(app.ToolCalls(), false, raisedAt) >= 2; }, kTimeout));
        EXPECT_TRUE(Answers(main));
        EXPECT_EQ(HasSet(app, "50", raisedAt), c.answerSurvives);
        EXPECT_EQ(FindWindows(app.pid(), "#32770", nullptr).size(), 1u) << "a message box appeared";

        // A sound answer again: the next cycles correct as usual.
        ASSERT_TRUE(app.SetToolMode(""));
        ASSERT_TRUE(
            WaitFor([&] { return ReadFile(app.Path("fake-volume.txt")) == "0.50"; }, kTimeout));
    }
    ASSERT_TRUE(app.Close(main));
    EXPECT_EQ(app.Setting("vol"), "50");
}

TEST(Fault_Tool, DeletedOrReplacedToolIsPickedUpAgain) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(WithLimit(50, true), "0.50"));
    HWND main = app.StartToMainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitFor([&] { return !app.ToolCalls().empty(); }, kTimeout));
    const std::string tool = app.Path("bin.exe");

    // Windows refuses to delete a program while it runs: try until the
    // worker is between commands.
    ASSERT_TRUE(WaitFor([&] { return DeleteFileA(tool.c_str()) != 0; }, kTimeout));
    ASSERT_TRUE(app.SetToolVolume("0.80"));
    const size_t callsBefore = app.ToolCalls().size();
    // A few cycles without a tool: no crash, no message box, nothing run,
    // and a balloon (a visible tooltip window under Wine) says so. So does
    // the tip, also once the icon is added again for a new shell and loaded
    // again for a new scaling.
    const char kUnreadableTip[] = "Morvane：无法读取音量，上限未能保持";
    const std::vector<HWND> icon = app.TrayIcons();
    ASSERT_TRUE(WaitFor([&] { return app.TrayTip() == kUnreadableTip; }, kTimeout));
    ASSERT_TRUE(PostMessageA(main, RegisterWindowMessageA("TaskbarCreated"), 0, 0));
    EXPECT_TRUE(WaitFor([&] { return app.TrayIcons() != icon && app.TrayTip() == kUnreadableTip; },
                        kTimeout));
    RECT frame = {};
    GetWindowRect(main, &frame);
    Send(main, WM_DPICHANGED, MAKEWPARAM(96, 96), reinterpret_cast<LPARAM>(&frame));
    EXPECT_EQ(app.TrayTip(), kUnreadableTip);
    EXPECT_FALSE(WaitFor([&] { return !app.Running(); }, 4500));
    EXPECT_TRUE(Answers(main));
    EXPECT_EQ(FindWindows(app.pid(), "#32770", nullptr).size(), 1u) << "a message box appeared";

    // Replaced by a file that is no program at all.
    ASSERT_TRUE(WriteFile(tool, "this is not a program\r\n"));
    EXPECT_FALSE(WaitFor([&] { return !app.Running(); }, 4500));
    EXPECT_TRUE(Answers(main));
    EXPECT_EQ(FindWindows(app.pid(), "#32770", nullptr).size(), 1u) << "a message box appeared";
    EXPECT_EQ(app.ToolCalls().size(), callsBefore);

    // And by a working tool again: the next cycle finds and uses it.
    ASSERT_TRUE(app.InstallTool());
    ASSERT_TRUE(WaitFor([&] { return HasSet(app, "50"); }, kTimeout));
    EXPECT_TRUE(WaitFor([&] { return app.TrayTip() == "Morvane"; }, kTimeout));
    ASSERT_TRUE(app.Close(main));
}

TEST(Fault_Config, OddSettingsFilesAreReadAndKeptAtExit) {
    const std::string garbage("\x01\x02\x7f\x80\x81\xfe\xff\x00 bin\x00\x1a\x9c\xd5\xa0\r\n", 18);
    const std::string longLine = "note=" + std::string(8000, 'x');
    struct Case {
        const char* name;
        std::string config;
        const char* label;  // nullptr: whatever the system's parser makes of it
        bool checked;
        std::string keptAtExit;  // text still in the file after the exit
    };
    const Case cases[] = {
        {"binary garbage only", garbage + garbage, "0", false, ""},
        // Some parsers give up on the section after such bytes; all that
        // counts is that the program runs and leaves a readable file.
        {"garbage before the section", garbage + WithLimit(30, true), nullptr, true, ""},
        {"a line of 8000 bytes", "[user]\r\n" + longLine + "\r\nvol=30\r\nisLock=1\r\n", "30", true,
         longLine + "\r\n"},
        {"a value of 6000 digits", "[user]\r\nvol=" + std::string(6000, '7') + "\r\nisLock=1\r\n",
         "2147483647", true, ""},
        {"UTF-8 byte-order mark", "\xEF\xBB\xBF" + WithLimit(30, true), "30", true, ""},
        {"duplicated key", "[user]\r\nvol=30\r\nvol=70\r\nisLock=1\r\n", "30", true, ""},
        {"another section with the same keys",
         "[other]\r\nvol=90\r\nisLock=1\r\n" + WithLimit(30, false), "30", false,
         "[other]\r\nvol=90\r\nisLock=1\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Morvane app("morvane config");
        ASSERT_TRUE(app.Prepare(c.config));
        HWND main = app.StartToMainWindow("pw");
        ASSERT_TRUE(main);
        const bool checked = Send(GetDlgItem(main, IDC_CHECK_LOCK), BM_GETCHECK) == BST_CHECKED;
        if (c.label) {
            EXPECT_EQ(ItemText(main, IDC_STATIC_VALUE), c.label);
            EXPECT_EQ(checked, c.checked);
        }
        MoveSlider(main, 45);
        ASSERT_TRUE(app.Close(main));

        EXPECT_EQ(app.Setting("vol"), "45");
        EXPECT_EQ(app.Setting("isLock") == "1", checked);
        const std::string text = ReadFile(app.Path("config.ini"));
        size_t sections = 0;
        for (size_t at = text.find("[user]"); at != std::string::npos;
             at = text.find("[user]", at + 1)) {
            ++sections;
        }
        EXPECT_EQ(sections, 1u) << text;
        if (!c.keptAtExit.empty()) {
            EXPECT_NE(text.find(c.keptAtExit), std::string::npos) << text;
        }
    }
}

TEST(Fault_Config, UnwritableSettingsAreLeftAsTheyWere) {
    // A plain password from an earlier version: the prompt would like to
    // store its hash in place, and cannot.
    const std::string config = "[user]\r\nvol=30\r\nisLock=1\r\np1=secret\r\n";
    for (const bool folderToo : {false, true}) {
        SCOPED_TRACE(folderToo ? "read-only folder and file" : "read-only file");
        Morvane app("morvane read-only");
        ASSERT_TRUE(app.Prepare(config));
        const std::string ini = app.Path("config.ini");
        ASSERT_TRUE(SetFileAttributesA(ini.c_str(), FILE_ATTRIBUTE_READONLY));
        if (folderToo) {
            ASSERT_TRUE(SetFileAttributesA(app.dir().path().c_str(), FILE_ATTRIBUTE_READONLY));
        }
        // Wine run by an administrator writes read-only files anyway; a
        // handle that lets others only read refuses every writer, as the
        // attribute does on Windows.
        HANDLE guard = CreateFileA(ini.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(guard, INVALID_HANDLE_VALUE);

        HWND main = app.StartToMainWindow("secret");
        ASSERT_TRUE(main);
        EXPECT_EQ(ItemText(main, IDC_STATIC_VALUE), "30");
        MoveSlider(main, 45);
        // Said once, naming the folder; the next change says nothing. The
        // file is held, not refused for lack of rights.
        HWND box = WaitOwnedDialog(main);
        const std::string said = ReadMessageBox(box).text;
        EXPECT_NE(said.find(app.dir().path()), std::string::npos);
        EXPECT_EQ(said.find("管理员"), std::string::npos) << said;
        ASSERT_TRUE(DismissBox(box));
        ClickLock(main, false);
        ASSERT_TRUE(MoveSlider(main, 50));  // handled after what the click posted
        EXPECT_EQ(FindWindows(app.pid(), "#32770", nullptr).size(), 1u) << "said again";
        const long long closedAt = NowMs();
        EXPECT_TRUE(app.Close(main));
        EXPECT_LT(NowMs() - closedAt, 6000);
        EXPECT_EQ(FindWindows(app.pid(), nullptr, nullptr).size(), 0u);
        CloseHandle(guard);
        EXPECT_EQ(ReadFile(ini), config);
        SetFileAttributesA(app.dir().path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
}

TEST(Fault_Config, FirstStartInAFolderThatCannotKeepSettingsLetsTheUserIn) {
    Morvane app("morvane unwritable");
    ASSERT_TRUE(app.Prepare(""));
    // A folder where the file would be: every write fails, even as root,
    // refused for lack of rights as Program Files refuses a program not run
    // as administrator.
    ASSERT_TRUE(CreateDirectoryW(app.Path(L"config.ini").c_str(), nullptr));
    HWND main = app.StartToPrompt(kSetPrompt);
    ASSERT_TRUE(main);
    // One message that says what happened and what would keep the password,
    // then the window.
    HWND prompt = app.WaitDialog(kSetPrompt);
    const BoxContent seen = AnswerWithMessage(prompt, "pw");
    EXPECT_EQ(seen.caption, "Morvane");
    const std::string denied =
        "无法在文件夹 " + app.dir().path() + " 中保存设置（config.ini）：没有写入权限";
    EXPECT_EQ(seen.text, denied +
                             "。密码只在本次运行中有效。要保留密码，请以管理员身份运行 "
                             "Morvane，再设定一次。");
    EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
    ASSERT_TRUE(WaitFor([&] { return Visible(main); }, kTimeout));
    // So do a change of the ceiling and one of the password.
    MoveSlider(main, 45);
    HWND box = WaitOwnedDialog(main);
    EXPECT_EQ(ReadMessageBox(box).text, denied +
                                            "。滑块和开关的改动只在本次运行中有效。要保留改动，"
                                            "请以管理员身份运行 Morvane，再改动一次。");
    ASSERT_TRUE(DismissBox(box) && Click(main, IDC_BUTTON_PASSWORD));
    EXPECT_EQ(AnswerWithMessage(app.WaitDialog(kChangePrompt), "new").text,
              denied + "，密码未保存。要修改密码，请以管理员身份运行 Morvane。");
    ASSERT_TRUE(app.CancelPrompt(kChangePrompt));

    // The password holds for the run: the way back from the icon asks for it.
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    HWND verify = app.WaitDialog(kVerifyPrompt);
    EXPECT_EQ(AnswerWithMessage(verify, "not it").text, kWrongPassword);
    ASSERT_TRUE(AnswerPrompt(verify, "pw"));
    EXPECT_TRUE(app.Close(main));
}

TEST(Fault_Copies, CopiesInOneFolderAgreeAndLeaveOneWholeFileWithTheLastChanges) {
    Morvane first("morvane two copies");
    ASSERT_TRUE(first.Prepare(WithLimit(60, true) + "p1=pw\r\n"));
    // Cancelled at sign-in: hidden, holding 60.
    HWND firstMain = first.StartToPrompt(kVerifyPrompt);
    ASSERT_TRUE(firstMain);
    // Its worker holds the ceiling while the prompt waits, so the ceiling
    // another copy sets meanwhile must reach it.
    ASSERT_TRUE(WritePrivateProfileStringA("user", "vol", "50", first.Path("config.ini").c_str()));
    EXPECT_TRUE(
        WaitFor([&] { return ReadFile(first.Path("fake-volume.txt")) == "0.50"; }, kTimeout));
    ASSERT_TRUE(first.CancelPrompt(kVerifyPrompt));

    Process second;
    ASSERT_TRUE(second.Start(first.Path(L"Morvane.exe")));
    ASSERT_TRUE(AnswerPrompt(WaitWindow(second.pid(), "#32770", kVerifyPrompt), "pw"));
    HWND secondMain = WaitWindow(second.pid(), "#32770", "Morvane");
    ASSERT_TRUE(secondMain);
    ASSERT_NE(secondMain, firstMain);

    // What is changed in the second copy holds in the hidden one. The
    // switch is written last: once it shows, the rest has been read too.
    ASSERT_TRUE(MoveSlider(secondMain, 80));
    ASSERT_TRUE(Click(secondMain, IDC_BUTTON_PASSWORD));
    ASSERT_TRUE(AnswerPrompt(WaitWindow(second.pid(), "#32770", kChangePrompt), "new"));
    const long long changedAt = NowMs();
    ClickLock(secondMain, false);
    HWND firstLock = GetDlgItem(firstMain, IDC_CHECK_LOCK);
    EXPECT_TRUE(WaitFor([&] { return Send(firstLock, BM_GETCHECK) == BST_UNCHECKED; }, kTimeout));
    std::printf("the switch reached the other copy in %lld ms\n", NowMs() - changedAt);
    EXPECT_EQ(ItemText(firstMain, IDC_STATIC_VALUE), "80");
    EXPECT_EQ(Send(GetDlgItem(firstMain, IDC_SLIDER), TBM_GETPOS), 80);
    ASSERT_TRUE(PostMessageA(firstMain, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN));
    HWND verify = first.WaitDialog(kVerifyPrompt);
    EXPECT_EQ(AnswerWithMessage(verify, "pw").text, kWrongPassword);
    ASSERT_TRUE(AnswerPrompt(verify, "new"));
    ASSERT_TRUE(WaitFor([&] { return Visible(firstMain); }, kTimeout));

    // Both closed at once, neither writing older values back.
    const std::string storedPassword = first.Setting("p1");
    ASSERT_TRUE(PostMessageA(firstMain, WM_CLOSE, 0, 0));
    ASSERT_TRUE(PostMessageA(secondMain, WM_CLOSE, 0, 0));
    EXPECT_TRUE(first.WaitExit());
    EXPECT_TRUE(second.WaitExit());
    EXPECT_EQ(first.Setting("vol"), "80");
    EXPECT_EQ(first.Setting("isLock"), "0");
    EXPECT_EQ(first.Setting("p1"), storedPassword);
}

TEST(Fault_Path, InstallPathLongerThanTheByteBufferStillFindsTheTool) {
    // Chinese folder names pass MAX_PATH bytes in code page 936 long before
    // they pass MAX_PATH characters, which is all the system itself needs.
    TempDir base("morvane long");
    ASSERT_FALSE(base.path().empty());
    std::string dir = base.path();
    std::string level;
    for (int i = 0; i < 10; ++i) level += "音量";
    while (dir.size() <= MAX_PATH + 20) {
        dir += level + "\\";
        ASSERT_TRUE(CreateDirectoryA(dir.c_str(), nullptr)) << GetLastError();
    }
    const std::string exe = dir + "Morvane.exe";
    ASSERT_TRUE(CopyBuildProgram("Morvane.exe", exe));
    ASSERT_TRUE(InstallRealTool(Wide(dir), "0.80"));
    ASSERT_TRUE(WriteFile(dir + "config.ini", WithLimit(25, true)));

    Process program;
    ASSERT_TRUE(program.Start(Wide(exe))) << GetLastError();
    HWND prompt = WaitWindow(program.pid(), "#32770", kSetPrompt);
    if (!prompt) {
        HWND warning = WaitWindow(program.pid(), "#32770", kWarning);
        FAIL() << "no prompt; the program said: "
               << (warning ? ReadMessageBox(warning).text : "nothing");
    }
    ASSERT_TRUE(AnswerPrompt(prompt, "pw"));
    HWND main = WaitWindow(program.pid(), "#32770", "Morvane");
    ASSERT_TRUE(main);
    EXPECT_EQ(ItemText(main, IDC_STATIC_VALUE), "25");
    // However deep the folder, the program's file name captions its boxes.
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    prompt = WaitWindow(program.pid(), "#32770", kVerifyPrompt);
    EXPECT_EQ(AnswerWithMessage(prompt, "not it").caption, "Morvane");
    ASSERT_TRUE(AnswerPrompt(prompt, "pw"));
    // The worker reaches the real tool in the deep folder and corrects.
    EXPECT_TRUE(WaitFor([&] { return DeviceLevel(Wide(dir)) == 0.25f; }, kTimeout));
    PostMessageA(main, WM_CLOSE, 0, 0);
    EXPECT_TRUE(program.WaitExit());
    char stored[64] = "";
    GetPrivateProfileStringA("user", "p1", "", stored, sizeof stored, (dir + "config.ini").c_str());
    EXPECT_STRNE(stored, "");
}

// DisableCMD 0 counts as unset; set, the tool is started directly. Wine's
// interpreter ignores the policy, so only the tool's parent tells.
TEST(Fault_Path, FolderNamesInCodePage936Work) {
    const char kPolicyKey[] = "Software\\Policies\\Microsoft\\Windows\\System";
    // The second: a character whose second byte is a backslash.
    const std::tuple<const char*, HKEY, DWORD> cases[] = {{"音量", HKEY_CURRENT_USER, 0},
                                                          {"淺音量", HKEY_CURRENT_USER, 1},
                                                          {"音量", HKEY_LOCAL_MACHINE, 2}};
    for (const auto& [name, policyRoot, policy] : cases) {
        SCOPED_TRACE(name + std::string(policy ? " without the command prompt" : ""));
        const ScopedRegValue policyValue(policyRoot, kPolicyKey, "DisableCMD", policy);
        ASSERT_TRUE(policyValue.ok());
        Morvane app(name);
        ASSERT_NE(app.dir().path().find(name), std::string::npos);
        ASSERT_TRUE(app.Prepare(WithLimit(25, true), "0.80"));
        ASSERT_TRUE(CopyBuildProgram("fakevol.exe", app.Path("cmd.exe")));  // no interpreter
        HWND main = app.StartToMainWindow();
        ASSERT_TRUE(main);
        ASSERT_TRUE(WaitFor([&] { return HasSet(app, "25"); }, kTimeout));
        // The tool saw its own path, bytes intact.
        EXPECT_NE(app.ToolCalls().front().commandLine.find(app.Path("bin.exe")), std::string::npos)
            << app.ToolCalls().front().commandLine;
        std::string parent;  // written anew at each run: empty for a moment
        WaitFor([&] { return !(parent = ReadFile(app.Path("fake-start.txt"))).empty(); }, 1000);
        EXPECT_EQ(parent == std::to_string(app.pid()), policy != 0) << parent;
        MoveSlider(main, 35);
        ASSERT_TRUE(app.Close(main));
        EXPECT_EQ(app.Setting("vol"), "35");
    }
}
