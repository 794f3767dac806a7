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
// What the shell sends every top-level window when it starts again.
extern const UINT WM_TASKBARCREATED;

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

// Stands between the icon and the shell in tests: false refuses the call
// (an NIM_* message with the record's NIF_* flags), as a shell that is busy
// at sign-in, or gone while it starts again, does.
using TrayGate = bool (*)(DWORD message, UINT flags);

// The notification-area icon of one window, tip "Morvane", mouse events
// sent to it as WM_TRAYNOTIFY. Its image is always loaded at TaskbarDpi().
// What the shell refuses is given again every kTrayRetryMs until it is
// taken (the icon, then its warning), on a timer of the window's own.
class CTrayIcon {
public:
    CTrayIcon(HINSTANCE module, UINT iconId, UINT warningIconId, TrayGate gate = nullptr)
        : m_module(module), m_iconId(iconId), m_warningIconId(warningIconId), m_gate(gate) {}
    ~CTrayIcon() { KillTimer(m_window, reinterpret_cast<UINT_PTR>(this)); }

    // NIM_ADD for window; TRUE when the shell took it at once. Also lets the
    // shell's TaskbarCreated through to an elevated window.
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
    // While the ceiling is not held: the warning image, tip and, with
    // balloonText, one balloon. nullptr: the usual image and tip again. The
    // warning stays through AddAgain and Reload; the balloon is shown again
    // only when the shell refused it.
    BOOL SetWarning(const char* tip, const char* balloonTitle = nullptr,
                    const char* balloonText = nullptr);

    // The image the shell was last given (it keeps a copy of its own).
    HICON icon() const { return m_icon.get(); }

private:
    static void CALLBACK OnRetryTimer(HWND window, UINT message, UINT_PTR id, DWORD time);
    BOOL Notify(DWORD message, const char* tip);
    // The image at the notification area's size; the old one stays if the
    // new one cannot be loaded.
    void LoadImageForTaskbar();
    // NIM_ADD, or a shell that holds the icon already (an add that timed
    // out may still have been taken); then the warning, if any.
    BOOL Put();
    // The warning's image, tip and balloon, when the shell still lacks them.
    BOOL GiveWarning();
    BOOL Retry(BOOL done);

    HINSTANCE m_module;
    UINT m_iconId, m_warningIconId;
    TrayGate m_gate;
    HWND m_window = nullptr;
    UniqueIcon m_icon;
    bool m_added = false;                   // the shell holds the icon
    bool m_warningGiven = true;             // the shell shows m_tip, or nothing is to be shown
    CString m_tip;                          // the warning's; empty for the usual one
    CString m_balloonTitle, m_balloonText;  // a balloon not yet shown
};

constexpr UINT kTrayRetryMs = 1000;
