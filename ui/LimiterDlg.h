// The main window: the limit slider and the lock switch, the notification-
// area icon with hiding and restoring, and the bringing up and down of the
// whole program around them.
#pragma once

#include <windows.h>

#include "framework/Window.h"

class CLimiterDlg : public CDialog {
public:
    explicit CLimiterDlg(CWnd* pParent = nullptr);

    // Starts the limiter worker for this window.
    void StartLimiter();

    // Adds (NIM_ADD), changes (NIM_MODIFY) or removes (NIM_DELETE) this
    // window's notification-area icon; TRUE when the shell accepted it.
    BOOL NotifyTray(DWORD message, const char* tip);
    // Shows the window again once the password has been given.
    void RestoreFromTray();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnDestroy();
    void OnSize(UINT nType, int cx, int cy);
    void OnHScroll(UINT nSBCode, UINT nPos, CWnd* pScrollBar);
    void OnButtonPassword();
    void OnCheckLock();
    LRESULT OnTrayNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnTaskbarCreated(WPARAM wParam, LPARAM lParam);
    void OnEndSession(BOOL bEnding);

    CSliderCtrl m_slider;
    HICON m_hIcon;

    DECLARE_MESSAGE_MAP()
};
