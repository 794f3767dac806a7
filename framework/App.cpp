// The application object, message boxes and WinMain.
#include "framework/App.h"

#include <commctrl.h>

namespace {

CWinApp* g_app = nullptr;

CString ModuleBaseName() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    char name[_MAX_FNAME] = "";
    _splitpath(path, nullptr, nullptr, name, nullptr);
    return CString(name);
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
    while ((got = GetMessageA(&msg, nullptr, 0, 0)) != 0) {
        if (got == -1) return -1;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
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
    return MessageBoxA(owner, text, AfxGetAppName(), type);
}

int CWnd::MessageBox(const char* text, const char* caption, UINT type) {
    return ::MessageBoxA(m_hWnd, text, caption ? CString(caption) : AfxGetAppName(), type);
}

// Lives beside the application object so that a program linking the
// framework gets it with its CWinApp.
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    return app->InitInstance() ? app->Run() : 0;
}
