// The application object, message boxes and WinMain.
#include "framework/App.h"

#include <commctrl.h>

#include "framework/RecordSize.h"

namespace {

CWinApp* g_app = nullptr;

static_assert(sizeof(INITCOMMONCONTROLSEX) == RecordSize(8, 8), "INITCOMMONCONTROLSEX");

CString ModuleBaseName() {
    // Whatever the length of the folder's path: the name is what follows the
    // last separator, up to the extension.
    const std::wstring path = GetModulePath();
    const size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of(L'.');
    if (dot != std::wstring::npos) name.erase(dot);
    return NarrowFromWide(name.c_str());
}

}  // namespace

CWinApp::CWinApp(const char* appName)
    : m_hInstance(GetModuleHandleA(nullptr)),
      m_appName(appName && *appName ? CString(appName) : ModuleBaseName()) {
    g_app = this;
}

CWinApp::~CWinApp() {
    if (g_app == this) g_app = nullptr;
}

int CWinApp::Run() {
    MSG msg;
    BOOL got;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) return -1;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return static_cast<int>(msg.wParam);
}

BOOL CWinApp::RegisterCommonControls() {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&controls);
}

CWinApp* AfxGetApp() { return g_app; }

HINSTANCE AfxGetInstanceHandle() { return GetModuleHandleA(nullptr); }

CString AfxGetAppName() { return g_app ? g_app->m_appName : ModuleBaseName(); }

int AfxMessageBox(const char* text, UINT type) {
    HWND owner = nullptr;
    if (g_app && g_app->m_pMainWnd) {
        HWND main = g_app->m_pMainWnd->m_hWnd;
        // While a prompt owned by the main window is open, the box belongs
        // over the prompt, or the user could not see what it answers.
        if (main && IsWindow(main) && IsWindowVisible(main)) owner = GetLastActivePopup(main);
    }
    return AfxShowMessage(owner, text, nullptr, type);
}

int AfxShowMessage(HWND owner, const char* text, const char* caption, UINT type) {
    const CString title = caption ? CString(caption) : AfxGetAppName();
    return MessageBoxW(owner, WideFromNarrow(text).c_str(), WideFromNarrow(title).c_str(), type);
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    return AfxShowMessage(m_hWnd, text, caption, type);
}

// Lives beside the application object so that a program linking the
// framework gets it with its CWinApp.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    return app->InitInstance() ? app->Run() : 0;
}
