// The limiter worker: a background thread that keeps the master volume at or
// below the limit while limiting is switched on.
#pragma once

#include <windows.h>

#include "framework/Thread.h"

class CLimiterThread;

// Posted to the main window when the volume cannot be held: wParam 1 once
// kFailuresToReport queries in a row have given no volume, 0 at the first
// readable volume after that (or when the lock goes off). The worker itself
// never touches a window.
constexpr UINT WM_VOLUMEUNREADABLE = WM_APP + 1;
constexpr int kFailuresToReport = 3;

// Handed to the new thread, which frees it when its loop ends.
struct LimiterStartBlock {
    CLimiterThread* thread = nullptr;  // filled in by the thread object's constructor
    HWND mainWindow = nullptr;         // told of unreadable volumes; may be null
};

class CLimiterThread : public CWinThread {
public:
    CLimiterThread(AFX_THREADPROC proc, LimiterStartBlock* block);

    // Runs until running is cleared in State(); always returns 1.
    UINT LimiterLoop(LimiterStartBlock* block);
};

// The thread procedure: runs the loop of the thread object named in the
// block, frees the block, returns 0.
UINT LimiterThreadProc(LPVOID block);

// Starts a thread object; FALSE when it could not be started, and the object
// then stays with the caller.
using LimiterThreadStarter = BOOL (*)(CLimiterThread* thread);

// Sets running and starts the worker, which reports to mainWindow. When it
// cannot be started, says so in a message box owned by mainWindow (which may
// be null), captioned with the application's name like the program's other
// boxes, and frees what it made; limiting then stays off. start replaces the
// usual start (flags 0, default stack and security) so that tests can make
// it fail.
void StartLimiter(HWND mainWindow, LimiterThreadStarter start = nullptr);
