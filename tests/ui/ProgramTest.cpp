// The whole program, end to end: the real Morvane.exe beside the fake volume
// tool, or the real one with the stand-in device, driven through its windows
// the way a user and the shell drive it.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "res/resource.h"
#include "tests/support/TestSupport.h"
#include "ui/Tray.h"

using namespace testing_support;

namespace {

const char kMissingToolText[] = "缺少文件bin.exe！程序退出！";

// A prompt over a hidden owner has a taskbar button of its own.
bool HasTaskbarButton(HWND window) {
    return (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_APPWINDOW) != 0;
}

bool IsInFront(HWND window) {
    return WaitFor([&] { return GetForegroundWindow() == window; }, kTimeout);
}

SIZE ClientSize(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    return {client.right, client.bottom};
}

// What a script can send a hidden window that no person can click: it must
// neither end the program nor change or save anything.
void SendWhatOnlyAPersonMay(HWND main) {
    Send(main, WM_CLOSE);
    Send(main, WM_SYSCOMMAND, SC_CLOSE);
    Send(main, WM_COMMAND, IDOK);
    Send(main, WM_COMMAND, IDCANCEL);
    HWND lock = GetDlgItem(main, IDC_CHECK_LOCK);
    const LRESULT checked = Send(lock, BM_GETCHECK);
    Send(lock, BM_SETCHECK, checked == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
    Send(main, WM_COMMAND, MAKEWPARAM(IDC_CHECK_LOCK, BN_CLICKED), reinterpret_cast<LPARAM>(lock));
    HWND slider = GetDlgItem(main, IDC_SLIDER);
    Send(slider, TBM_SETPOS, TRUE, 100);
    Send(main, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), reinterpret_cast<LPARAM>(slider));
    // Would not return before its prompt closed.
    Send(main, WM_COMMAND, MAKEWPARAM(IDC_BUTTON_PASSWORD, BN_CLICKED),
         reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_BUTTON_PASSWORD)));
    // A real sign-out ends the process after these; sent by a script, they
    // end nothing.
    Send(main, WM_QUERYENDSESSION);
    Send(main, WM_ENDSESSION, TRUE);
}

}  // namespace

TEST(Program_Start, MissingToolWarnsAndExitsInOrder) {
    const std::string config = "[user]\r\nvol=30x\r\nisLock=1\r\n";
    Morvane app;
    ASSERT_TRUE(app.Prepare(config, /*toolVolume=*/nullptr));
    ASSERT_TRUE(app.Start());

    HWND warning = app.WaitDialog(kWarning);
    ASSERT_TRUE(warning);
    EXPECT_EQ(ReadMessageBox(warning).text, kMissingToolText);
    // The icon is there before the tool check, and the prompt never comes.
    EXPECT_EQ(app.TrayIcons().size(), 1u);
    EXPECT_TRUE(FindWindows(app.pid(), "#32770", kSetPrompt, false).empty());

    ASSERT_TRUE(Click(warning, IDOK));
    ASSERT_TRUE(app.WaitExit());
    // Nothing was changed, so nothing is written.
    EXPECT_EQ(ReadFile(app.Path("config.ini")), config);
}

