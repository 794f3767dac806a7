// Driving real dialogs from a second thread: the test's own thread runs the
// modal loop while a driver finds the windows, types and clicks.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/TestSupport.h"

namespace dialog_driver {

const DWORD kFindTimeoutMs = 5000;

inline std::string WindowText(HWND window) {
    char text[512] = "";
    // Sent, so that it also works on windows of the other thread.
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

inline std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

// The message of a message box: the text of its static control.
inline std::string MessageBoxText(HWND box) {
    std::string text;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (ClassOf(child) == "Static" && !WindowText(child).empty()) text = WindowText(child);
    return text;
}

inline BOOL CALLBACK CollectOwnDialog(HWND window, LPARAM param) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == GetCurrentProcessId() && ClassOf(window) == "#32770" && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// Visible dialogs (class "#32770") of this process, top-level. The callback
// is a named CALLBACK function: a lambda has the wrong calling convention
// for the 32-bit build.
inline std::vector<HWND> OwnDialogs() {
    std::vector<HWND> found;
    EnumWindows(CollectOwnDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

// The visible dialog of this process with that caption, or null after the deadline.
inline HWND WaitForDialog(const std::string& caption, DWORD timeoutMs = kFindTimeoutMs) {
    HWND result = nullptr;
    testing_support::WaitFor(
        [&] {
            for (HWND window : OwnDialogs())
                if (WindowText(window) == caption) result = window;
            return result != nullptr;
        },
        timeoutMs);
    return result;
}

// A visible dialog owned by owner (a message box over a prompt), or null.
inline HWND WaitForOwnedDialog(HWND owner, DWORD timeoutMs = kFindTimeoutMs) {
    HWND result = nullptr;
    testing_support::WaitFor(
        [&] {
            for (HWND window : OwnDialogs())
                if (GetWindow(window, GW_OWNER) == owner) result = window;
            return result != nullptr;
        },
        timeoutMs);
    return result;
}

inline HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) return nullptr;
    return info.hwndFocus;
}

inline void Type(HWND dialog, int controlId, const char* text) {
    SendMessageA(GetDlgItem(dialog, controlId), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

// Posted: the click may open a modal box, which must not block the driver.
inline void Click(HWND dialog, int controlId) {
    PostMessageA(GetDlgItem(dialog, controlId), BM_CLICK, 0, 0);
}

// Runs script on a driver thread while run() (which runs a modal loop) runs
// on this one. Should the script leave a dialog open, the driver cancels
// every dialog of this process until run() returns, so a failing test ends
// instead of hanging.
template <typename Run>
auto WithDriver(Run run, const std::function<void()>& script) -> decltype(run()) {
    std::atomic<bool> done{false};
    bool rescued = false;
    std::thread driver([&] {
        script();
        if (testing_support::WaitFor([&] { return done.load(); }, kFindTimeoutMs)) return;
        rescued = true;
        testing_support::WaitFor(
            [&] {
                for (HWND window : OwnDialogs()) PostMessageA(window, WM_COMMAND, IDCANCEL, 0);
                return done.load();
            },
            60000);
    });
    auto result = run();
    done = true;
    driver.join();
    EXPECT_FALSE(rescued) << "a dialog stayed open after the driver finished";
    return result;
}

}  // namespace dialog_driver
