// The test tooling: folders and files, processes, waiting, and a driver for
// real windows, this process's own or those of a Morvane.exe run in a folder
// of its own beside the fake volume tool or the real one. Texts are code page
// 936 byte strings, as the tests' literals are compiled, and reach windows
// and files through the wide functions, whatever the test's own ANSI code
// page.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/String.h"

namespace testing_support {

// Generous: under Wine on a loaded machine a program start takes seconds.
constexpr DWORD kTimeout = 20000;

// The program's captions and messages.
constexpr char kSetPrompt[] = "设定密码";
constexpr char kVerifyPrompt[] = "验证密码";
constexpr char kChangePrompt[] = "修改密码";
constexpr char kWarning[] = "警告";
constexpr char kWrongPassword[] = "密码错误，请重新输入。";

inline std::wstring Wide(const std::string& gbk) { return WideFromNarrow(gbk.c_str()); }
inline std::string Narrow(const std::wstring& text) { return NarrowFromWide(text.c_str()).c_str(); }

std::wstring ModuleDir();  // the running program's folder, with a trailing '\'
inline std::string BuildBinDir() { return Narrow(ModuleDir()); }

// A fresh folder under the temporary directory, removed with its contents
// when the object goes away. name may hold spaces, '&' and any letters.
class TempDir {
public:
    explicit TempDir(const std::wstring& name);
    explicit TempDir(const std::string& name = "morvane") : TempDir(Wide(name)) {}
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::wstring& wpath() const { return m_path; }  // with a trailing '\'
    std::string path() const { return Narrow(m_path); }
    std::string operator/(const std::string& file) const { return path() + file; }
    std::wstring operator/(const std::wstring& file) const { return m_path + file; }

private:
    std::wstring m_path;
};

std::string ReadFile(const std::wstring& path);
bool WriteFile(const std::wstring& path, const std::string& text);
bool CopyBuildProgram(const std::string& program, const std::wstring& destination);
inline std::string ReadFile(const std::string& path) { return ReadFile(Wide(path)); }
inline bool WriteFile(const std::string& path, const std::string& text) {
    return WriteFile(Wide(path), text);
}
inline bool CopyBuildProgram(const std::string& program, const std::string& destination) {
    return CopyBuildProgram(program, Wide(destination));
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);
long long NowMs();   // since the Unix epoch, as the fake volume tool logs
double PreciseMs();  // from a steady clock, for measuring
double Median(std::vector<double> values);

// Counted from the system's handle table: GetProcessHandleCount answers 0
// under Wine.
int CountProcessHandles(DWORD pid);
inline int CountOwnHandles() { return CountProcessHandles(GetCurrentProcessId()); }
// This process's handles that a child started with inheritance would get.
std::vector<HANDLE> InheritableHandles();
// Processes running the program file at path; this process's threads.
std::vector<DWORD> ProcessesRunning(const std::wstring& path);
std::vector<DWORD> ThreadsOf(DWORD pid);
inline std::vector<DWORD> OwnThreads() { return ThreadsOf(GetCurrentProcessId()); }

// A program started in a job of its own, from another folder (as from a
// shortcut: it must find its files beside itself), standard handles on NUL.
// Kill, and the destructor, end it with everything it started.
class Process {
public:
    Process() = default;
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    // arguments follow the quoted program name on the command line.
    // asStandardUser: with a token like a standard account's.
    bool Start(const std::wstring& exe, const std::wstring& arguments = L"",
               bool asStandardUser = false);
    DWORD pid() const { return m_process.dwProcessId; }
    bool Running() const { return m_process.hProcess && !WaitExit(0); }
    bool WaitExit(DWORD timeoutMs = kTimeout) const {
        return WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    }
    void Kill();
    // STILL_ACTIVE while it runs.
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(m_process.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION m_process = {};
    HANDLE m_job = nullptr;
};

// Under Wine every process runs as an administrator, whom nothing refuses.
// A standard account is stood in for by a token without the Administrators
// group (deny-only) and without privileges. What its programs may do to
// process pid and its threads, as their descriptors say.
struct StandardUserRights {
    bool stopProcess = false;               // terminate or suspend it
    int threads = 0, threadsStoppable = 0;  // suspend
    bool CanStop() const { return stopProcess || threadsStoppable > 0; }
};
StandardUserRights StandardUserRightsOn(DWORD pid);
// The DACL of a kernel object in the string form ("D:(A;;0x1000;;;WD)...");
// closes the handle.
std::string DaclOf(HANDLE object);

// A DWORD value in the prefix's registry for the programs started while the
// object lives (a policy, or the display's DPI: Wine reads HKCU\Control
// Panel\Desktop LogPixels when a program starts). The value before, or its
// absence, comes back at the end. The tests run one at a time, so no other
// test sees the change.
class ScopedRegValue {
public:
    ScopedRegValue(HKEY root, const char* path, const char* name, DWORD value);
    ~ScopedRegValue();
    ScopedRegValue(const ScopedRegValue&) = delete;
    ScopedRegValue& operator=(const ScopedRegValue&) = delete;
    bool ok() const { return m_set; }

private:
    HKEY m_root;
    const char *m_path, *m_name;  // literals
    bool m_set = false, m_had = false;
    DWORD m_previous = 0;
};
struct ScopedLogPixels : ScopedRegValue {
    explicit ScopedLogPixels(DWORD dpi)
        : ScopedRegValue(HKEY_CURRENT_USER, "Control Panel\\Desktop", "LogPixels", dpi) {}
};

// One line of the fake tool's log: when it started, its command line, and
// what followed -multimedia ("" for a query, "-v N" for a set).
struct ToolCall {
    long long whenMs;
    std::string commandLine, options;
    bool IsSet() const { return options.compare(0, 3, "-v ") == 0; }
};
std::vector<ToolCall> ReadToolLog(const std::wstring& folder);
// Queries or sets (to value, unless empty) logged after afterMs.
size_t CountCalls(const std::vector<ToolCall>& calls, bool sets, long long afterMs = 0,
                  const std::string& value = "");

// The real bin.exe in folder with the stand-in audio device beside it as
// mmdevapi.dll (see standin-device.cpp for its files), its level set to
// level ("0.62"). The test prefixes make a bin.exe load such a DLL (see
// scripts/lib/common.sh).
bool InstallRealTool(const std::wstring& folder, const std::string& level);
// The level file of the device's output (endpoint) number output.
std::wstring DeviceLevelFile(const std::wstring& folder, int output = 1);
inline bool SetDeviceLevel(const std::wstring& folder, const std::string& level, int output = 1) {
    return WriteFile(DeviceLevelFile(folder, output), level);
}
// The level the output holds; NaN when there is none.
float DeviceLevel(const std::wstring& folder, int output = 1);

// Windows of process pid (0: any) of a class and caption (nullptr: any),
// top-level or, with children, at any depth.
std::vector<HWND> FindWindows(DWORD pid, const char* windowClass, const char* caption,
                              bool visibleOnly = true, bool children = false);
// The first visible one, waited for; nullptr on time-out.
HWND WaitWindow(DWORD pid, const char* windowClass, const char* caption,
                DWORD timeoutMs = kTimeout);
inline HWND WaitOwnDialog(const char* caption) {
    return WaitWindow(GetCurrentProcessId(), "#32770", caption);
}
// A visible dialog owned by owner (a message box over a prompt), waited for.
HWND WaitOwnedDialog(HWND owner);

// Sent with a deadline, so a hung program fails the test instead of hanging
// it; 0 on time-out.
LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
std::string WindowCaption(HWND window);
std::string ItemText(HWND dialog, int id);
bool SetItemText(HWND dialog, int id, const std::string& text);
// Posted: the click may open a modal window, which must not block the driver.
bool Click(HWND dialog, int id);
bool Visible(HWND window);
HWND FocusOf(HWND window);
// What the screen shows in area, row by row.
std::vector<COLORREF> ScreenPixels(const RECT& area);
// The tip of a notification-area icon, read from the tooltip Wine's shell
// keeps for the icon's window; "" when there is none.
std::string TrayTip(HWND icon);

struct BoxContent {
    std::string caption;
    std::string text;
    std::vector<int> buttons;  // the visible ones
};
BoxContent ReadMessageBox(HWND box);

// Runs script on a driver thread while run (a modal loop) runs on this one.
// Should the script leave a dialog open, the driver cancels every dialog of
// this process until run returns, so that a failing test ends; false then.
bool WithDriver(const std::function<void()>& run, const std::function<void()>& script);

// Types password into prompt and confirms it; true once the prompt has gone.
bool AnswerPrompt(HWND prompt, const std::string& password);
// The same for an answer met with a message box over the prompt: what the
// box showed, once it is closed (nothing when none came).
BoxContent AnswerWithMessage(HWND prompt, const std::string& password);
// OK on a message box, waiting until it has gone: the prompt under it may
// still be busy answering it, and typing before that races its clean-up.
bool DismissBox(HWND box);
// What a user does in the main window. The slider move is posted, so it
// also reaches a busy window; once the label shows position (true), every
// message posted before it has been handled.
bool MoveSlider(HWND mainWindow, int position);
void ClickLock(HWND mainWindow, bool checked);

// One run of the real Morvane.exe in a fresh folder.
class Morvane : public Process {
public:
    explicit Morvane(const std::string& folderName = "morvane e2e") : m_dir(folderName) {}
    explicit Morvane(const std::wstring& folderName) : m_dir(folderName) {}
    ~Morvane() { Kill(); }  // before the folder goes