TEST(Program_Start, FirstStartSetsPasswordAndNextStartVerifiesIt) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(""));
    // The main window waits behind the prompt.
    HWND main = app.StartToPrompt(kSetPrompt);
    ASSERT_TRUE(main);
    EXPECT_FALSE(IsWindowVisible(main));
    // Started from the Startup folder, the prompt must not get lost behind
    // other windows.
    HWND prompt = app.WaitDialog(kSetPrompt);
    EXPECT_TRUE(HasTaskbarButton(prompt));
    EXPECT_TRUE(IsInFront(prompt));
    ASSERT_TRUE(app.AnswerPrompt(kSetPrompt, "open sesame"));
    ASSERT_TRUE(WaitFor([&] { return Visible(main); }, kTimeout));
    ASSERT_TRUE(app.Close(main));
    const std::string stored = app.Setting("p1");
    EXPECT_NE(stored, "<missing>");
    EXPECT_NE(stored, "");
    // Nothing else was changed: the exit writes no defaults.
    EXPECT_EQ(app.Setting("vol"), "<missing>");

    ASSERT_TRUE(app.Start());
    // A wrong password is refused, and the prompt stays.
    prompt = app.WaitDialog(kVerifyPrompt);
    EXPECT_EQ(AnswerWithMessage(prompt, "open sesame!").text, kWrongPassword);
    EXPECT_TRUE(Visible(prompt));
    ASSERT_TRUE(app.AnswerPrompt(kVerifyPrompt, "open sesame"));
    main = nullptr;
    ASSERT_TRUE(WaitFor([&] { return Visible(main = app.MainWindow()); }, kTimeout));
    ASSERT_TRUE(app.Close(main));
    EXPECT_EQ(app.Setting("p1"), stored);
}

TEST(Program_Start, CancelledPromptExitsInOrderWritingNothing) {
    const std::string config = "[user]\r\nvol=abc\r\nisLock=true\r\n";
    Morvane app;
    ASSERT_TRUE(app.Prepare(config));
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.CancelPrompt(kSetPrompt));
    ASSERT_TRUE(app.WaitExit());
    // What was loaded may be older than what another copy wrote since.
    EXPECT_EQ(ReadFile(app.Path("config.ini")), config);
    // The worker ran with the lock off: the tool was never run.
    EXPECT_TRUE(app.ToolCalls().empty());
}

