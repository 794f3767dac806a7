// package_check FOLDER: starts FOLDER\Morvane.exe as a user who unpacked the
// release would, waits for its password prompt (which comes only once the
// program has found bin.exe beside it), cancels the prompt and waits for the
// orderly exit, which leaves config.ini in FOLDER. Exit code 0 when all of
// that happened.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace {

const char kSetPrompt[] = "设定密码";
const char kWarning[] = "警告";
const DWORD kTimeoutMs = 30000;

HWND VisibleDialog(DWORD pid, const char* caption) {
    const std::vector<HWND> dialogs = testing_support::FindWindows(pid, "#32770", caption);
    return dialogs.empty() ? nullptr : dialogs.front();
}

int Fail(const char* what) {
    fprintf(stderr, "FAIL: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: package_check FOLDER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const std::string exe = folder + "\\Morvane.exe";
    // Started from elsewhere, as from a shortcut: the program must look for
    // its files beside itself.
    testing_support::Process process;
    if (!process.Start(testing_support::Wide(exe))) {
        fprintf(stderr, "FAIL: cannot start %s (error %lu)\n", exe.c_str(), GetLastError());
        return 1;
    }

    HWND prompt = nullptr;
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    while (!prompt && GetTickCount64() < deadline) {
        if (VisibleDialog(process.pid(), kWarning)) {
            return Fail("the program says bin.exe is missing");
        }
        if (process.WaitExit(50)) return Fail("the program ended without a prompt");
        prompt = VisibleDialog(process.pid(), kSetPrompt);
    }
    if (!prompt) return Fail("no password prompt appeared");
    printf("the password prompt appeared\n");

    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, IDCANCEL)));
    if (!process.WaitExit(kTimeoutMs)) {
        return Fail("the program did not end after the prompt was cancelled");
    }
    if (GetFileAttributesA((folder + "\\config.ini").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Fail("the exit left no config.ini beside the program");
    }
    printf("the program ended in order and saved its settings\n");
    return 0;
}
