// The application object: runs the main dialog and ends with it.
#pragma once

#include "framework/App.h"

class CLimiterApp : public CWinApp {
public:
    CLimiterApp();
    BOOL InitInstance() override;
};