TEST(Program_Start, CancelWithAPasswordAndTheLockOnStaysHiddenHoldingTheCeiling) {
    Morvane app;
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=40\r\nisLock=1\r\np1=pw\r\n", "0.30"));
    // Held by another program at the start (a scanner at sign-in): the start
    // waits for it rather than take every default.
    HANDLE held = CreateFileA(app.Path("config.ini").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(app.Start());
    EXPECT_FALSE(app.WaitDialog(nullptr, 2000)) << "a prompt or message while the file is held";
    CloseHandle(held);
    HWND main = app.WaitDialog(kVerifyPrompt) ? app.MainWindow() : nullptr;
    ASSERT_TRUE(main);
    ASSERT_TRUE(app.CancelPrompt(kVerifyPrompt));
    // Neither a script nor the account itself can end it: only an
    // administrator may end, suspend or write to it or its threads, and
    // its owner may not rewrite that.
    const std::string config = ReadFile(app.Path("config.ini"));
    SendWhatOnlyAPersonMay(main);
    EXPECT_TRUE(app.Running());
    EXPECT_EQ(ReadFile(app.Path("config.ini")), config);
    EXPECT_TRUE(FindWindows(app.pid(), "#32770", kChangePrompt, false).empty());
    const StandardUserRights guarded = StandardUserRightsOn(app.pid());
    EXPECT_FALSE(guarded.stopProcess);
    EXPECT_EQ(guarded.threadsStoppable, 0) << "of " << guarded.threads << " threads";
    // Listing (query, wait, read) is all the rest may do; the owner too.
    const std::string dacl = DaclOf(OpenProcess(READ_CONTROL, FALSE, app.pid()));
    EXPECT_NE(dacl.find("(A;;0x121000;;;WD)"), std::string::npos) << dacl;
    EXPECT_NE(dacl.find("(A;;0x121000;;;OW)"), std::string::npos) << dacl;
    // Hidden with its icon, holding the ceiling; no control of it takes keys.
    ASSERT_TRUE(app.SetToolVolume("0.90"));
    ASSERT_TRUE(WaitFor([&] { return ReadFile(app.Path("fake-volume.txt")) == "0.40"; }, kTimeout));
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_EQ(app.TrayIcons().size(), 1u);
    EXPECT_NE(GetAncestor(FocusOf(main), GA_ROOT), main);
    // Disabled: a closed prompt can leave it active on Windows, and a space
    // would then flip the lock, Alt+F4 close it.
    EXPECT_FALSE(IsWindowEnabled(main));
    // The icon asks for the password; the window then shows what was loaded.
    ASSERT_TRUE(PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN));
    ASSERT_TRUE(app.AnswerPrompt(kVerifyPrompt, "pw"));
    ASSERT_TRUE(WaitFor([&] { return Visible(main); }, kTimeout));
    EXPECT_EQ(Send(GetDlgItem(main, IDC_CHECK_LOCK), BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(ItemText(main, IDC_STATIC_VALUE), "40");
    // With the lock off the guard goes, and comes back when another copy
    // switches the lock on again.
    ClickLock(main, false);
    EXPECT_TRUE(StandardUserRightsOn(app.pid()).CanStop());
    std::string relocked = ReadFile(app.Path("config.ini"));
    relocked.replace(relocked.find("isLock=0"), 8, "isLock=1");
    ASSERT_TRUE(WriteFile(app.Path("config.ini"), relocked));
    EXPECT_TRUE(WaitFor([&] { return !StandardUserRightsOn(app.pid()).CanStop(); }, kTimeout));
    // Shown, the close box ends it as before.
    ASSERT_TRUE(app.Close(main));
    // With the lock off there is nothing to hold: Cancel ends the program.
    relocked.replace(relocked.find("isLock=1"), 8, "isLock=0");
    ASSERT_TRUE(WriteFile(app.Path("config.ini"), relocked));
    ASSERT_TRUE(app.Start());
    ASSERT_TRUE(app.CancelPrompt(kVerifyPrompt));
    EXPECT_TRUE(app.WaitExit());
}

TEST(Program_Start, StoredLimitHoldsWhileThePromptWaitsAndACancelStopsIt) {
    Morvane app;
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=40\r\nisLock=1\r\n", "1.00"));
    // Held by another program for longer than the start waits: said, naming
    // the file, and its values are taken once it can be read.
    HANDLE held = CreateFileA(app.Path("config.ini").c_str(), GENERIC_READ, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    const long long startedAt = NowMs();
    ASSERT_TRUE(app.Start());
    HWND warning = app.WaitDialog(kWarning);
    EXPECT_GE(NowMs() - startedAt, 9500);
    EXPECT_NE(ReadMessageBox(warning).text.find(app.Path("config.ini")), std::string::npos);
    ASSERT_TRUE(DismissBox(warning));
    HWND main = app.WaitDialog(kSetPrompt) ? app.MainWindow() : nullptr;
    ASSERT_TRUE(main);
    CloseHandle(held);
    // Nobody answers: the loud volume still comes down to the stored limit.
    ASSERT_TRUE(WaitFor([&] { return ReadFile(app.Path("fake-volume.txt")) == "0.40"; }, kTimeout));
    const std::vector<ToolCall> calls = app.ToolCalls();
    ASSERT_EQ(CountCalls(calls, true, 0, "40"), 1u);
    std::printf("first correction %lld ms after the start\n", calls.back().whenMs - startedAt);
    EXPECT_TRUE(Visible(app.WaitDialog(kSetPrompt, 0)));
    EXPECT_FALSE(IsWindowVisible(main));

    // A cancel ends the program and its worker, as any exit does.
    ASSERT_TRUE(app.CancelPrompt(kSetPrompt));
    ASSERT_TRUE(app.WaitExit());
    const size_t callsAtExit = app.ToolCalls().size();
    EXPECT_FALSE(WaitFor([&] { return app.ToolCalls().size() > callsAtExit; }, 2500));
    EXPECT_EQ(app.Setting("vol"), "40");
    EXPECT_EQ(app.Setting("isLock"), "1");
}

TEST(Program_Start, ShowsLoadedSettingsAfterThePrompt) {
    struct Case {
        const char* config;
        LRESULT checked;
        LRESULT position;
        const char* label;
    };
    const Case cases[] = {
        {"[user]\r\nvol=30\r\nisLock=1\r\n", BST_CHECKED, 30, "30"},
        // Out of the slider's range: the slider stops at its end, the label
        // and the limiter keep the stored number.
        {"[user]\r\nvol=150\r\nisLock=0\r\n", BST_UNCHECKED, 100, "150"},
        {"[user]\r\nvol=-5\r\nisLock=01\r\n", BST_UNCHECKED, 0, "-5"},
        {"", BST_UNCHECKED, 0, "0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.config);
        Morvane app;
        ASSERT_TRUE(app.Prepare(c.config));
        HWND main = app.StartToMainWindow();
        ASSERT_TRUE(main);
        EXPECT_EQ(Send(GetDlgItem(main, IDC_CHECK_LOCK), BM_GETCHECK), c.checked);
        EXPECT_EQ(Send(GetDlgItem(main, IDC_SLIDER), TBM_GETPOS), c.position);
        EXPECT_EQ(ItemText(main, IDC_STATIC_VALUE), c.label);
        EXPECT_EQ(Send(GetDlgItem(main, IDC_SLIDER), TBM_GETRANGEMAX), 100);
        EXPECT_EQ(WindowCaption(main), "Morvane");
    }
}

TEST(Program_Start, SecondCopyRunsOnItsOwn) {
    Morvane first;
    ASSERT_TRUE(first.Prepare("[user]\r\nvol=30\r\nisLock=0\r\n"));
    HWND firstMain = first.StartToMainWindow();
    ASSERT_TRUE(firstMain);
    Morvane second;
    ASSERT_TRUE(second.Prepare("[user]\r\nvol=70\r\nisLock=0\r\n"));
    HWND secondMain = second.StartToMainWindow();
    ASSERT_TRUE(secondMain);
    EXPECT_NE(firstMain, secondMain);
    // One icon each: the first copy sees its own and the second's.
    EXPECT_EQ(second.TrayIcons().size(), 1u);
    EXPECT_EQ(first.TrayIcons().size(), 2u);
    EXPECT_EQ(ItemText(secondMain, IDC_STATIC_VALUE), "70");
    ASSERT_TRUE(second.Close(secondMain));
    EXPECT_TRUE(Visible(firstMain));
}

TEST(Program_Limit, SliderAndLockReachTheToolAndTheSettingsFile) {
    Morvane app;
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=30\r\nisLock=0\r\n", "0.62"));
    HWND main = app.StartToMainWindow();
    ASSERT_TRUE(main);

    MoveSlider(main, 40);
    EXPECT_EQ(ItemText(main, IDC_STATIC_VALUE), "40");
    ClickLock(main, true);
    // The next cycle reads 62, above 40, and sets 40; the one after reads 40
    // and leaves it.
    ASSERT_TRUE(WaitFor([&] { return CountCalls(app.ToolCalls(), true, 0, "40") >= 1; }, kTimeout));
    // The tool logs its command line before it acts on it.
    EXPECT_TRUE(WaitFor([&] { return ReadFile(app.Path("fake-volume.txt")) == "0.40"; }, kTimeout));
    const size_t queriesBefore = app.ToolCalls().size();
    ASSERT_TRUE(WaitFor([&] { return app.ToolCalls().size() >= queriesBefore + 2; }, kTimeout));
    EXPECT_EQ(CountCalls(app.ToolCalls(), true, 0, "40"), 1u);

    // Lock off: at most the query already under way, then silence for more
    // than a cycle.
    ClickLock(main, false);
    const size_t callsAtOff = app.ToolCalls().size();
    EXPECT_FALSE(WaitFor([&] { return app.ToolCalls().size() > callsAtOff + 1; }, 4000));

    // Each change was written at once: a program ended from outside keeps
    // them, the last click included.
    ClickLock(main, true);
    app.Kill();
    EXPECT_EQ(app.Setting("vol"), "40");
    EXPECT_EQ(app.Setting("isLock"), "1");
}

TEST(Program_Tray, MinimisingHidesAndAnIconClickAsksForThePassword) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(""));
    HWND main = app.StartToMainWindow("pw");
    ASSERT_TRUE(main);
    ASSERT_EQ(app.TrayIcons().size(), 1u);

    ASSERT_TRUE(PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0));
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(main); }, kTimeout));
    // Minimised, it is as hidden behind the password as after a Cancel.
    SendWhatOnlyAPersonMay(main);
    Send(main, WM_SYSCOMMAND, SC_RESTORE);
    EXPECT_TRUE(app.Running());
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_EQ(app.Setting("isLock"), "<missing>");
    EXPECT_TRUE(FindWindows(app.pid(), "#32770", kChangePrompt, false).empty());

    // A click on the icon window itself, as the shell passes it on.
    HWND icon = app.TrayIcons().at(0);
    ASSERT_TRUE(PostMessageA(icon, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(4, 4)));
    PostMessageA(icon, WM_LBUTTONUP, 0, MAKELPARAM(4, 4));
    // With the window hidden, the prompt stands on its own in the taskbar.
    HWND restore = app.WaitDialog(kVerifyPrompt);
    EXPECT_TRUE(HasTaskbarButton(restore));
    EXPECT_TRUE(IsInFront(restore));
    // Cancelling leaves the window hidden.
    ASSERT_TRUE(app.CancelPrompt(kVerifyPrompt));
    EXPECT_FALSE(IsWindowVisible(main));

    // The right button acts like the left; OK brings the window back.
    ASSERT_TRUE(PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_RBUTTONDOWN));
    ASSERT_TRUE(app.AnswerPrompt(kVerifyPrompt, "pw"));
    ASSERT_TRUE(WaitFor([&] { return Visible(main) && !IsIconic(main); }, kTimeout));

    // Releases, moves and double clicks open nothing: once a later posted
    // message has been handled, no prompt is there.
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONUP);
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_MOUSEMOVE);
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDBLCLK);
    ASSERT_TRUE(MoveSlider(main, 55));
    EXPECT_TRUE(FindWindows(app.pid(), "#32770", kVerifyPrompt, false).empty());

    // A click while the window is shown still asks.
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    ASSERT_TRUE(app.AnswerPrompt(kVerifyPrompt, "pw"));
    EXPECT_TRUE(Visible(main));

    // A click while a prompt is open stacks a second one over it. Each ends
    // on its own: the lower one goes the moment it is answered, although
    // the upper one's loop still runs.
    ASSERT_TRUE(PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0));
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    HWND lower = app.WaitDialog(kVerifyPrompt);
    ASSERT_TRUE(lower);
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    HWND upper = nullptr;
    ASSERT_TRUE(WaitFor(
        [&] {
            for (HWND prompt : FindWindows(app.pid(), "#32770", kVerifyPrompt))
                if (prompt != lower) upper = prompt;
            return upper != nullptr;
        },
        kTimeout));
    ASSERT_TRUE(AnswerPrompt(lower, "pw"));
    EXPECT_TRUE(Visible(upper));
    ASSERT_TRUE(AnswerPrompt(upper, "pw"));
    EXPECT_TRUE(WaitFor([&] { return Visible(main) && !IsWindow(lower); }, kTimeout));
}

