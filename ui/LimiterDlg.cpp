// The main window (see LimiterDlg.h).
#include "ui/LimiterDlg.h"

#include <utility>

#include "framework/App.h"
#include "framework/Handles.h"
#include "framework/Icon.h"
#include "limiter/CommandRunner.h"
#include "limiter/LimiterThread.h"
#include "limiter/ProcessGuard.h"
#include "res/resource.h"
#include "settings/LimiterState.h"
#include "settings/Settings.h"
#include "ui/PasswordDlg.h"
#include "ui/Tray.h"

namespace {

const char kMissingToolText[] = "缺少文件bin.exe！程序退出！";
const char kUnusableFolderText[] =
    "程序所在文件夹的名称无法使用。请将程序移到名称只含系统语言文字的文件夹中。";
const char kWarningCaption[] = "警告";
const char kUnreadableSettingsText[] =
    "无法读取设置文件 %s，它可能正被其他程序（例如杀毒软件或同步软件）占用。"
    "在能够读取之前，程序按默认设置运行，不限制音量；一旦能够读取，就立即采用其中的设置。";
const char kUnsavedText[] =
    "无法在文件夹 %s 中保存设置（config.ini）。滑块和开关的改动在本次运行中有效，"
    "但如果一直无法保存，就不会保留到下次启动。";
// Refused for lack of rights, as under Program Files without administrator's
// rights: only a copy run as administrator can keep the change.
const char kUnsavedDeniedText[] =
    "无法在文件夹 %s 中保存设置（config.ini）：没有写入权限。滑块和开关的改动只在本次运行中有效。"
    "要保留改动，请以管理员身份运行 Morvane，再改动一次。";
// Within the tip's 63 bytes in code page 936.
const char kUnreadableTip[] = "Morvane：无法读取音量，上限未能保持";
const char kUnreadableTitle[] = "无法读取音量";
const char kUnreadableText[] =
    "音量工具 bin.exe 连续三次没有报告音量，音量上限现在无法保持。"
    "请检查 bin.exe 是否还在，以及是否有可用的音频输出设备。";
const char kNotLoweredTip[] = "Morvane：无法降低音量，上限未能保持";
const char kNotLoweredTitle[] = "无法降低音量";
const char kNotLoweredText[] =
    "音量高于上限，但连续三次设定音量后，音量仍然没有降到上限以下，音量上限现在无法保持。"
    "请检查音频设备或其他程序是否阻止了音量的更改。";
const char kOutputNotHeldTip[] = "Morvane：部分输出设备无法读取或降低音量，上限未能保持";
const char kOutputNotHeldTitle[] = "部分输出设备无法控制";
const char kOutputNotHeldText[] =
    "音量工具 bin.exe 连续三次报告，有输出设备的音量无法读取或降低，"
    "这些设备上的音量上限现在无法保持。请检查耳机、显示器等输出设备的连接和驱动程序，"
    "或在声音设置中停用不用的设备。";

constexpr int kLimitMin = 0;
constexpr int kLimitMax = 100;
constexpr int kTickEvery = 10;
// The worker is not joined: it notices the cleared flag within 100 ms while
// waiting, or after the command it is running. This is its grace period.
constexpr DWORD kWorkerGraceMs = 1500;

// Looks at the settings file for other copies' changes, well within the
// worker's cycle of about two seconds.
constexpr UINT_PTR kSettingsTimerId = 1;
constexpr UINT kSettingsCheckMs = 1000;

// Posted to ourselves (WM_APP + 1 is the worker's).
constexpr UINT WM_SETTINGSUNSAVED = WM_APP + 2;

}  // namespace

BEGIN_MESSAGE_MAP(CLimiterDlg, CDialog)
// Ahead of the buttons' entries: a hidden window drops commands first.
ON_MESSAGE(WM_COMMAND, OnCommand)
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_DESTROY()
ON_WM_SIZE()
ON_WM_HSCROLL()
ON_BN_CLICKED(IDC_BUTTON_PASSWORD, OnButtonPassword)
ON_BN_CLICKED(IDC_CHECK_LOCK, OnCheckLock)
ON_MESSAGE(WM_TRAYNOTIFY, OnTrayNotify)
ON_MESSAGE(WM_TASKBARCREATED, OnTaskbarCreated)
ON_MESSAGE(WM_DPICHANGED, OnDpiChanged)
ON_WM_ENDSESSION()
ON_WM_TIMER()
ON_MESSAGE(WM_WINDOWPOSCHANGING, OnWindowPosChanging)
ON_MESSAGE(WM_VOLUMEUNREADABLE, OnVolumeUnreadable)
ON_MESSAGE(WM_SETTINGSUNSAVED, OnSettingsUnsaved)
END_MESSAGE_MAP()

