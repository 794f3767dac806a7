// Puts one of the program's screens up for scripts/screenshots:
//     show_screen prompt MODE READY CLOSE   the password prompt, mode 0 set,
//                                           1 verify, 2 change
//     show_screen wrong READY CLOSE         the verify prompt after a wrong
//                                           password, its message box over it
//     show_screen main READY CLOSE          Morvane.exe past its prompt, the
//                                           lock on at 60
// Once the screen is up it writes READY with the rectangle to photograph
// ("left top width height"), and it closes everything when CLOSE appears.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "framework/App.h"
#include "res/resource.h"
#include "settings/LimiterState.h"
#include "tests/support/TestSupport.h"
#include "ui/PasswordDlg.h"
#include "ui/PasswordHash.h"

using namespace testing_support;

namespace {

// Makes the window on top (over, if given, else window) the foreground
// window and writes the rectangle around both to the file the script waits
// for.
bool Ready(const std::string& ready, HWND window, HWND over = nullptr) {
    HWND front = over ? over : window;
    SetForegroundWindow(front);
    // With no window manager Wine paints even the foreground window's title
    // bar as inactive; Windows shows it active.
    SendMessageA(front, WM_NCACTIVATE, TRUE, 0);
    RECT area = {}, second = {};
    if (!GetWindowRect(window, &area)) return false;
    if (over && GetWindowRect(over, &second)) UnionRect(&area, &area, &second);
    char text[64];
    snprintf(text, sizeof text, "%ld %ld %ld %ld\n", area.left, area.top, area.right - area.left,
             area.bottom - area.top);
    return WriteFile(ready, text);
}

void WaitClose(const std::string& close) {
    WaitFor([&] { return GetFileAttributesA(close.c_str()) != INVALID_FILE_ATTRIBUTES; }, 120000);
}

// The prompt runs modally on this thread while the driver waits for the
// screen, reports it and closes it.
int ShowPrompt(int mode, bool wrongPassword, const std::string& ready, const std::string& close) {
    CPasswordDlg dlg;
    dlg.m_nMode = mode;
    if (wrongPassword) State().password = HashPassword("right");
    bool reported = false;
    WithDriver([&] { dlg.DoModal(); },
               [&] {
                   if (!WaitFor([&] { return Visible(dlg.m_hWnd); }, kTimeout)) return;
                   HWND box = wrongPassword &&
                                      SetItemText(dlg.m_hWnd, IDC_EDIT_PASSWORD, "wrong") &&
                                      Click(dlg.m_hWnd, IDOK)
                                  ? WaitOwnedDialog(dlg.m_hWnd)
                                  : nullptr;
                   if (wrongPassword && !box) return;  // the driver cancels the prompt
                   reported = Ready(ready, dlg.m_hWnd, box);
                   WaitClose(close);
                   if (box) DismissBox(box);
                   Click(dlg.m_hWnd, IDCANCEL);
               });
    return reported ? 0 : 1;
}

// The real program in a folder of its own, beside the fake volume tool, with
// settings that show the lock on; its password is given in plain text, as an
// earlier program wrote it.
int ShowMainWindow(const std::string& ready, const std::string& close) {
    Morvane morvane("morvane screenshot");
    if (!morvane.Prepare("[user]\r\nvol=60\r\nisLock=1\r\np1=shot\r\n")) return 1;
    HWND main = morvane.StartToMainWindow("shot");
    if (!main || !Ready(ready, main)) return 1;
    WaitClose(close);
    PostMessageA(main, WM_CLOSE, 0, 0);
    return morvane.WaitExit() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    // Message boxes take their caption from the application, as in Morvane.exe.
    CWinApp app("Morvane");
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "prompt" && argc == 5) return ShowPrompt(atoi(argv[2]), false, argv[3], argv[4]);
    if (what == "wrong" && argc == 4)
        return ShowPrompt(CPasswordDlg::kModeVerify, true, argv[2], argv[3]);
    if (what == "main" && argc == 4) return ShowMainWindow(argv[2], argv[3]);
    fprintf(stderr, "usage: show_screen prompt MODE|wrong|main READY CLOSE\n");
    return 2;
}