TEST(Program_Tray, ClicksDuringTheStartUpPromptAreIgnored) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(""));
    HWND main = app.StartToPrompt(kSetPrompt);
    ASSERT_TRUE(main);
    // Handled before the prompt's OK below: a click that was not ignored
    // would open a verify prompt and hold the main window back.
    ASSERT_TRUE(PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN));
    ASSERT_TRUE(PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_RBUTTONDOWN));
    ASSERT_TRUE(app.AnswerPrompt(kSetPrompt, "pw"));
    ASSERT_TRUE(WaitFor([&] { return Visible(main); }, kTimeout));
    EXPECT_TRUE(FindWindows(app.pid(), "#32770", kVerifyPrompt, false).empty());
}

TEST(Program_Keys, EscapeAndEnterDoNothing) {
    Morvane app;
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=20\r\n"));
    HWND main = app.StartToMainWindow();
    ASSERT_TRUE(main);
    // Sent where the keyboard focus would be, and to the dialog itself.
    for (HWND target : {GetDlgItem(main, IDC_CHECK_LOCK), GetDlgItem(main, IDC_SLIDER), main}) {
        for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
            PostMessageA(target, WM_KEYDOWN, key, 1);
            PostMessageA(target, WM_KEYUP, key, 0xC0000001);
        }
    }
    ASSERT_TRUE(MoveSlider(main, 21));
    EXPECT_TRUE(Visible(main));
    EXPECT_TRUE(app.Running());
}

