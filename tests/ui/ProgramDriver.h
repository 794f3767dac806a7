// Drives a real Morvane.exe from the outside, as a user and the shell would:
// the program runs in a folder of its own beside the fake volume tool, and
// the test finds its windows, reads and sets its controls through messages
// and reads the files it leaves behind.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "tests/support/TestSupport.h"

namespace program_driver {

// Generous: under Wine on a loaded machine a program start takes seconds.
constexpr DWORD kTimeout = 20000;

// The controls and the tray callback, as the program defines them.
constexpr int kCheckLock = 1011;
constexpr int kSlider = 1012;
constexpr int kPasswordButton = 1013;
constexpr int kLimitLabel = 1014;
constexpr int kPasswordEdit = 1015;
constexpr UINT kTrayCallback = WM_USER + 100;
constexpr WPARAM kTrayId = 100;

// One line of the fake tool's log: when it started and its command line.
struct ToolCall {
    long long whenMs;
    std::string commandLine;
    bool IsSet() const { return commandLine.find(" -v ") != std::string::npos; }
};

// One program run in a fresh folder. The destructor ends the process if it
// still runs, so a failing test leaves nothing behind (its tray icon goes
// with its windows, its commands with the runner's job).
class Morvane {
public:
    explicit Morvane(const std::string& folderName = "morvane e2e");
    ~Morvane();
    Morvane(const Morvane&) = delete;
    Morvane& operator=(const Morvane&) = delete;

    const testing_support::TempDir& dir() const { return m_dir; }
    std::string Path(const std::string& file) const { return m_dir / file; }

    // Setting up the folder before Start.
    bool InstallProgram();  // Morvane.exe
    bool InstallTool();     // the fake volume tool as bin.exe
    bool WriteConfig(const std::string& text);
    bool SetToolVolume(const std::string& fraction);  // what the fake reports

    bool Start();
    DWORD pid() const { return m_process.dwProcessId; }
    bool Running() const;
    bool WaitExit(DWORD timeoutMs = kTimeout);
    void Kill();

    // Top-level windows of this process, of the given class and caption.
    std::vector<HWND> Windows(const char* windowClass, const char* caption, bool visibleOnly) const;
    // The first visible dialog with caption, waiting for it; nullptr on
    // time-out.
    HWND WaitDialog(const char* caption, DWORD timeoutMs = kTimeout) const;
    bool WaitDialogGone(const char* caption, DWORD timeoutMs = kTimeout) const;
    // The main dialog, shown or not.
    HWND MainWindow() const;

    // The windows that show notification-area icons under Wine (one per
    // icon), leaving out those that were there before Start. Wine's shell
    // owns them, not the program, so they cannot be told apart by process.
    std::vector<HWND> TrayIcons() const;

    // Types password into the prompt with caption and confirms it.
    bool AnswerPrompt(const char* caption, const std::string& password);
    bool CancelPrompt(const char* caption);

    // Starts, passes the start-up prompt (set or verify, whichever comes)
    // with password and waits for the main window; nullptr on failure.
    HWND StartToMainWindow(const std::string& password = "secret");

    // The settings file's value for key in section user ("<missing>" if
    // absent).
    std::string Setting(const char* key) const;
    std::vector<ToolCall> ToolCalls() const;

private:
    testing_support::TempDir m_dir;
    PROCESS_INFORMATION m_process = {};
    // Holds the program and everything it starts, so that Kill ends the
    // commands in flight too.
    HANDLE m_job = nullptr;
    std::vector<HWND> m_iconsBefore;
};

// Top-level windows of process pid of the given class and caption (nullptr:
// any), shown or, unless visibleOnly, also hidden.
std::vector<HWND> WindowsOf(DWORD pid, const char* windowClass, const char* caption,
                            bool visibleOnly);
// The first visible top-level window of pid with caption, waited for;
// nullptr on time-out. For processes the test started by other means.
HWND WaitWindowOf(DWORD pid, const char* caption, DWORD timeoutMs = kTimeout);

// Sends with a deadline, so a hung program fails the test instead of
// hanging it. Returns the message result (0 on time-out).
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::string ItemText(HWND dialog, int id);
std::string WindowCaption(HWND window);
bool Visible(HWND window);

// What a user does in the main window.
void MoveSlider(HWND mainWindow, int position);
void ClickLock(HWND mainWindow, bool checked);
// The same slider move, posted: once the label shows position, every
// message posted before it has been handled.
bool PostSliderMoveAndWait(HWND mainWindow, int position);

}  // namespace program_driver
