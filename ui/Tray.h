// The program's notification-area icon: the record that describes it to the
// shell, built without a window so that its limits can be checked directly,
// and the icon itself, kept at the size the display's scaling asks for.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>

#include "framework/Handles.h"
#include "framework/Icon.h"
#include "framework/RecordSize.h"
#include "framework/String.h"

// The icon's identifier and the message the shell sends for mouse events on it.
constexpr UINT kTrayIconId = 100;
constexpr UINT WM_TRAYNOTIFY = WM_USER + 100;
constexpr UINT kTrayFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;

// The record in its first and smallest form, which every shell accepts: 88
// bytes in a 32-bit program. Only the first 64 bytes of the tip are part of
// that form.
constexpr DWORD kTrayRecordSize = NOTIFYICONDATAA_V1_SIZE;
constexpr size_t kTrayTipSize = 64;
static_assert(kTrayRecordSize == RecordSize(88, 104), "the first form of the record");

// Changing the tip and showing a balloon take the record's second form, the
// smallest with the balloon's fields (NIF_INFO). It is the wide record: the
// ANSI one would pass the Chinese texts through the system's code page,
// which may not be 936. The tip is still cut to the first form's field.
constexpr DWORD kTrayBalloonRecordSize = NOTIFYICONDATAW_V2_SIZE;
static_assert(kTrayBalloonRecordSize == RecordSize(936, 952), "the second form of the wide record");

// Copies tip into field (fieldSize bytes with its NUL). A longer tip is cut
// to what fits, never inside a double-byte character.
void CopyTrayTip(char* field, size_t fieldSize, const char* tip);

// The record for window's icon with the given image and tip.
NOTIFYICONDATAA MakeTrayRecord(HWND window, HICON icon, const char* tip);

// The record that gives window's icon tip and, when balloonText is given, shows
// it once as a warning balloon under balloonTitle. Texts in code page 936.
NOTIFYICONDATAW MakeTipRecord(HWND window, const char* tip, const char* balloonTitle,
                              const char* balloonText);

// The scaling of the screen that holds the primary taskbar, and with it the
// notification area: not always the screen of our window.
UINT TaskbarDpi();

// The notification-area icon of one window, tip "Morvane", mouse events
// sent to it as WM_TRAYNOTIFY. Its image is always loaded at TaskbarDpi().
class CTrayIcon {
public:
    CTrayIcon(HINSTANCE module, UINT iconId) : m_module(module), m_iconId(iconId) {}

    // NIM_ADD for window; TRUE when the shell took it.
    BOOL Add(HWND window);
    // After the shell has started again or the scaling changed (both send
    // TaskbarCreated), with the image loaded again: a new shell has
    // forgotten the icon; one that still holds it refuses the add, and the
    // old entry is then replaced.
    BOOL AddAgain();
    // The image loaded again (WM_DPICHANGED) and shown.
    BOOL Reload();
    // NIM_DELETE; the window keeps no icon afterwards.
    BOOL Remove();
    // A new tip (nullptr: the usual one) and, with balloonText, one balloon.
    // The tip stays through AddAgain and Reload; the balloon is not shown again.
    BOOL SetTip(const char* tip, const char* balloonTitle = nullptr,
                const char* balloonText = nullptr);

    // The image the shell was last given (it keeps a copy of its own).
    HICON icon() const { return m_icon.get(); }

private:
    BOOL Notify(DWORD message, const char* tip);
    // The image at the notification area's size; the old one stays if the
    // new one cannot be loaded.
    void LoadImageForTaskbar();
    // After an add or a modify that gave the shell the usual tip: ours again.
    BOOL KeepTip(BOOL shown);

    HINSTANCE m_module;
    UINT m_iconId;
    HWND m_window = nullptr;
    UniqueIcon m_icon;
    CString m_tip;  // set by SetTip; empty for the usual one
};