TEST(Program_Exit, ClosingSavesStopsTheWorkerAndRemovesTheIcon) {
    Morvane app;
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=50\r\nisLock=1\r\n", "0.30"));
    HWND main = app.StartToMainWindow();
    ASSERT_TRUE(main);
    ASSERT_TRUE(WaitFor([&] { return app.ToolCalls().size() >= 2; }, kTimeout));
    MoveSlider(main, 45);
    ASSERT_EQ(app.TrayIcons().size(), 1u);

    const long long closedAt = NowMs();
    ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
    // The icon goes while the program still waits for its worker.
    ASSERT_TRUE(WaitFor([&] { return app.TrayIcons().empty() || !app.Running(); }, kTimeout));
    EXPECT_TRUE(app.Running()) << "the icon was left to go with the process";
    ASSERT_TRUE(app.WaitExit());
    const long long exitedAt = NowMs();
    EXPECT_GE(exitedAt - closedAt, 1400) << "the exit did not wait for the worker";

    EXPECT_EQ(app.Setting("vol"), "45");
    EXPECT_EQ(app.Setting("isLock"), "1");
    // A query under way at the close may still start its tool; nothing
    // starts later than that, during the wait or after the exit.
    const size_t callsAtExit = app.ToolCalls().size();
    for (const ToolCall& call : app.ToolCalls()) {
        EXPECT_LT(call.whenMs, closedAt + 1000) << call.commandLine;
    }
    EXPECT_FALSE(WaitFor([&] { return app.ToolCalls().size() > callsAtExit; }, 2500));
}

