// The notification-area icon's record (see Tray.h).
#include "ui/Tray.h"

#include <cstring>

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
