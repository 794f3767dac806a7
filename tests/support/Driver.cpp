// Drives real windows from outside, as a user and the shell would: this
// process's own dialogs from a second thread, or a Morvane.exe in a folder
// of its own (see TestSupport.h).
#include <windows.h>
#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "framework/Handles.h"
#include "res/resource.h"
#include "tests/support/TestSupport.h"

namespace testing_support {

namespace {

struct Search {
    DWORD pid;
    const char *windowClass, *caption;
    bool visibleOnly;
    std::vector<HWND> found;
};

bool HasClass(HWND window, const char* name) {
    wchar_t found[256] = L"";
    GetClassNameW(window, found, 256);
    return _wcsicmp(found, Wide(name).c_str()) == 0;
}

BOOL CALLBACK Collect(HWND window, LPARAM param) {
    Search& search = *reinterpret_cast<Search*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((!search.pid || owner == search.pid) && (!search.visibleOnly || IsWindowVisible(window)) &&
        (!search.windowClass || HasClass(window, search.windowClass)) &&
        (!search.caption || Wide(WindowCaption(window)) == Wide(search.caption))) {
        search.found.push_back(window);
    }
    return TRUE;
}

}  // namespace

std::vector<HWND> FindWindows(DWORD pid, const char* windowClass, const char* caption,
                              bool visibleOnly, bool children) {
    Search search = {pid, windowClass, caption, visibleOnly, {}};
    // The desktop's children are enumerated at every depth.
    if (children) {
        EnumChildWindows(GetDesktopWindow(), Collect, reinterpret_cast<LPARAM>(&search));
    } else {
        EnumWindows(Collect, reinterpret_cast<LPARAM>(&search));
    }
    return search.found;
}

HWND WaitWindow(DWORD pid, const char* windowClass, const char* caption, DWORD timeoutMs) {
    std::vector<HWND> found;
    WaitFor([&] { return !(found = FindWindows(pid, windowClass, caption)).empty(); }, timeoutMs);
    return found.empty() ? nullptr : found.front();
}

HWND WaitOwnedDialog(HWND owner) {
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND window : FindWindows(0, "#32770", nullptr)) {
                if (GetWindow(window, GW_OWNER) == owner) found = window;
            }
            return found != nullptr;
        },
        kTimeout);
    return found;
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    // Not aborted when "hung": a program that has just waited seconds for
    // its settings file counts as hung until its next look at its queue.
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_NORMAL, kTimeout, &result)
               ? static_cast<LRESULT>(result)
               : 0;
}

std::string WindowCaption(HWND window) {
    // Another process's caption is read without a message to it, so a busy
    // program cannot stall the search.
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    return Narrow(text);
}

std::string ItemText(HWND dialog, int id) {
    wchar_t text[512] = L"";
    HWND item = GetDlgItem(dialog, id);
    if (!item) return "<no control>";
    Send(item, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text));
    return Narrow(text);
}

bool SetItemText(HWND dialog, int id, const std::string& text) {
    HWND item = GetDlgItem(dialog, id);
    return item && Send(item, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Wide(text).c_str()));
}

bool Click(HWND dialog, int id) {
    HWND item = GetDlgItem(dialog, id);
    return item && PostMessageW(item, BM_CLICK, 0, 0);
}

bool Visible(HWND window) { return IsWindow(window) && IsWindowVisible(window); }

HWND FocusOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
}

std::vector<COLORREF> ScreenPixels(const RECT& area) {
    std::vector<COLORREF> pixels;
    const HDC screen = GetDC(nullptr);
    for (LONG y = area.top; y < area.bottom; ++y) {
        for (LONG x = area.left; x < area.right; ++x) pixels.push_back(GetPixel(screen, x, y));
    }
    ReleaseDC(nullptr, screen);
    return pixels;
}

std::string TrayTip(HWND icon) {
    // The shell's tooltip writes the text into memory of the shell's own.
    DWORD shell = 0;
    GetWindowThreadProcessId(icon, &shell);
    const UniqueHandle process(
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, shell));
    TTTOOLINFOW tool = {};
    BYTE* const remote = static_cast<BYTE*>(VirtualAllocEx(
        process.get(), nullptr, sizeof tool + 2048, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    tool.cbSize = sizeof tool;
    tool.hwnd = icon;
    tool.uId = reinterpret_cast<UINT_PTR>(icon);
    tool.lpszText = reinterpret_cast<wchar_t*>(remote + sizeof tool);
    wchar_t text[1024] = L"";
    for (HWND tooltip : FindWindows(shell, "tooltips_class32", nullptr, false)) {
        // A balloon is a tooltip for the same window, with the balloon's text.
        if (!remote || text[0] || GetWindowLongW(tooltip, GWL_STYLE) & TTS_BALLOON) continue;
        WriteProcessMemory(process.get(), remote, &tool, sizeof tool, nullptr);
        WriteProcessMemory(process.get(), tool.lpszText, L"", sizeof(wchar_t), nullptr);
        Send(tooltip, TTM_GETTEXTW, 1024, reinterpret_cast<LPARAM>(remote));
        ReadProcessMemory(process.get(), tool.lpszText, text, sizeof text - 2, nullptr);
    }
    if (remote) VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return Narrow(text);
}

BoxContent ReadMessageBox(HWND box) {
    // The system gives the message's static control this identifier.
    BoxContent content = {WindowCaption(box), ItemText(box, 0xFFFF), {}};
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (HasClass(child, "Button") && IsWindowVisible(child)) {
            content.buttons.push_back(GetDlgCtrlID(child));
        }
    }
    return content;
}