TEST(Program_Tray, TaskbarCreatedPutsTheIconBack) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(""));
    HWND main = app.StartToMainWindow("pw");
    ASSERT_TRUE(main);
    const std::vector<HWND> before = app.TrayIcons();
    ASSERT_EQ(before.size(), 1u);
    ASSERT_TRUE(PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0));
    ASSERT_TRUE(WaitFor([&] { return !IsWindowVisible(main); }, kTimeout));

    // What the shell broadcasts when it starts again. This shell still
    // holds the old icon; the program replaces it with a fresh one.
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    ASSERT_NE(taskbarCreated, 0u);
    ASSERT_TRUE(PostMessageA(main, taskbarCreated, 0, 0));
    ASSERT_TRUE(WaitFor(
        [&] {
            const std::vector<HWND> now = app.TrayIcons();
            return now.size() == 1 && now[0] != before[0];
        },
        kTimeout));

    // The new icon leads back to the hidden window.
    ASSERT_TRUE(PostMessageA(app.TrayIcons().at(0), WM_LBUTTONDOWN, MK_LBUTTON, 0));
    ASSERT_TRUE(app.AnswerPrompt(kVerifyPrompt, "pw"));
    ASSERT_TRUE(WaitFor([&] { return Visible(main); }, kTimeout));
}

