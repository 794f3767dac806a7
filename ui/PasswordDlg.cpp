// The password prompt and what OK does with the text typed into it.
#include "ui/PasswordDlg.h"

#include "res/resource.h"
#include "settings/LimiterState.h"
#include "ui/PasswordHash.h"

namespace {

const char kSection[] = "user";
const char kPasswordKey[] = "p1";

// Writes p1 to the settings file; false when the file cannot be written.
bool WriteStoredPassword(const CString& value) {
    return WritePrivateProfileStringA(kSection, kPasswordKey, value, State().iniPath) != FALSE;
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
    return TRUE;  // the focus goes to the first tab stop, the edit box
}

void CPasswordDlg::OnOK() {
    const CString entered = GetDlgItemText(IDC_EDIT_PASSWORD);
    switch (m_nMode) {
        case kModeVerify:
            Verify(entered);
            break;
        case kModeSet:
        case kModeChange:
            Store(entered);
            break;
        default:
            // No caller uses another mode; it neither checks nor stores.
            CDialog::OnOK();
            break;
    }
}

void CPasswordDlg::Verify(const CString& entered) {
    LimiterState& state = State();
    if (state.password.IsEmpty()) {
        CDialog::OnOK();
        return;
    }
    if (!VerifyPassword(entered, state.password)) {
        MessageBox("密码错误，请重新输入。", nullptr, MB_OK | MB_ICONEXCLAMATION);
        ClearEntry();
        return;
    }
    if (!IsPasswordHash(state.password)) {
        // Written by an earlier program in plain text: from now on only the
        // hash is kept. If hashing or writing fails, the old value stays
        // and still works.
        const CString hash = HashPassword(entered);
        if (!hash.IsEmpty() && WriteStoredPassword(hash)) state.password = hash;
    }
    CDialog::OnOK();
}

void CPasswordDlg::Store(const CString& entered) {
    // An empty entry removes the password: the prompt then lets anyone in.
    const CString value = entered.IsEmpty() ? CString() : HashPassword(entered);
    if (!entered.IsEmpty() && value.IsEmpty()) {
        MessageBox("无法生成密码的校验值，密码未保存。", nullptr, MB_OK | MB_ICONSTOP);
        return;
    }
    if (!WriteStoredPassword(value)) {
        MessageBox("无法写入设置文件 config.ini，密码未保存。", nullptr, MB_OK | MB_ICONSTOP);
        return;
    }
    State().password = value;
    CDialog::OnOK();
}

void CPasswordDlg::ClearEntry() {
    SetDlgItemText(IDC_EDIT_PASSWORD, "");
    GotoDlgCtrl(GetDlgItem(IDC_EDIT_PASSWORD));
}