CLimiterDlg::CLimiterDlg(CWnd* pParent)
    : CDialog(IDD_MORVANE_DIALOG, pParent),
      m_tray(AfxGetInstanceHandle(), IDI_TRAY, IDI_TRAY_WARNING) {}

void CLimiterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SLIDER, m_slider);
}

BOOL CLimiterDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    LoadIcons(0);
    m_tray.Add(m_hWnd);

    m_slider.SetRange(kLimitMin, kLimitMax);
    m_slider.SetTicFreq(kTickEvery);

    LimiterState& state = State();
    state.ready = 0;

    // The early exits end the modal loop through the quit message, so that
    // OnDestroy saves the settings and removes the icon as on any exit.
    // A folder the ANSI functions cannot name would otherwise look like a
    // missing tool, and its settings file could not be reached.
    const SettingsLoad load = LoadSettings();
    if (load == SettingsLoad::kUnusableFolder) {
        MessageBox(kUnusableFolderText, kWarningCaption, MB_ICONEXCLAMATION | MB_OK);
        PostQuitMessage(0);
        return TRUE;
    }
    // Guarded before the worker and its first command are made.
    UpdateGuard();
    // A guarded program cannot be ended by hand, so it must not stay ended
    // after a crash or a hang either; nor after the installer replaced it.
    // Not after a restart for an update: the Startup folder starts it then.
    RegisterApplicationRestart(nullptr, RESTART_NO_REBOOT);
    // From now on, the prompt's wait included: a hidden copy must follow
    // the ceiling set in another. It also takes the values of a file that
    // could not be read yet, as soon as it can be.
    ::SetTimer(m_hWnd, kSettingsTimerId, kSettingsCheckMs, nullptr);
    if (!FileExists(state.toolPath)) {
        MessageBox(kMissingToolText, kWarningCaption, MB_ICONEXCLAMATION | MB_OK);
        PostQuitMessage(0);
        return TRUE;
    }

    // The stored limit holds from the start, not only once someone answers
    // the prompt: started at sign-in, the prompt may wait for hours. A
    // cancelled prompt stops the worker again through OnDestroy.
    Store(state.running, 0);
    state.commandPromptBarred = CommandPromptBarred();
    StartLimiter();
    // Its thread too, where the system gave it another descriptor.
    UpdateGuard();
    if (load == SettingsLoad::kUnreadable) {
        // Said once the worker runs, so that the file's values hold as soon
        // as it can be read, also while this message waits.
        CString text;
        text.Format(kUnreadableSettingsText, SettingsPathText(false).c_str());
        MessageBox(text, kWarningCaption, MB_ICONEXCLAMATION | MB_OK);
    }

    CPasswordDlg prompt;
    prompt.m_nMode = state.password.IsEmpty() ? CPasswordDlg::kModeSet : CPasswordDlg::kModeVerify;
    if (prompt.DoModal() != IDOK) {
        // Without a password the prompt guards nothing, and with the lock
        // off there is nothing to hold. Otherwise a Cancel at every sign-in
        // would end the limiting without the password: the program stays,
        // hidden, and the icon asks for the password as it does later.
        if (state.password.IsEmpty() || !Load(state.lock)) {
            PostQuitMessage(0);
            return TRUE;
        }
        HideBehindPassword();
    } else {
        m_keepHidden = false;
    }
    state.ready = 1;
    // A first start has just set the password.
    UpdateGuard();

    ShowSettings();
    // FALSE: no control of a hidden window gets the focus.
    return m_keepHidden ? FALSE : TRUE;
}