TEST(Program_Session, EndingSessionSavesWhatCouldNotBeSavedBefore) {
    struct Case {
        BOOL ending;
        const char* expectedVol;
    };
    // A cancelled end of session (FALSE) goes on running and saves nothing.
    for (const Case& c : {Case{TRUE, "65"}, Case{FALSE, "10"}}) {
        SCOPED_TRACE(c.ending);
        Morvane app;
        ASSERT_TRUE(app.Prepare("[user]\r\nvol=10\r\nisLock=0\r\n"));
        HWND main = app.StartToMainWindow();
        ASSERT_TRUE(main);
        ClickLock(main, true);
        // While the file is held by someone who lets others only read, a
        // change cannot be saved at once (and says so).
        HANDLE guard = CreateFileA(app.Path("config.ini").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   nullptr, OPEN_EXISTING, 0, nullptr);
        MoveSlider(main, 65);
        ASSERT_TRUE(DismissBox(WaitOwnedDialog(main)));
        CloseHandle(guard);
        Send(main, WM_QUERYENDSESSION, 0, 0);
        Send(main, WM_ENDSESSION, c.ending, 0);
        // The system ends the process without destroying the window.
        app.Kill();
        EXPECT_EQ(app.Setting("vol"), c.expectedVol);
        EXPECT_EQ(app.Setting("isLock"), "1");
    }
}

TEST(Program_Password, ButtonOpensTheChangePrompt) {
    Morvane app;
    ASSERT_TRUE(app.Prepare(""));
    HWND main = app.StartToMainWindow("old");
    ASSERT_TRUE(main);
    ASSERT_TRUE(Click(main, IDC_BUTTON_PASSWORD));
    // Over the visible window, the prompt belongs to it.
    HWND change = app.WaitDialog(kChangePrompt);
    EXPECT_EQ(GetWindow(change, GW_OWNER), main);
    EXPECT_FALSE(HasTaskbarButton(change));
    ASSERT_TRUE(app.AnswerPrompt(kChangePrompt, "new"));
    // The new password is the one the icon asks for, and the old one is not.
    PostMessageA(main, WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDOWN);
    HWND prompt = app.WaitDialog(kVerifyPrompt);
    EXPECT_EQ(AnswerWithMessage(prompt, "old").text, kWrongPassword);
    EXPECT_TRUE(Visible(prompt));
    ASSERT_TRUE(app.AnswerPrompt(kVerifyPrompt, "new"));
    ASSERT_TRUE(app.Close(main));
}

TEST(Program_RealTool, BringsALoudDeviceDownToTheCeilingAndLeavesAQuietOneAlone) {
    // The real bin.exe and a device that keeps its volume, from a folder the
    // interpreter would split at the space, the '&' or the parentheses.
    Morvane app("Volume R&D (x86)");
    ASSERT_NE(app.dir().path().find("R&D ("), std::string::npos);
    ASSERT_TRUE(app.Prepare("[user]\r\nvol=25\r\nisLock=1\r\n", /*toolVolume=*/nullptr));
    ASSERT_TRUE(app.InstallRealTool("1.0"));
    HWND main = app.StartToMainWindow();
    ASSERT_TRUE(main);
    EXPECT_TRUE(WaitFor([&] { return app.DeviceLevel() == 0.25f; }, kTimeout)) << app.DeviceLevel();

    // A quiet level is left alone for two cycles, after which the new
    // ceiling holds: a loud level comes down to it.
    ASSERT_TRUE(MoveSlider(main, 35));
    ASSERT_TRUE(app.SetDeviceLevel("0.20"));
    EXPECT_FALSE(WaitFor([&] { return app.DeviceLevel() != 0.20f; }, 4500)) << app.DeviceLevel();
    ASSERT_TRUE(app.SetDeviceLevel("1"));
    EXPECT_TRUE(WaitFor([&] { return app.DeviceLevel() == 0.35f; }, kTimeout)) << app.DeviceLevel();
    // A device that refuses the set, three cycles in a row, is said to be
    // one that cannot be brought down, until a set takes.
    ASSERT_TRUE(WriteFile(app.Path("device-mode.txt"), "refuse-set") && app.SetDeviceLevel("1"));
    EXPECT_TRUE(
        WaitFor([&] { return app.TrayTip() == "Morvane：无法降低音量，上限未能保持"; }, kTimeout));
    ASSERT_TRUE(WriteFile(app.Path("device-mode.txt"), ""));
    EXPECT_TRUE(WaitFor([&] { return app.TrayTip() == "Morvane"; }, kTimeout));
    // So is a second output that cannot be read, until it answers.
    ASSERT_TRUE(WriteFile(app.Path("devices.txt"), "active active") &&
                WriteFile(app.Path("device2-mode.txt"), "unreadable"));
    EXPECT_TRUE(WaitFor(
        [&] { return app.TrayTip() == "Morvane：部分输出设备无法读取或降低音量，上限未能保持"; },
        kTimeout));
    ASSERT_TRUE(WriteFile(app.Path("device2-mode.txt"), ""));
    EXPECT_TRUE(WaitFor([&] { return app.TrayTip() == "Morvane"; }, kTimeout));

    ASSERT_TRUE(app.Close(main));
    EXPECT_EQ(app.Setting("vol"), "35");
    EXPECT_EQ(app.Setting("isLock"), "1");
}

