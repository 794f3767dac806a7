// The application object (see LimiterApp.h) and the one instance of it.
#include "ui/LimiterApp.h"

#include "ui/LimiterDlg.h"

CLimiterApp::CLimiterApp() : CWinApp(nullptr) {}

BOOL CLimiterApp::InitInstance() {
    // The trackbar in the main dialog's template needs its class registered.
    RegisterCommonControls();

    CLimiterDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    // The program is the dialog: no message loop after it.
    return FALSE;
}

CLimiterApp theApp;
