// Puts one of Morvane.exe's screens up for scripts/screenshots:
//     show_screen SCREEN READY CLOSE
// SCREEN is set, verify or change (the password prompt in that mode), wrong
// (the verify prompt with the message after a wrong password over it), main
// (the main window with the lock on at 60) or main144 (the same at 144 DPI,
// 150 % display scaling). Once the screen is up it writes the rectangle to
// photograph ("left top width height") to READY; it ends the program when
// CLOSE appears.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "res/resource.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

// Makes over (if given, else window) the foreground window and writes the
// rectangle around both to the file the script waits for.
bool Ready(const std::string& ready, HWND window, HWND over) {
    HWND front = over ? over : window;
    SetForegroundWindow(front);
    // With no window manager Wine paints even the foreground window's title
    // bar as inactive; Windows shows it active.
    Send(front, WM_NCACTIVATE, TRUE);
    RECT area = {}, second = {};
    if (!GetWindowRect(window, &area)) return false;
    if (over && GetWindowRect(over, &second)) UnionRect(&area, &area, &second);
    char text[64];
    snprintf(text, sizeof text, "%ld %ld %ld %ld\n", area.left, area.top, area.right - area.left,
             area.bottom - area.top);
    return WriteFile(ready, text);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string screen = argc == 4 ? argv[1] : "";
    // The password in plain text, as an earlier program wrote it.
    Morvane morvane("morvane screenshot");
    if (!morvane.Prepare(screen == "set" ? "" : "[user]\r\nvol=60\r\nisLock=1\r\np1=shot\r\n")) {
        return 1;
    }
    HWND window = nullptr, over = nullptr;
    if (screen == "set" || screen == "verify" || screen == "wrong") {
        const char* caption = screen == "set" ? kSetPrompt : kVerifyPrompt;
        window = morvane.StartToPrompt(caption) ? morvane.WaitDialog(caption) : nullptr;
        if (window && screen == "wrong" && SetItemText(window, IDC_EDIT_PASSWORD, "wrong") &&
            Click(window, IDOK)) {
            over = WaitOwnedDialog(window);
        }
    } else if (screen == "change") {
        HWND main = morvane.StartToMainWindow("shot");
        if (main && Click(main, IDC_BUTTON_PASSWORD)) window = morvane.WaitDialog(kChangePrompt);
    } else if (screen == "main" || screen == "main144") {
        std::optional<ScopedLogPixels> dpi;
        if (screen == "main144") dpi.emplace(144);
        window = morvane.StartToMainWindow("shot");
    } else {
        fprintf(stderr, "usage: show_screen set|verify|change|wrong|main|main144 READY CLOSE\n");
        return 2;
    }
    if (!window || (screen == "wrong" && !over) || !Ready(argv[2], window, over)) return 1;
    const std::string close = argv[3];
    WaitFor([&] { return GetFileAttributesA(close.c_str()) != INVALID_FILE_ATTRIBUTES; }, 120000);
    return 0;  // the program ends with morvane
}
