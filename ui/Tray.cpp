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

UINT TaskbarDpi() {
    // Windows 8.1 and later scale each screen on its own; before, every
    // screen has the system's scaling.
    using GetDpiForMonitor = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    const GetDpiForMonitor getDpi =
        SystemFunction<GetDpiForMonitor>("shcore.dll", "GetDpiForMonitor");
    const HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    const HMONITOR screen = taskbar ? MonitorFromWindow(taskbar, MONITOR_DEFAULTTOPRIMARY)
                                    : MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY);
    const int kEffectiveDpi = 0;  // MDT_EFFECTIVE_DPI: what the user chose
    UINT dpiX = 0, dpiY = 0;
    if (getDpi && screen && SUCCEEDED(getDpi(screen, kEffectiveDpi, &dpiX, &dpiY)) && dpiX) {
        return dpiX;
    }
    return SystemDpi();
}

void CTrayIcon::LoadImageForTaskbar() {
    // At the notification area's size: an icon of the default size would
    // be scaled twice.
    UniqueIcon icon(LoadIconForDpi(m_module, m_iconId, SM_CXSMICON, SM_CYSMICON, TaskbarDpi()));
    if (icon) m_icon = std::move(icon);
}

BOOL CTrayIcon::Add(HWND window) {
    m_window = window;
    LoadImageForTaskbar();
    return Notify(NIM_ADD, kTrayTip);
}

BOOL CTrayIcon::AddAgain() {
    LoadImageForTaskbar();
    if (Notify(NIM_ADD, kTrayTip)) return KeepTip(TRUE);
    Notify(NIM_DELETE, "");
    return KeepTip(Notify(NIM_ADD, kTrayTip));
}

BOOL CTrayIcon::Reload() {
    LoadImageForTaskbar();
    return KeepTip(Notify(NIM_MODIFY, kTrayTip));
}

BOOL CTrayIcon::Remove() {
    const BOOL removed = Notify(NIM_DELETE, "");
    m_icon.reset();
    return removed;
}

BOOL CTrayIcon::SetTip(const char* tip, const char* balloonTitle, const char* balloonText) {
    m_tip = tip;
    NOTIFYICONDATAW record =
        MakeTipRecord(m_window, tip ? tip : kTrayTip, balloonTitle, balloonText);
    return Shell_NotifyIconW(NIM_MODIFY, &record);
}

BOOL CTrayIcon::KeepTip(BOOL shown) {
    if (!shown || m_tip.IsEmpty()) return shown;
    NOTIFYICONDATAW record = MakeTipRecord(m_window, m_tip, nullptr, nullptr);
    return Shell_NotifyIconW(NIM_MODIFY, &record);
}

BOOL CTrayIcon::Notify(DWORD message, const char* tip) {
    NOTIFYICONDATAA record = MakeTrayRecord(m_window, m_icon.get(), tip);
    return Shell_NotifyIconA(message, &record);
}