BOOL CLimiterDlg::PreTranslateMessage(MSG* pMsg) {
    // The window has no OK or Cancel button; the dialog manager would still
    // end it on these keys.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_ESCAPE || pMsg->wParam == VK_RETURN)) {
        return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CLimiterDlg::OnDestroy() {
    CDialog::OnDestroy();
    SaveUnwrittenSettings();
    Store(State().running, 0);
    m_tray.Remove();
    Sleep(kWorkerGraceMs);
}

void CLimiterDlg::OnEndSession(BOOL bEnding) {
    // The session ends the process without destroying the window, so
    // OnDestroy never runs.
    if (bEnding) SaveUnwrittenSettings();
}

void CLimiterDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kSettingsTimerId) OnSettingsTimer();
}

void CLimiterDlg::OnSettingsTimer() {
    // Not in the middle of a drag: the thumb would jump from under the
    // mouse. The file is looked at again once it is let go.
    if (::GetCapture() == m_slider.m_hWnd) return;
    const unsigned taken = TakeSettingsChanges();
    if (taken & (kSettingLimit | kSettingLock)) ShowSettings();
    if (taken & (kSettingLock | kSettingPassword)) UpdateGuard();
}

void CLimiterDlg::UpdateGuard() {
    const LimiterState& state = State();
    SetProcessGuard(!state.password.IsEmpty() && Load(state.lock) != 0);
}

void CLimiterDlg::HideBehindPassword() {
    m_keepHidden = true;
    // Hidden windows can still be active and take keys: a space would reach
    // the lock's check box.
    ::EnableWindow(m_hWnd, FALSE);
    ShowWindow(SW_HIDE);
}

LRESULT CLimiterDlg::OnCommand(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    // Hidden, no person can click anything here, but a script can still
    // send commands: a ticked lock box is undone, and the close box, Alt+F4,
    // the system menu's Close and taskkill without /F, which all end in
    // IDCANCEL, end nothing. Only the password lets anyone out.
    if (m_keepHidden) {
        ShowSettings();
    } else {
        SetMsgHandled(false);
    }
    return 0;
}

void CLimiterDlg::ShowSettings() {
    const LimiterState& state = State();
    const int32_t limit = Load(state.limit);
    SendDlgItemMessage(IDC_CHECK_LOCK, BM_SETCHECK, Load(state.lock) ? BST_CHECKED : BST_UNCHECKED);
    m_slider.SetPos(limit);
    SetDlgItemInt(IDC_STATIC_VALUE, static_cast<UINT>(limit), TRUE);
}

