// The password prompt and what OK does with the text typed into it.
#include "ui/PasswordDlg.h"

#include "framework/App.h"
#include "framework/Icon.h"
#include "res/resource.h"
#include "settings/LimiterState.h"
#include "settings/Settings.h"
#include "ui/PasswordHash.h"

namespace {

const char kPasswordKey[] = "p1";
const char kWrongPassword[] = "密码错误，请重新输入。";
const char kHashFailed[] = "无法生成密码的校验值，密码未保存。";
const char kWriteFailed[] = "无法写入设置文件 config.ini，密码未保存。";
const char kThisRunOnly[] = "无法在此文件夹中保存设置，密码仅在本次运行中有效。";
// Refused for lack of rights, as under Program Files without administrator's
// rights; the main window says the same of the ceiling and the switch.
const char kWriteDenied[] =
    "无法在文件夹 %s 中保存设置（config.ini）：没有写入权限，密码未保存。"
    "要修改密码，请以管理员身份运行 Morvane。";
const char kThisRunOnlyDenied[] =
    "无法在文件夹 %s 中保存设置（config.ini）：没有写入权限。密码只在本次运行中有效。"
    "要保留密码，请以管理员身份运行 Morvane，再设定一次。";

// deniedText with the folder named when the write was refused for lack of
// rights, otherwise otherText.
CString UnsavedText(bool denied, const char* deniedText, const char* otherText) {
    if (!denied) return otherText;
    CString text;
    text.Format(deniedText, SettingsPathText(true).c_str());
    return text;
}

}  // namespace

CPasswordDlg::CPasswordDlg(CWnd* pParent) : CDialog(IDD_PASSWORD, pParent) {}

BOOL CPasswordDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CString verb;
    CString label = "新密码";
    switch (m_nMode) {
        case kModeSet:
            verb = "设定";
            break;
        case kModeVerify:
            verb = "验证";
            label = "密码";
            break;
        case kModeChange:
            verb = "修改";
            break;
        default:
            break;
    }
    SetWindowText(verb + "密码");
    SetDlgItemText(IDC_STATIC_LABEL, label);

    // Over a hidden owner (at start-up, or with the window in the tray) the
    // prompt would have no taskbar button and no Alt+Tab entry: one that
    // fell behind another window could be found again only through the icon.
    const HWND owner = ::GetWindow(m_hWnd, GW_OWNER);
    if (!owner || !::IsWindowVisible(owner)) {
        SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE,
                          GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_APPWINDOW);
        // The button shows the program's icon, not a blank one. Shared
        // icons would not do: the system keeps the first size loaded of a
        // resource and hands it out for every other.
        const HINSTANCE module = AfxGetInstanceHandle();
        m_bigIcon.reset(LoadIconForDpi(module, IDI_MAIN, SM_CXICON, SM_CYICON));
        m_smallIcon.reset(LoadIconForDpi(module, IDI_MAIN, SM_CXSMICON, SM_CYSMICON));
        SetIcon(m_bigIcon.get(), TRUE);
        SetIcon(m_smallIcon.get(), FALSE);
        ShowWindow(SW_SHOWNORMAL);
        SetForegroundWindow();
    }
    return TRUE;  // the focus goes to the first tab stop, the edit box
}

void CPasswordDlg::OnOK() {
    const CString entered = GetDlgItemText(IDC_EDIT_PASSWORD);
    switch (m_nMode) {
        case kModeVerify:
            CheckPassword(entered);
            break;
        case kModeSet:
            // A password stored since the prompt opened (by another copy, or
            // in a file that could not be read at start-up) is not replaced
            // unseen: it is asked for instead.
            if (!State().password.IsEmpty()) {
                CheckPassword(entered);
                break;
            }
            SaveNewPassword(entered);
            break;
        case kModeChange:
            SaveNewPassword(entered);
            break;
        default:
            // No caller uses another mode; it neither checks nor stores.
            CDialog::OnOK();
            break;
    }
}

void CPasswordDlg::CheckPassword(const CString& entered) {
    LimiterState& state = State();
    if (state.password.IsEmpty()) {
        CDialog::OnOK();
        return;
    }
    if (!VerifyPassword(entered, state.password)) {
        MessageBox(kWrongPassword, nullptr, MB_OK | MB_ICONEXCLAMATION);
        ClearEntry();
        return;
    }
    if (!IsPasswordHash(state.password)) {
        // Written by an earlier program in plain text: from now on only the
        // hash is kept. If hashing or writing fails, the old value stays
        // and still works.
        const CString hash = HashPassword(entered);
        if (!hash.IsEmpty() && WriteSetting(kPasswordKey, hash)) state.password = hash;
    }
    CDialog::OnOK();
}

void CPasswordDlg::SaveNewPassword(const CString& entered) {
    // An empty entry removes the password: the prompt then lets anyone in.
    const CString value = entered.IsEmpty() ? CString() : HashPassword(entered);
    if (!entered.IsEmpty() && value.IsEmpty()) {
        MessageBox(kHashFailed, nullptr, MB_OK | MB_ICONSTOP);
        return;
    }
    bool denied = false;
    if (!WriteSetting(kPasswordKey, value, &denied)) {
        // A user changing the password is already in: the old one stays.
        if (m_nMode != kModeSet) {
            MessageBox(UnsavedText(denied, kWriteDenied, kWriteFailed), nullptr,
                       MB_OK | MB_ICONSTOP);
            return;
        }
        // At the first start, refusing would lock the user out of a folder
        // we cannot write (read-only media, a share, Program Files): the
        // password guards this run instead.
        MessageBox(UnsavedText(denied, kThisRunOnlyDenied, kThisRunOnly), nullptr,
                   MB_OK | MB_ICONEXCLAMATION);
    }
    State().password = value;
    CDialog::OnOK();
}

void CPasswordDlg::ClearEntry() {
    SetDlgItemText(IDC_EDIT_PASSWORD, "");
    GotoDlgCtrl(GetDlgItem(IDC_EDIT_PASSWORD));
}
