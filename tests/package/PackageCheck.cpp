// package_check FOLDER: starts FOLDER\Morvane.exe as a user who unpacked the
// release would, waits for its password prompt (which comes only once the
// program has found bin.exe beside it), cancels the prompt and waits for the
// orderly exit, which leaves config.ini in FOLDER. Exit code 0 when all of
// that happened.
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const char kSetPrompt[] = "设定密码";
const char kWarning[] = "警告";
const DWORD kTimeoutMs = 30000;

struct Search {
    DWORD pid;
    const char* caption;
    HWND found;
};

BOOL CALLBACK FindVisibleDialog(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char caption[64] = "", windowClass[32] = "";
    GetWindowTextA(window, caption, sizeof caption);
    GetClassNameA(window, windowClass, sizeof windowClass);
    if (owner == search->pid && IsWindowVisible(window) && strcmp(windowClass, "#32770") == 0 &&
        strcmp(caption, search->caption) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND VisibleDialog(DWORD pid, const char* caption) {
    Search search = {pid, caption, nullptr};
    EnumWindows(FindVisibleDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

int Fail(const char* what, HANDLE process) {
    fprintf(stderr, "FAIL: %s\n", what);
    if (process) TerminateProcess(process, 1);
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
    std::string commandLine = "\"" + exe + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    // Started from elsewhere, as from a shortcut: the program must look for
    // its files beside itself.
    char elsewhere[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, elsewhere);
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        elsewhere, &startup, &process)) {
        fprintf(stderr, "FAIL: cannot start %s (error %lu)\n", exe.c_str(), GetLastError());
        return 1;
    }
    CloseHandle(process.hThread);

    HWND prompt = nullptr;
    const ULONGLONG deadline = GetTickCount64() + kTimeoutMs;
    while (!prompt && GetTickCount64() < deadline) {
        if (VisibleDialog(process.dwProcessId, kWarning)) {
            return Fail("the program says bin.exe is missing", process.hProcess);
        }
        if (WaitForSingleObject(process.hProcess, 50) == WAIT_OBJECT_0) {
            return Fail("the program ended without a prompt", nullptr);
        }
        prompt = VisibleDialog(process.dwProcessId, kSetPrompt);
    }
    if (!prompt) return Fail("no password prompt appeared", process.hProcess);
    printf("the password prompt appeared\n");

    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, IDCANCEL)));
    if (WaitForSingleObject(process.hProcess, kTimeoutMs) != WAIT_OBJECT_0) {
        return Fail("the program did not end after the prompt was cancelled", process.hProcess);
    }
    CloseHandle(process.hProcess);
    if (GetFileAttributesA((folder + "\\config.ini").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Fail("the exit left no config.ini beside the program", nullptr);
    }
    printf("the program ended in order and saved its settings\n");
    return 0;
}
