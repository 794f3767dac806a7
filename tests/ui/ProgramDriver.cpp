// Drives a real Morvane.exe from the outside (see ProgramDriver.h).
#include "tests/ui/ProgramDriver.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace program_driver {

using testing_support::WaitFor;

namespace {

std::string ClassOf(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct Search {
    DWORD pid;                // 0: any
    const char* windowClass;  // nullptr: any
    const char* caption;      // nullptr: any
    bool visibleOnly;
    bool children;  // also look at the children of each top-level window
    std::vector<HWND> found;
};

bool Matches(HWND window, const Search& search) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (search.pid && owner != search.pid) return false;
    if (search.visibleOnly && !IsWindowVisible(window)) return false;
    if (search.windowClass && ClassOf(window) != search.windowClass) return false;
    if (search.caption && WindowCaption(window) != search.caption) return false;
    return true;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (Matches(window, *search)) search->found.push_back(window);
    return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<Search*>(param);
    if (Matches(window, *search)) search->found.push_back(window);
    if (search->children) EnumChildWindows(window, CollectChild, param);
    return TRUE;
}

std::vector<HWND> Collect(Search search) {
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<HWND> AllTrayIcons() {
    return Collect({0, "__winex11_tray_icon", nullptr, false, true, {}});
}

}  // namespace

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kTimeout,
                             &result)) {
        return 0;
    }
    return static_cast<LRESULT>(result);
}

std::string WindowCaption(HWND window) {
    // For another process's window this reads the stored caption without
    // sending it a message, so a busy program cannot stall the search.
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ItemText(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    if (!item) return "<no control>";
    char text[256] = "";
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(item, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                             SMTO_ABORTIFHUNG, kTimeout, &copied)) {
        return "<no answer>";
    }
    return text;
}

bool Visible(HWND window) { return IsWindow(window) && IsWindowVisible(window); }

void MoveSlider(HWND mainWindow, int position) {
    HWND slider = GetDlgItem(mainWindow, kSlider);
    Send(slider, TBM_SETPOS, TRUE, position);
    Send(mainWindow, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
         reinterpret_cast<LPARAM>(slider));
}

void ClickLock(HWND mainWindow, bool checked) {
    HWND box = GetDlgItem(mainWindow, kCheckLock);
    Send(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
    Send(mainWindow, WM_COMMAND, MAKEWPARAM(kCheckLock, BN_CLICKED), reinterpret_cast<LPARAM>(box));
}

bool PostSliderMoveAndWait(HWND mainWindow, int position) {
    HWND slider = GetDlgItem(mainWindow, kSlider);
    if (!PostMessageA(slider, TBM_SETPOS, TRUE, position)) return false;
    if (!PostMessageA(mainWindow, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                      reinterpret_cast<LPARAM>(slider))) {
        return false;
    }
    const std::string expected = std::to_string(position);
    return WaitFor([&] { return ItemText(mainWindow, kLimitLabel) == expected; }, kTimeout);
}

Morvane::Morvane(const std::string& folderName) : m_dir(folderName) {}

Morvane::~Morvane() {
    Kill();
    if (m_job) CloseHandle(m_job);
}

bool Morvane::InstallProgram() {
    return testing_support::CopyBuildProgram("Morvane.exe", Path("Morvane.exe"));
}

bool Morvane::InstallTool() {
    return testing_support::CopyBuildProgram("fakevol.exe", Path("bin.exe"));
}

bool Morvane::WriteConfig(const std::string& text) {
    return testing_support::WriteFile(Path("config.ini"), text);
}

bool Morvane::SetToolVolume(const std::string& fraction) {
    return testing_support::WriteFile(Path("fake-volume.txt"), fraction);
}

bool Morvane::Start() {
    if (m_dir.path().empty() || Running()) return false;
    Kill();  // what is left of an earlier run
    m_iconsBefore = AllTrayIcons();
    if (!m_job) {
        m_job = CreateJobObjectA(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (m_job) {
            SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits,
                                    sizeof limits);
        }
    }
    const std::string exe = Path("Morvane.exe");
    std::string commandLine = "\"" + exe + "\"";
    // Standard handles on NUL: under Wine a program started here would
    // otherwise share this test's output pipe, and anything it leaves
    // running would keep the test runner waiting for the pipe to close.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    // Started from another folder: the program must find its files beside
    // itself, not in the current directory.
    char here[MAX_PATH] = "";
    GetTempPathA(MAX_PATH, here);
    const BOOL started = CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED, nullptr, here, &startup, &m_process);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) {
        m_process = {};
        return false;
    }
    if (m_job) AssignProcessToJobObject(m_job, m_process.hProcess);
    ResumeThread(m_process.hThread);
    return true;
}

