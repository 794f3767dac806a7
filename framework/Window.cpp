// Dialogs: the dialog procedure, the modal loop and centring.
#include "framework/Window.h"

#include <vector>

#include "framework/App.h"
#include "framework/RecordSize.h"

namespace {

CString TextOf(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) return CString();
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
    GetWindowTextW(window, buffer.data(), length + 1);
    const CString text = NarrowFromWide(buffer.data());
    // The text may be a password: leave no copy in freed memory.
    SecureZeroMemory(buffer.data(), buffer.size() * sizeof(wchar_t));
    return text;
}

// Messages whose result is the dialog procedure's return value instead of
// DWLP_MSGRESULT.
bool ResultIsReturnValue(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CHARTOITEM:
        case WM_VKEYTOITEM:
        case WM_COMPAREITEM:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        default:
            return false;
    }
}

static_assert(sizeof(MONITORINFO) == RecordSize(40, 40), "MONITORINFO");

}  // namespace

CString CWnd::GetWindowText() const { return TextOf(m_hWnd); }

void CWnd::SetWindowText(const char* text) {
    ::SetWindowTextW(m_hWnd, WideFromNarrow(text).c_str());
}

void CWnd::SetDlgItemText(int nID, const char* text) {
    ::SetDlgItemTextW(m_hWnd, nID, WideFromNarrow(text).c_str());
}

CString CWnd::GetDlgItemText(int nID) const { return TextOf(::GetDlgItem(m_hWnd, nID)); }

bool CWnd::OnWndMsg(UINT, WPARAM, LPARAM, LRESULT*) { return false; }

bool CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    const bool outer = m_msgHandled;
    const bool handled = OnWndMsg(message, wParam, lParam, pResult);
    m_msgHandled = outer;
    return handled;
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl) {
    // Attached again on every load: a dialog object run twice gets new controls.
    if (!pDX->m_bSaveAndValidate || !rControl.m_hWnd)
        rControl.m_hWnd = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

HWND CDialog::ChooseOwner() const {
    if (m_pParentWnd) return m_pParentWnd->m_hWnd;
    CWinApp* app = AfxGetApp();
    if (!app || !app->m_pMainWnd || app->m_pMainWnd == this) return nullptr;
    HWND main = app->m_pMainWnd->m_hWnd;
    return main && IsWindow(main) ? main : nullptr;
}

INT_PTR CDialog::DoModal() {
    m_owner = ChooseOwner();
    // Disabled while we run, as the system's own modal dialogs do, so that
    // the user answers the dialog before touching the owner again.
    m_disabledOwner = m_owner && IsWindowEnabled(m_owner);
    if (m_disabledOwner) EnableWindow(m_owner, FALSE);

    m_ended = false;
    m_nModalResult = -1;
    // A Unicode dialog: an ANSI one would pass every text through the
    // system's ANSI code page, where the program's Chinese may not exist.
    const HWND hwnd = CreateDialogParamW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(m_nIDTemplate),
                                         m_owner, DialogProc, reinterpret_cast<LPARAM>(this));
    if (!hwnd) {
        EnableOwner();
        return -1;
    }
    if (!m_ended && !::IsWindowVisible(hwnd)) ::ShowWindow(hwnd, SW_SHOWNORMAL);

    bool quit = false;
    int quitCode = 0;
    MSG msg;
    while (!m_ended && m_hWnd) {
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == -1) break;
        if (got == 0) {
            quit = true;
            quitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (!PreTranslateMessage(&msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    const INT_PTR result = quit ? IDCANCEL : (m_ended ? m_nModalResult : -1);

    // The owner is enabled again before we go, so that the system activates
    // it rather than some other program's window.
    EnableOwner();
    if (m_hWnd) {
        SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        DestroyWindow(m_hWnd);
    }
    // After the window is gone, so that a message box in a destroy handler
    // still works; the loops outside then end one by one.
    if (quit) PostQuitMessage(quitCode);
    return result;
}

void CDialog::EnableOwner() {
    if (m_disabledOwner) EnableWindow(m_owner, TRUE);
    m_disabledOwner = false;
}

void CDialog::EndDialog(int nResult) {
    m_nModalResult = nResult;
    m_ended = true;
    if (!m_hWnd) return;
    // Owner first, so that hiding the dialog hands the activation to it.
    EnableOwner();
    ::ShowWindow(m_hWnd, SW_HIDE);
    // EndDialog may be called while GetMessage is handling a message sent
    // from another thread; a posted message lets the loop see the flag.
    ::PostMessageA(m_hWnd, WM_NULL, 0, 0);
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    CenterWindow();
    return TRUE;
}

BOOL CDialog::PreTranslateMessage(MSG* pMsg) { return IsDialogMessageW(m_hWnd, pMsg); }

BOOL CDialog::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CDialog::GotoDlgCtrl(HWND control) {
    SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

void CDialog::CenterWindow() {
    RECT window;
    if (!::GetWindowRect(m_hWnd, &window)) return;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    const bool overOwner = owner && ::IsWindowVisible(owner) && !::IsIconic(owner);
    GetMonitorInfoA(MonitorFromWindow(overOwner ? owner : m_hWnd, MONITOR_DEFAULTTOPRIMARY),
                    &monitor);
    const RECT area = monitor.rcWork;
    RECT around = area;
    if (overOwner) ::GetWindowRect(owner, &around);

    const LONG width = window.right - window.left;
    const LONG height = window.bottom - window.top;
    LONG x = (around.left + around.right - width) / 2;
    LONG y = (around.top + around.bottom - height) / 2;
    // Keep the whole dialog on the screen when its owner sits at an edge.
    if (x + width > area.right) x = area.right - width;
    if (x < area.left) x = area.left;
    if (y + height > area.bottom) y = area.bottom - height;
    if (y < area.top) y = area.top;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (message == WM_INITDIALOG) {
        *pResult = OnInitDialog();
        return true;
    }
    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        // Enter, Escape and the close box arrive here as these two commands.
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            *pResult = 0;
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            *pResult = 0;
            return true;
        }
    }
    return CWnd::OnWndMsg(message, wParam, lParam, pResult);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        SetWindowLongPtrA(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CDialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
    }
    // Messages before WM_INITDIALOG (WM_SETFONT...) get default processing.
    if (!self) return FALSE;

    LRESULT result = 0;
    const bool handled = self->Dispatch(message, wParam, lParam, &result);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(hwnd, DWLP_USER, 0);
        self->m_hWnd = nullptr;
    }
    if (!handled) return FALSE;
    if (ResultIsReturnValue(message)) return static_cast<INT_PTR>(result);
    SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}
