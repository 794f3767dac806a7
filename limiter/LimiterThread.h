// The limiter worker: a background thread that keeps the master volume at or
// below the limit while limiting is switched on.
#pragma once

#include <windows.h>

#include <cstdint>

#include "framework/Thread.h"

class CLimiterThread;

// Posted to the main window when the ceiling stops or starts holding, with
// a CeilingState as wParam: kFailuresToReport cycles in a row that gave no
// volume, whose set did not bring it down, or in which the tool said that
// some output could not be read or lowered, are told once; so is the first
// cycle after that in which the ceiling holds on every output (or the lock
// goes off).
// The worker itself never touches a window.
constexpr UINT WM_VOLUMEUNREADABLE = WM_APP + 1;
constexpr int kFailuresToReport = 3;

enum CeilingState : WPARAM {
    kCeilingHeld = 0,
    kVolumeUnreadable = 1,  // the query gave no volume
    kVolumeNotLowered = 2,  // the set's answer is above the ceiling, or missing
    kOutputNotHeld = 3,     // the tool answered, but some output could not be read or lowered
};

// What one cycle found: current is the queried volume (-1: none), setAnswer
// what the set left on the device (-1: none; ignored when no set was due),
// outputMissed whether the query or the set said that some output could not
// be read or lowered. A volume raised again and again by hand, each time
// brought down, holds. A missing volume, or a loudest output left above the
// ceiling, is told as such even when an output was missed too: those say
// more, and say it of the outputs the tool could reach.
CeilingState JudgeCycle(bool locked, int32_t current, int32_t limit, int32_t setAnswer,
                        bool outputMissed);

// Cycles in a row that failed the same way; says when what is to be told
// changes.
class CeilingWatch {
public:
    // true when this cycle changed what the main window is to show.
    bool Update(CeilingState cycle);
    CeilingState told() const { return m_told; }

private:
    CeilingState m_told = kCeilingHeld;
    CeilingState m_last = kCeilingHeld;
    int m_inARow = 0;
};

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
