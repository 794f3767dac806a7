// package_check FOLDER: starts FOLDER\Morvane.exe as a user who unpacked the
// release would, waits for its password prompt (which comes only once the
// program has found bin.exe beside it), cancels the prompt and waits for the
// orderly exit, which leaves config.ini in FOLDER. Exit code 0 when all of
// that happened.
#include <windows.h>

#include <cstdio>
#include <string>

#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

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
    Process process;
    if (!process.Start(Wide(folder + "\\Morvane.exe"))) return Fail("cannot start Morvane.exe");

    HWND prompt = nullptr;
    bool warned = false, ended = false;
    WaitFor(
        [&] {
            warned = !FindWindows(process.pid(), "#32770", kWarning).empty();
            ended = process.WaitExit(50);
            prompt = WaitWindow(process.pid(), "#32770", kSetPrompt, 0);
            return warned || ended || prompt;
        },
        30000);
    if (warned) return Fail("the program says bin.exe is missing");
    if (ended) return Fail("the program ended without a prompt");
    if (!prompt) return Fail("no password prompt appeared");
    printf("the password prompt appeared\n");

    if (!Click(prompt, IDCANCEL) || !process.WaitExit(30000)) {
        return Fail("the program did not end after the prompt was cancelled");
    }
    if (GetFileAttributesW(Wide(folder + "\\config.ini").c_str()) == INVALID_FILE_ATTRIBUTES) {
        return Fail("the exit left no config.ini beside the program");
    }
    printf("the program ended in order and saved its settings\n");
    return 0;
}