bool WithDriver(const std::function<void()>& run, const std::function<void()>& script) {
    std::atomic<bool> done{false};
    bool rescued = false;
    std::thread driver([&] {
        script();
        if (WaitFor([&] { return done.load(); }, 5000)) return;
        rescued = true;
        WaitFor(
            [&] {
                for (HWND window : FindWindows(GetCurrentProcessId(), "#32770", nullptr)) {
                    PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
                }
                return done.load();
            },
            60000);
    });
    run();
    done = true;
    driver.join();
    return !rescued;
}

bool AnswerPrompt(HWND prompt, const std::string& password) {
    return SetItemText(prompt, IDC_EDIT_PASSWORD, password) && Click(prompt, IDOK) &&
           WaitFor([&] { return !Visible(prompt); }, kTimeout);
}

BoxContent AnswerWithMessage(HWND prompt, const std::string& password) {
    HWND box = SetItemText(prompt, IDC_EDIT_PASSWORD, password) && Click(prompt, IDOK)
                   ? WaitOwnedDialog(prompt)
                   : nullptr;
    const BoxContent content = box ? ReadMessageBox(box) : BoxContent();
    return DismissBox(box) ? content : BoxContent();
}

bool DismissBox(HWND box) {
    return box && Click(box, IDOK) && WaitFor([&] { return !IsWindow(box); }, kTimeout);
}

void ClickLock(HWND mainWindow, bool checked) {
    HWND box = GetDlgItem(mainWindow, IDC_CHECK_LOCK);
    Send(box, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED);
    Send(mainWindow, WM_COMMAND, MAKEWPARAM(IDC_CHECK_LOCK, BN_CLICKED),
         reinterpret_cast<LPARAM>(box));
}

bool MoveSlider(HWND mainWindow, int position) {
    HWND slider = GetDlgItem(mainWindow, IDC_SLIDER);
    const std::string label = std::to_string(position);
    return PostMessageW(slider, TBM_SETPOS, TRUE, position) &&
           PostMessageW(mainWindow, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, position),
                        reinterpret_cast<LPARAM>(slider)) &&
           WaitFor([&] { return ItemText(mainWindow, IDC_STATIC_VALUE) == label; }, kTimeout);
}

bool Morvane::Prepare(const std::string& config, const char* toolVolume) {
    return !m_dir.wpath().empty() && CopyBuildProgram("Morvane.exe", Path(L"Morvane.exe")) &&
           (!toolVolume || (InstallTool() && (!*toolVolume || SetToolVolume(toolVolume)))) &&
           (config.empty() || WriteFile(Path(L"config.ini"), config));
}

bool Morvane::Start(bool asStandardUser) {
    if (m_dir.wpath().empty() || Running()) return false;
    Kill();
    m_iconsBefore = FindWindows(0, "__winex11_tray_icon", nullptr, false, true);
    return Process::Start(Path(L"Morvane.exe"), L"", asStandardUser);
}

void Morvane::Kill() {
    if (!pid()) return;
    Process::Kill();
    // The runner's job ends a command still in flight, a moment later.
    WaitFor([&] { return ProcessesRunning(Path(L"bin.exe")).empty(); }, 5000);
}

HWND Morvane::MainWindow() const {
    const std::vector<HWND> windows = FindWindows(pid(), "#32770", "Morvane", false);
    return windows.empty() ? nullptr : windows.front();
}

std::vector<HWND> Morvane::TrayIcons() const {
    std::vector<HWND> ours;
    for (HWND icon : FindWindows(0, "__winex11_tray_icon", nullptr, false, true)) {
        if (std::count(m_iconsBefore.begin(), m_iconsBefore.end(), icon) == 0) ours.push_back(icon);
    }
    return ours;
}

bool Morvane::CancelPrompt(const char* caption) {
    HWND prompt = WaitDialog(caption);
    return Click(prompt, IDCANCEL) && WaitFor([&] { return !Visible(prompt); }, kTimeout);
}

HWND Morvane::StartToMainWindow(const std::string& password, bool asStandardUser) {
    HWND prompt = nullptr, main = nullptr;
    auto prompted = [&] {
        return (prompt = WaitDialog(kSetPrompt, 0)) || (prompt = WaitDialog(kVerifyPrompt, 0));
    };
    if (!Start(asStandardUser) || !WaitFor(prompted, kTimeout)) return nullptr;
    return testing_support::AnswerPrompt(prompt, password) &&
                   WaitFor([&] { return Visible(main = MainWindow()); }, kTimeout)
               ? main
               : nullptr;
}

bool Morvane::Close(HWND mainWindow) {
    return PostMessageW(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0) && WaitExit();
}

std::string Morvane::Setting(const char* key) const {
    wchar_t value[512] = L"";
    GetPrivateProfileStringW(L"user", Wide(key).c_str(), L"<missing>", value, 512,
                             Path(L"config.ini").c_str());
    return Narrow(value);
}

}  // namespace testing_support