    const TempDir& dir() const { return m_dir; }
    std::string Path(const std::string& file) const { return m_dir / file; }
    std::wstring Path(const std::wstring& file) const { return m_dir / file; }

    // The program, the fake tool as bin.exe reporting toolVolume ("": its
    // default; nullptr: no tool), and config as the settings file ("": none).
    bool Prepare(const std::string& config, const char* toolVolume = "");
    bool InstallTool() { return CopyBuildProgram("fakevol.exe", Path(L"bin.exe")); }
    // What the fake tool reports, and how (see fakevol.cpp).
    bool SetToolVolume(const std::string& value) {
        return WriteFile(Path(L"fake-volume.txt"), value);
    }
    bool SetToolMode(const std::string& mode) { return WriteFile(Path(L"fake-mode.txt"), mode); }
    // Or the real tool with the stand-in device (Prepare with no tool first).
    bool InstallRealTool(const std::string& level) {
        return testing_support::InstallRealTool(m_dir.wpath(), level);
    }
    bool SetDeviceLevel(const std::string& level) {
        return testing_support::SetDeviceLevel(m_dir.wpath(), level);
    }
    float DeviceLevel() const { return testing_support::DeviceLevel(m_dir.wpath()); }

    bool Start(bool asStandardUser = false);
    // Starts and waits for the start-up prompt with caption: the main window
    // waiting behind it, or nullptr on failure.
    HWND StartToPrompt(const char* caption) {
        return Start() && WaitDialog(caption) ? MainWindow() : nullptr;
    }
    void Kill();  // waiting for its tool too, so that the folder can go

