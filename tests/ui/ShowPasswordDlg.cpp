// Opens the password prompt for a screenshot:
//     show_password_dlg MODE READY-FILE CLOSE-FILE
// writes READY-FILE once the prompt is visible and cancels it when
// CLOSE-FILE appears (the script takes its picture in between).
#include <windows.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "framework/App.h"
#include "settings/LimiterState.h"
#include "tests/support/TestSupport.h"
#include "ui/PasswordDlg.h"

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    const std::string ready = argv[2];
    const std::string close = argv[3];
    CPasswordDlg dlg;
    dlg.m_nMode = atoi(argv[1]);
    std::thread watcher([&] {
        const bool shown = testing_support::WaitFor(
            [&] { return dlg.m_hWnd && IsWindowVisible(dlg.m_hWnd); }, 10000);
        if (shown) testing_support::WriteFile(ready, "ready");
        testing_support::WaitFor(
            [&] { return GetFileAttributesA(close.c_str()) != INVALID_FILE_ATTRIBUTES; }, 60000);
        PostMessageA(dlg.m_hWnd, WM_COMMAND, IDCANCEL, 0);
    });
    const INT_PTR result = dlg.DoModal();
    watcher.join();
    return result == IDCANCEL ? 0 : 1;
}
