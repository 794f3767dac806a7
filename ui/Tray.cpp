// The notification-area icon and its record (see Tray.h).
#include "ui/Tray.h"

#include <cstring>
#include <cwchar>
#include <string>
#include <utility>

#include "framework/String.h"

namespace {

const char kTrayTip[] = "Morvane";

// Cut to byteLimit bytes with the NUL as a tip is, then widened: a code page
// 936 character is at least one byte, so the field is never overrun.
template <size_t N>
void CopyWideText(wchar_t (&field)[N], const char* text, size_t byteLimit = N) {
    char cut[N];
    CopyTrayTip(cut, byteLimit < N ? byteLimit : N, text);
    const std::wstring wide = WideFromNarrow(cut);
    const size_t length = wide.size() < N ? wide.size() : N - 1;
    wmemcpy(field, wide.c_str(), length);
    field[length] = L'\0';
}

}  // namespace

void CopyTrayTip(char* field, size_t fieldSize, const char* tip) {
    if (fieldSize == 0) return;
    size_t length = 0;
    const size_t limit = fieldSize - 1;
    while (tip && tip[length] != '\0') {
        // Take a double-byte character whole or not at all.
        const size_t step =
            IsDBCSLeadByte(static_cast<BYTE>(tip[length])) && tip[length + 1] ? 2 : 1;
        if (length + step > limit) break;
        length += step;
    }
    if (length) memcpy(field, tip, length);
    field[length] = '\0';
}

NOTIFYICONDATAA MakeTrayRecord(HWND window, HICON icon, const char* tip) {
    NOTIFYICONDATAA record = {};
    record.cbSize = kTrayRecordSize;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = kTrayFlags;
    record.uCallbackMessage = WM_TRAYNOTIFY;
    record.hIcon = icon;
    CopyTrayTip(record.szTip, kTrayTipSize, tip);
    return record;
}

NOTIFYICONDATAW MakeTipRecord(HWND window, const char* tip, const char* balloonTitle,
                              const char* balloonText) {
    NOTIFYICONDATAW record = {};
    record.cbSize = kTrayBalloonRecordSize;
    record.hWnd = window;
    record.uID = kTrayIconId;
    record.uFlags = NIF_TIP;
    CopyWideText(record.szTip, tip, kTrayTipSize);
    if (balloonText) {
        record.uFlags |= NIF_INFO;
        record.dwInfoFlags = NIIF_WARNING;
        CopyWideText(record.szInfo, balloonText);
        CopyWideText(record.szInfoTitle, balloonTitle);
    }
    return record;
}

HICON LoadIconForDpi(HINSTANCE module, UINT id, int cx, int cy, UINT dpi) {
    int width = GetSystemMetrics(cx), height = GetSystemMetrics(cy);
    if (dpi) {
        // The metrics are those of the system's DPI, which a per-monitor
        // aware program keeps until the user signs out; the functions that
        // answer for another DPI are newer than Windows 7.
        const HDC screen = GetDC(nullptr);
        const int systemDpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
        if (screen) ReleaseDC(nullptr, screen);
        if (systemDpi > 0) {
            width = MulDiv(width, static_cast<int>(dpi), systemDpi);
            height = MulDiv(height, static_cast<int>(dpi), systemDpi);
        }
    }
    return static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}

BOOL CTrayIcon::Add(HWND window) {
    m_window = window;
    // Loaded at the notification area's size: an icon of the default size
    // would be scaled twice.
    m_icon.reset(LoadIconForDpi(m_module, m_iconId, SM_CXSMICON, SM_CYSMICON));
    return Notify(NIM_ADD, kTrayTip);
}

BOOL CTrayIcon::AddAgain() {
    if (Notify(NIM_ADD, kTrayTip)) return TRUE;
    Notify(NIM_DELETE, "");
    return Notify(NIM_ADD, kTrayTip);
}

BOOL CTrayIcon::Reload(UINT dpi) {
    UniqueIcon icon(LoadIconForDpi(m_module, m_iconId, SM_CXSMICON, SM_CYSMICON, dpi));
    if (!icon) return FALSE;
    m_icon = std::move(icon);
    return Notify(NIM_MODIFY, kTrayTip);
}

BOOL CTrayIcon::Remove() {
    const BOOL removed = Notify(NIM_DELETE, "");
    m_icon.reset();
    return removed;
}

BOOL CTrayIcon::SetTip(const char* tip, const char* balloonTitle, const char* balloonText) {
    NOTIFYICONDATAW record =
        MakeTipRecord(m_window, tip ? tip : kTrayTip, balloonTitle, balloonText);
    return Shell_NotifyIconW(NIM_MODIFY, &record);
}

BOOL CTrayIcon::Notify(DWORD message, const char* tip) {
    NOTIFYICONDATAA record = MakeTrayRecord(m_window, m_icon.get(), tip);
    return Shell_NotifyIconA(message, &record);
}