    HWND WaitDialog(const char* caption, DWORD timeoutMs = kTimeout) const {
        return WaitWindow(pid(), "#32770", caption, timeoutMs);
    }
    HWND MainWindow() const;  // shown or not
    // The icons that came after Start: Wine's shell owns their windows.
    std::vector<HWND> TrayIcons() const;
    std::string TrayTip() const {  // of the one icon; "" when there is not one
        const std::vector<HWND> icons = TrayIcons();
        return icons.size() == 1 ? testing_support::TrayTip(icons[0]) : "";
    }

    bool AnswerPrompt(const char* caption, const std::string& password) {
        return testing_support::AnswerPrompt(WaitDialog(caption), password);
    }
    bool CancelPrompt(const char* caption);
    // Starts, passes the start-up prompt (set or verify) with password and
    // waits for the main window; nullptr on failure.
    HWND StartToMainWindow(const std::string& password = "secret", bool asStandardUser = false);
    bool Close(HWND mainWindow);  // with the close box, waiting for the exit

    std::string Setting(const char* key) const;  // in section user; "<missing>"
    std::vector<ToolCall> ToolCalls() const { return ReadToolLog(m_dir.wpath()); }

private:
    TempDir m_dir;
    std::vector<HWND> m_iconsBefore;
};

}  // namespace testing_support