bool Morvane::Running() const {
    return m_process.hProcess && WaitForSingleObject(m_process.hProcess, 0) == WAIT_TIMEOUT;
}

bool Morvane::WaitExit(DWORD timeoutMs) {
    return m_process.hProcess &&
           WaitForSingleObject(m_process.hProcess, timeoutMs) == WAIT_OBJECT_0;
}

void Morvane::Kill() {
    if (!m_process.hProcess) return;
    if (m_job) TerminateJobObject(m_job, 1);
    if (Running()) {
        TerminateProcess(m_process.hProcess, 1);
        WaitForSingleObject(m_process.hProcess, kTimeout);
    }
    CloseHandle(m_process.hProcess);
    CloseHandle(m_process.hThread);
    m_process = {};
    // The runner's job ends a command still in flight; wait until its tool
    // lets go of the folder so that the folder can be removed.
    WaitFor(
        [&] {
            HANDLE probe =
                CreateFileA(Path("bin.exe").c_str(), DELETE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
            if (probe == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
            CloseHandle(probe);
            return true;
        },
        5000);
}

std::vector<HWND> WindowsOf(DWORD pid, const char* windowClass, const char* caption,
                            bool visibleOnly) {
    return Collect({pid, windowClass, caption, visibleOnly, false, {}});
}

HWND WaitWindowOf(DWORD pid, const char* caption, DWORD timeoutMs) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            auto windows = WindowsOf(pid, nullptr, caption, true);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

std::vector<HWND> Morvane::Windows(const char* windowClass, const char* caption,
                                   bool visibleOnly) const {
    return WindowsOf(pid(), windowClass, caption, visibleOnly);
}

HWND Morvane::WaitDialog(const char* caption, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitFor(
        [&] {
            auto windows = Windows("#32770", caption, true);
            found = windows.empty() ? nullptr : windows.front();
            return found != nullptr;
        },
        timeoutMs);
    return found;
}

bool Morvane::WaitDialogGone(const char* caption, DWORD timeoutMs) const {
    return WaitFor([&] { return Windows("#32770", caption, true).empty(); }, timeoutMs);
}

HWND Morvane::MainWindow() const {
    auto windows = Windows("#32770", "Morvane", false);
    return windows.empty() ? nullptr : windows.front();
}

std::vector<HWND> Morvane::TrayIcons() const {
    std::vector<HWND> ours;
    for (HWND icon : AllTrayIcons()) {
        if (std::find(m_iconsBefore.begin(), m_iconsBefore.end(), icon) == m_iconsBefore.end()) {
            ours.push_back(icon);
        }
    }
    return ours;
}

bool Morvane::AnswerPrompt(const char* caption, const std::string& password) {
    HWND prompt = WaitDialog(caption);
    if (!prompt) return false;
    HWND edit = GetDlgItem(prompt, kPasswordEdit);
    if (!edit) return false;
    if (!Send(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(password.c_str()))) return false;
    // Posted: the answer may open further modal windows in the program.
    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, IDOK)));
    return WaitFor([&] { return !IsWindow(prompt) || !IsWindowVisible(prompt); }, kTimeout);
}

bool Morvane::CancelPrompt(const char* caption) {
    HWND prompt = WaitDialog(caption);
    if (!prompt) return false;
    PostMessageA(prompt, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(prompt, IDCANCEL)));
    return WaitFor([&] { return !IsWindow(prompt) || !IsWindowVisible(prompt); }, kTimeout);
}

HWND Morvane::StartToMainWindow(const std::string& password) {
    if (!Start()) return nullptr;
    const char* captions[] = {"设定密码", "验证密码"};
    const char* seen = nullptr;
    WaitFor(
        [&] {
            for (const char* caption : captions) {
                if (!Windows("#32770", caption, true).empty()) seen = caption;
            }
            return seen != nullptr;
        },
        kTimeout);
    if (!seen || !AnswerPrompt(seen, password)) return nullptr;
    HWND main = nullptr;
    WaitFor(
        [&] {
            main = MainWindow();
            return Visible(main);
        },
        kTimeout);
    return Visible(main) ? main : nullptr;
}

std::string Morvane::Setting(const char* key) const {
    char value[512] = "";
    GetPrivateProfileStringA("user", key, "<missing>", value, sizeof value,
                             Path("config.ini").c_str());
    return value;
}

std::vector<ToolCall> Morvane::ToolCalls() const {
    std::vector<ToolCall> calls;
    std::istringstream log(testing_support::ReadFile(Path("fake-log.txt")));
    std::string line;
    while (std::getline(log, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        calls.push_back({std::atoll(line.substr(0, space).c_str()), line.substr(space + 1)});
    }
    return calls;
}

}  // namespace program_driver