void CLimiterDlg::OnPaint() {
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    RECT client;
    GetClientRect(&client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    dc.DrawIcon(x, y, m_hIcon.get());
}

HCURSOR CLimiterDlg::OnQueryDragIcon() { return static_cast<HCURSOR>(m_hIcon.get()); }

void CLimiterDlg::OnHScroll(UINT nSBCode, UINT nPos, CWnd* pScrollBar) {
    // As for the commands: hidden, a moved slider goes back.
    if (m_keepHidden) {
        ShowSettings();
        return;
    }
    const int position = m_slider.GetPos();
    Store(State().limit, position);
    SetDlgItemInt(IDC_STATIC_VALUE, static_cast<UINT>(position), TRUE);
    // Saved when the thumb is let go or a key (or the wheel) moves it, not
    // at every step of a drag.
    if (nSBCode != TB_THUMBTRACK) SaveChanges(kSettingLimit);
    CDialog::OnHScroll(nSBCode, nPos, pScrollBar);
}

void CLimiterDlg::OnCheckLock() {
    const LRESULT checked = SendDlgItemMessage(IDC_CHECK_LOCK, BM_GETCHECK);
    Store(State().lock, checked == BST_CHECKED ? 1 : 0);
    SaveChanges(kSettingLock);
    UpdateGuard();
}

void CLimiterDlg::SaveChanges(unsigned keys) {
    // Only what changed: the other setting may be older than what another
    // copy wrote since.
    bool denied = false;
    if (SaveSettings(keys, &denied) || m_toldUnsaved) return;
    m_toldUnsaved = true;
    // Shown once the control's own handling is over: a box opened inside it
    // would appear while the slider still holds the mouse.
    PostMessage(WM_SETTINGSUNSAVED, denied);
}

LRESULT CLimiterDlg::OnSettingsUnsaved(WPARAM wParam, LPARAM /*lParam*/) {
    // wParam: refused for lack of rights.
    CString text;
    text.Format(wParam ? kUnsavedDeniedText : kUnsavedText, SettingsPathText(true).c_str());
    MessageBox(text, nullptr, MB_ICONEXCLAMATION | MB_OK);
    return 0;
}

void CLimiterDlg::OnButtonPassword() {
    CPasswordDlg prompt;
    prompt.m_nMode = CPasswordDlg::kModeChange;
    prompt.DoModal();
    // An empty new password removes it.
    UpdateGuard();
}

void CLimiterDlg::StartLimiter() { ::StartLimiter(m_hWnd); }

// The notification-area icon, hiding and restoring.

LRESULT CLimiterDlg::OnTrayNotify(WPARAM /*wParam*/, LPARAM lParam) {
    if (lParam == WM_LBUTTONDOWN || lParam == WM_RBUTTONDOWN) RestoreFromTray();
    return 0;
}

LRESULT CLimiterDlg::OnTaskbarCreated(WPARAM /*wParam*/, LPARAM /*lParam*/) {
    // A restarted shell has forgotten the icon, and a hidden window would
    // have no way back.
    m_tray.AddAgain();
    return 0;
}

LRESULT CLimiterDlg::OnDpiChanged(WPARAM wParam, LPARAM /*lParam*/) {
    // Scaling changed, or the window moved to a screen with another: the
    // window's icons are loaded again at the new sizes. The notification
    // area's follows the taskbar's screen, whose scaling may have changed
    // too. The dialog manager resizes the window and its controls, so the
    // message goes on to it.
    LoadIcons(LOWORD(wParam));
    m_tray.Reload();
    SetMsgHandled(false);
    return 0;
}

void CLimiterDlg::LoadIcons(UINT dpi) {
    // Set before the old ones go: the window must never hold a destroyed icon.
    const HINSTANCE module = AfxGetInstanceHandle();
    UniqueIcon large(LoadIconForDpi(module, IDI_MAIN, SM_CXICON, SM_CYICON, dpi));
    UniqueIcon little(LoadIconForDpi(module, IDI_MAIN, SM_CXSMICON, SM_CYSMICON, dpi));
    SetIcon(large.get(), TRUE);
    SetIcon(little.get(), FALSE);
    m_hIcon = std::move(large);
    m_hSmallIcon = std::move(little);
}

void CLimiterDlg::RestoreFromTray() {
    // Until the start-up prompt has been passed, the window must not appear.
    if (!State().ready) return;
    CPasswordDlg prompt;
    prompt.m_nMode = CPasswordDlg::kModeVerify;
    if (prompt.DoModal() != IDOK) return;
    m_keepHidden = false;
    ::EnableWindow(m_hWnd, TRUE);
    ShowWindow(SW_SHOWNORMAL);
    SetForegroundWindow();
}

LRESULT CLimiterDlg::OnWindowPosChanging(WPARAM /*wParam*/, LPARAM lParam) {
    // The dialog manager and the modal loop show the window once it is
    // made; while it is to stay hidden, every such show is dropped, and the
    // window is not activated either: an active hidden window would take
    // keys (Alt+F4 among them) that nobody sees it take.
    if (m_keepHidden) {
        WINDOWPOS* const position = reinterpret_cast<WINDOWPOS*>(lParam);
        position->flags = (position->flags & ~SWP_SHOWWINDOW) | SWP_NOACTIVATE;
    }
    SetMsgHandled(false);
    return 0;
}

LRESULT CLimiterDlg::OnVolumeUnreadable(WPARAM wParam, LPARAM /*lParam*/) {
    // The worker says so once per run of failures, and once when it ends.
    if (wParam == kVolumeUnreadable) {
        m_tray.SetWarning(kUnreadableTip, kUnreadableTitle, kUnreadableText);
    } else if (wParam == kVolumeNotLowered) {
        m_tray.SetWarning(kNotLoweredTip, kNotLoweredTitle, kNotLoweredText);
    } else if (wParam == kOutputNotHeld) {
        m_tray.SetWarning(kOutputNotHeldTip, kOutputNotHeldTitle, kOutputNotHeldText);
    } else {
        m_tray.SetWarning(nullptr);
    }
    return 0;
}

void CLimiterDlg::OnSize(UINT nType, int cx, int cy) {
    // Hidden, the window has no taskbar button either: the icon is the way back.
    if (nType == SIZE_MINIMIZED) {
        HideBehindPassword();
        return;
    }
    CDialog::OnSize(nType, cx, cy);
}
