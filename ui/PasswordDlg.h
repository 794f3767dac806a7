// The password prompt: set (0), verify (1) or change (2) the password that
// guards the main window. Callers look only at the end code: IDOK lets them
// go on.
#pragma once

#include "framework/Handles.h"
#include "framework/Window.h"

class CPasswordDlg : public CDialog {
public:
    explicit CPasswordDlg(CWnd* pParent = nullptr);

    enum { kModeSet = 0, kModeVerify = 1, kModeChange = 2 };
    // Every caller sets it; until then the prompt verifies, so that a
    // forgotten assignment never opens the window without a check.
    int m_nMode = kModeVerify;

    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    // Verify mode: ends with OK when entered is the stored password.
    void CheckPassword(const CString& entered);
    // Set and change modes: stores entered as the new password and ends with OK.
    void SaveNewPassword(const CString& entered);
    void ClearEntry();

    // The taskbar button's icons over a hidden owner; they outlive the window.
    UniqueIcon m_bigIcon;
    UniqueIcon m_smallIcon;
};
