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

const UINT WM_TASKBARCREATED = RegisterWindowMessageA("TaskbarCreated");

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
    // be scaled twice. A warning has an image of its own.
    const UINT id = m_tip.IsEmpty() ? m_iconId : m_warningIconId;
    UniqueIcon icon(LoadIconForDpi(m_module, id, SM_CXSMICON, SM_CYSMICON, TaskbarDpi()));
    if (icon) m_icon = std::move(icon);
}

BOOL CTrayIcon::Add(HWND window) {
    m_window = window;
    // An elevated window takes no message from a shell of lower integrity
    // unless it lets it through; the icon would not come back after the
    // shell restarts. Windows 7 and later.
    ChangeWindowMessageFilterEx(window, WM_TASKBARCREATED, MSGFLT_ALLOW, nullptr);
    LoadImageForTaskbar();
    return Retry(Put());
}

BOOL CTrayIcon::AddAgain() {
    LoadImageForTaskbar();
    m_added = Notify(NIM_ADD, kTrayTip);
    if (!m_added) {
        Notify(NIM_DELETE, "");
        m_added = Notify(NIM_ADD, kTrayTip);
    }
    // The add gave the usual tip and no balloon.
    m_warningGiven = m_tip.IsEmpty();
    return Retry(m_added && GiveWarning());
}

BOOL CTrayIcon::Reload() {
    LoadImageForTaskbar();
    m_added = m_added && Notify(NIM_MODIFY, kTrayTip);
    m_warningGiven = m_tip.IsEmpty();
    return Retry(m_added ? GiveWarning() : Put());
}

BOOL CTrayIcon::Remove() {
    KillTimer(m_window, reinterpret_cast<UINT_PTR>(this));
    const BOOL removed = Notify(NIM_DELETE, "");
    m_added = false;
    m_icon.reset();
    return removed;
}

BOOL CTrayIcon::SetWarning(const char* tip, const char* balloonTitle, const char* balloonText) {
    const bool imageChanges = (tip && *tip) == m_tip.IsEmpty();
    m_tip = tip ? tip : "";
    m_balloonTitle = balloonText && balloonTitle ? balloonTitle : "";
    m_balloonText = balloonText ? balloonText : "";
    if (imageChanges) LoadImageForTaskbar();
    m_warningGiven = false;
    // Not there yet: the retry gives the warning with the icon.
    if (!m_added) return FALSE;
    return Retry(GiveWarning());
}

BOOL CTrayIcon::Put() {
    m_added = Notify(NIM_ADD, kTrayTip) || Notify(NIM_MODIFY, kTrayTip);
    m_warningGiven = m_tip.IsEmpty();
    return m_added && GiveWarning();
}

BOOL CTrayIcon::GiveWarning() {
    if (m_warningGiven) return TRUE;
    NOTIFYICONDATAW record =
        MakeTipRecord(m_window, m_tip.IsEmpty() ? kTrayTip : m_tip.c_str(), m_balloonTitle.c_str(),
                      m_balloonText.IsEmpty() ? nullptr : m_balloonText.c_str());
    record.uFlags |= NIF_ICON;
    record.hIcon = m_icon.get();
    if (m_gate && !m_gate(NIM_MODIFY, record.uFlags)) return FALSE;
    if (!Shell_NotifyIconW(NIM_MODIFY, &record)) return FALSE;
    m_warningGiven = true;
    m_balloonTitle = CString();
    m_balloonText = CString();
    return TRUE;
}

BOOL CTrayIcon::Retry(BOOL done) {
    // The timer's identifier is the object: the procedure needs nothing else.
    const UINT_PTR timer = reinterpret_cast<UINT_PTR>(this);
    if (done) {
        KillTimer(m_window, timer);
    } else {
        SetTimer(m_window, timer, kTrayRetryMs, OnRetryTimer);
    }
    return done;
}

void CALLBACK CTrayIcon::OnRetryTimer(HWND /*window*/, UINT /*message*/, UINT_PTR id,
                                      DWORD /*time*/) {
    CTrayIcon* const tray = reinterpret_cast<CTrayIcon*>(id);
    tray->Retry(tray->Put());
}

BOOL CTrayIcon::Notify(DWORD message, const char* tip) {
    NOTIFYICONDATAA record = MakeTrayRecord(m_window, m_icon.get(), tip);
    if (m_gate && !m_gate(message, record.uFlags)) return FALSE;
    return Shell_NotifyIconA(message, &record);
}
