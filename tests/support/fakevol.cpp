// A stand-in for the volume tool in tests. It keeps its state in files
// beside itself, so a test steers it by writing them:
//   fake-volume.txt  the value text the query reports ("1.00" when missing or
//                    empty); a set writes the new percentage there as a
//                    fraction.
//   fake-mode.txt    optional: "silent" (print nothing), "hang" (never end),
//                    "raw" (print fake-volume.txt as it is, no answer shape),
//                    "flood N" (print N bytes of filler before the answer),
//                    "binary" (bytes 0-255, NULs among them, before the
//                    answer), "binary-tail" (the answer, then those bytes),
//                    "error" (a failure on standard error, exit code 1, as
//                    the real tool reports a missing device), "partly" (the
//                    answer, then exit code 3, as the real tool reports an
//                    output it could not read or lower), "stuck" (a
//                    set changes nothing, as a device that ignores it), "handles"
//                    ("inherited:" and the inheritable handles it holds
//                    besides its standard ones, then "input:" and the
//                    file type of its standard input, instead of the answer).
//   fake-start.txt   the latest run's parent process id, " with a runtime
//                    table" after it when that passed a C runtime's file table.
//   fake-log.txt     each command line received (code page 936), after a
//                    millisecond timestamp (Unix epoch), one per line.
#include <windows.h>
#include <winternl.h>

#include <fcntl.h>
#include <io.h>
#include <share.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

std::string ReadText(const std::wstring& path) {
    std::string text = ReadFile(path);
    while (!text.empty() && strchr(" \t\r\n", text.back())) text.pop_back();
    return text;
}

void Log(const std::wstring& dir) {
    // In code page 936 whatever the ANSI code page, as the tests spell paths.
    const std::string line = std::to_string(NowMs()) + " " + Narrow(GetCommandLineW()) + "\r\n";
    // Another copy may be appending at the same moment: one writer at a
    // time, the other retries briefly.
    for (int attempt = 0; attempt < 50; ++attempt, Sleep(10)) {
        if (FILE* file = _wfsopen((dir + L"fake-log.txt").c_str(), L"ab", _SH_DENYWR)) {
            fputs(line.c_str(), file);
            fclose(file);
            return;
        }
    }
}

void ReportStart(const std::wstring& dir) {
    PROCESS_BASIC_INFORMATION process = {};
    NtQueryInformationProcess(GetCurrentProcess(), ProcessBasicInformation, &process,
                              sizeof process, nullptr);
    STARTUPINFOW startup = {};
    GetStartupInfoW(&startup);
    WriteFile(dir + L"fake-start.txt", std::to_string(process.InheritedFromUniqueProcessId) +
                                           (startup.cbReserved2 ? " with a runtime table" : ""));
}

void PrintAllBytes() {
    for (int round = 0; round < 4; ++round) {
        for (int byte = 0; byte < 256; ++byte) fputc(byte, stdout);
    }
}

}  // namespace

int main(int argc, char** argv) {
    // Found through the wide name: the folder may hold letters that the
    // ANSI code page cannot spell.
    const std::wstring dir = ModuleDir();
    Log(dir);
    // Read at once: a call logged after a change of mode must have the new one.
    const std::string mode = ReadText(dir + L"fake-mode.txt");
    ReportStart(dir);
    if (mode == "hang") {
        for (;;) Sleep(1000);
    }
    if (argc < 2 || strcmp(argv[1], "-multimedia") != 0) {
        fprintf(stderr, "usage: fakevol -multimedia [-v N]\n");
        return 2;
    }
    if (argc >= 4 && strcmp(argv[2], "-v") == 0 && mode != "stuck") {
        char value[32];
        snprintf(value, sizeof value, "%.2f", atoi(argv[3]) / 100.0);
        WriteFile(dir + L"fake-volume.txt", value);
    }
    if (mode == "silent") return 0;
    if (mode == "handles") {
        printf("inherited:");
        for (HANDLE handle : InheritableHandles()) {
            if (handle != GetStdHandle(STD_INPUT_HANDLE) &&
                handle != GetStdHandle(STD_OUTPUT_HANDLE) &&
                handle != GetStdHandle(STD_ERROR_HANDLE)) {
                printf(" %p", handle);
            }
        }
        printf(" input: %lu", GetFileType(GetStdHandle(STD_INPUT_HANDLE)));
        return 0;
    }
    if (mode == "error") {
        fputs("bin: no audio output device (0x80070490)\n", stderr);
        return 1;
    }
    std::string value = ReadText(dir + L"fake-volume.txt");
    if (value.empty()) value = "1.00";
    if (mode == "raw") {
        fputs(value.c_str(), stdout);
        return 0;
    }
    if (mode.compare(0, 6, "flood ") == 0) {
        const long count = atol(mode.c_str() + 6);
        for (long i = 0; i < count; ++i) fputc(i % 64 == 63 ? '\n' : 'x', stdout);
    }
    // The C runtime's text mode would turn a 10 into 13 10; the bytes go out
    // as they are.
    if (mode.compare(0, 6, "binary") == 0) _setmode(_fileno(stdout), _O_BINARY);
    if (mode == "binary") PrintAllBytes();
    printf("master volume: %s. muted: no\n", value.c_str());
    if (mode == "binary-tail") PrintAllBytes();
    fflush(stdout);
    return mode == "partly" ? 3 : 0;
}
