// The main window: the limit slider and the lock switch, the notification-
// area icon with hiding and restoring, and the bringing up and down of the
// whole program around them.
#pragma once

#include <windows.h>

#include "framework/Handles.h"
#include "framework/Window.h"
#include "ui/Tray.h"

class CLimiterDlg : public CDialog {
public:
    explicit CLimiterDlg(CWnd* pParent = nullptr);

    // Starts the limiter worker for this window.
    void StartLimiter();

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
    LRESULT OnDpiChanged(WPARAM wParam, LPARAM lParam);
    void OnEndSession(BOOL bEnding);
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnWindowPosChanging(WPARAM wParam, LPARAM lParam);
    LRESULT OnVolumeUnreadable(WPARAM wParam, LPARAM lParam);
    LRESULT OnSettingsUnsaved(WPARAM wParam, LPARAM lParam);

    // Writes the changed settings (kSettingLimit, kSettingLock) at once, so
    // that a killed program or a lost power supply loses nothing; says once
    // per run when it cannot.
    void SaveChanges(unsigned keys);
    // Takes what other copies wrote to the settings file, and shows it.
    void OnSettingsTimer();
    // Shows limit and lock of State() in the controls.
    void ShowSettings();

    // The window's big and small icons at the sizes for dpi (0: the system's).
    void LoadIcons(UINT dpi);

    CSliderCtrl m_slider;
    UniqueIcon m_hIcon;
    UniqueIcon m_hSmallIcon;
    CTrayIcon m_tray;
    // A cancelled start-up prompt with the lock on keeps the window hidden
    // (and unable to take input) until the password is given at the icon.
    bool m_keepHidden = false;
    bool m_toldUnsaved = false;  // the one message about unsaved changes

    DECLARE_MESSAGE_MAP()
};
