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
    LRESULT OnCommand(WPARAM wParam, LPARAM lParam);

    // Writes the changed settings (kSettingLimit, kSettingLock) at once, so
    // that a killed program or a lost power supply loses nothing; says once
    // per run when it cannot.
    void SaveChanges(unsigned keys);
    // Takes what other copies wrote to the settings file, and shows it.
    void OnSettingsTimer();
    // Shows limit and lock of State() in the controls.
    void ShowSettings();
    // Guards the process while a password is stored and the lock is on,
    // whichever copy set them; lifts the guard otherwise.
    void UpdateGuard();
    // Hides the window until the password is given at the icon.
    void HideBehindPassword();

    // The window's big and small icons at the sizes for dpi (0: the system's).
    void LoadIcons(UINT dpi);

    CSliderCtrl m_slider;
    UniqueIcon m_hIcon;
    UniqueIcon m_hSmallIcon;
    CTrayIcon m_tray;
    // Hidden behind the password: until the start-up prompt is passed, and
    // after a cancelled one or a minimise until the password is given at the
    // icon. The window then stays hidden and disabled, and ignores what only
    // a person at it may do (close, lock, slider), which a script can still
    // send it.
    bool m_keepHidden = true;
    bool m_toldUnsaved = false;  // the one message about unsaved changes

    DECLARE_MESSAGE_MAP()
};
