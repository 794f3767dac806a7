// The application object and the program's entry point: a program defines
// one static object of a class derived from CWinApp and overrides
// InitInstance; the framework's WinMain calls it.
#pragma once

#include <windows.h>

#include <string>

#include "framework/String.h"
#include "framework/Window.h"

class CWinApp {
public:
    // With no name, the application is named after its executable file.
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // FALSE ends the program at once (the usual shape for a program that is
    // one modal dialog); TRUE runs the thread's message loop until WM_QUIT.
    virtual BOOL InitInstance() { return TRUE; }
    // The message loop run after a successful InitInstance; the quit code.
    virtual int Run();

    // Owner of message boxes and of dialogs created with no parent.
    CWnd* m_pMainWnd = nullptr;
    HINSTANCE m_hInstance;
    CString m_appName;

protected:
    // Registers the common control classes the dialog templates name (the
    // trackbar); the templates cannot be created without it. Version 6 of
    // the controls, which the manifest asks for, draws them in the system's
    // style by itself.
    BOOL RegisterCommonControls();
};

// The one application object, or null when none exists (test programs).
CWinApp* AfxGetApp();
// The module holding the resources: the executable.
HINSTANCE AfxGetInstanceHandle();
// The application's name, for message box captions.
CString AfxGetAppName();

// A message box with the application's name as caption, owned by the main
// window (by whichever of its dialogs is active) while it is shown.
int AfxMessageBox(const char* text, UINT type = MB_OK);
// A message box owned by owner (may be null); with no caption, the
// application's name. Text and caption are the program's code page 936 text.
int AfxShowMessage(HWND owner, const char* text, const char* caption = nullptr, UINT type = MB_OK);

// The full path of the running executable, however long.
std::wstring GetModulePath();