TEST(Program_Dpi, WindowsAreLaidOutLargerAt144Dpi) {
    // The client areas of the start-up prompt and of the main window.
    auto measure = [](SIZE* prompt, SIZE* window) {
        Morvane app;
        ASSERT_TRUE(app.Prepare(""));
        HWND main = app.StartToPrompt(kSetPrompt);
        ASSERT_TRUE(main);
        *prompt = ClientSize(app.WaitDialog(kSetPrompt));
        ASSERT_TRUE(app.AnswerPrompt(kSetPrompt, "pw"));
        ASSERT_TRUE(WaitFor([&] { return Visible(main); }, kTimeout));
        *window = ClientSize(main);
        // Moved to a screen at 200 %: Wine reads no other process's icons,
        // but its title bar shows the small one shrunk from a larger image.
        RECT frame = {};
        GetWindowRect(main, &frame);
        const RECT titleStart = {frame.left, frame.top,
                                 frame.left + 3 * GetSystemMetrics(SM_CXSMICON),
                                 frame.top + GetSystemMetrics(SM_CYCAPTION) + 8};
        const std::vector<COLORREF> before = ScreenPixels(titleStart);
        Send(main, WM_DPICHANGED, MAKEWPARAM(192, 192), reinterpret_cast<LPARAM>(&frame));
        EXPECT_TRUE(WaitFor([&] { return ScreenPixels(titleStart) != before; }, 3000));
    };
    SIZE prompt96 = {}, main96 = {}, prompt144 = {}, main144 = {};
    measure(&prompt96, &main96);
    ASSERT_FALSE(HasFatalFailure());
    {
        // 150 % scaling, for the program started now.
        ScopedLogPixels dpi(144);
        ASSERT_TRUE(dpi.ok());
        measure(&prompt144, &main144);
        ASSERT_FALSE(HasFatalFailure());
    }
    // Fonts and dialog units round to whole pixels: about 1.5 times.
    const struct {
        const char* what;
        LONG at96, at144;
    } sides[] = {{"prompt width", prompt96.cx, prompt144.cx},
                 {"prompt height", prompt96.cy, prompt144.cy},
                 {"window width", main96.cx, main144.cx},
                 {"window height", main96.cy, main144.cy}};
    for (const auto& side : sides) {
        SCOPED_TRACE(side.what);
        ASSERT_GT(side.at96, 0);
        const double ratio = static_cast<double>(side.at144) / side.at96;
        EXPECT_GE(ratio, 1.35) << side.at96 << " -> " << side.at144;
        EXPECT_LE(ratio, 1.65) << side.at96 << " -> " << side.at144;
    }
}
