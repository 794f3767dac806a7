// The record that describes the program's notification-area icon to the
// shell, built without a window so that its limits can be checked directly.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstddef>

#include "framework/RecordSize.h"

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

// Copies tip into field (fieldSize bytes with its NUL). A longer tip is cut
// to what fits, never inside a double-byte character.
void CopyTrayTip(char* field, size_t fieldSize, const char* tip);

// The record for window's icon with the given image and tip.
NOTIFYICONDATAA MakeTrayRecord(HWND window, HICON icon, const char* tip);
