// The limiter worker's thread, its loop and its start.
#include "limiter/LimiterThread.h"

#include <new>

#include "framework/App.h"
#include "framework/Handles.h"
#include "limiter/VolumeTool.h"
#include "settings/LimiterState.h"

namespace {
const char kStartFailed[] = "Cannot Start New Thread";
// Ten slices of 100 ms make the second between cycles; running is looked at
// before each, so a stop is noticed within one slice while waiting.
const int kWaitSlices = 10;
const DWORD kWaitSlice = 100;

void Report(const LimiterStartBlock* block, bool unreadable) {
    if (block->mainWindow) PostMessageA(block->mainWindow, WM_VOLUMEUNREADABLE, unreadable, 0);
}
}  // namespace

CLimiterThread::CLimiterThread(AFX_THREADPROC proc, LimiterStartBlock* block)
    : CWinThread(proc, block) {
    block->thread = this;
}

UINT CLimiterThread::LimiterLoop(LimiterStartBlock* block) {
    // Released on both ways out, and only when it was taken.
    const ComInitScope com;
    LimiterState& state = State();
    // Queries in a row that gave no volume, up to the number that is
    // reported: a missing tool or device would otherwise look like a
    // ceiling that holds.
    int failures = 0;
    while (Load(state.running)) {
        int32_t current = -1;
        const bool locked = Load(state.lock) != 0;
        if (locked) {
            current = GetMasterVolume();
            // Read once, so that the comparison and the command use one value.
            const int32_t limit = Load(state.limit);
            if (current != -1 && current > limit) SetMasterVolume(limit);
        }
        if (locked && current == -1) {
            if (failures < kFailuresToReport && ++failures == kFailuresToReport)
                Report(block, true);
        } else {
            // With the lock off nothing is held, so nothing is said either.
            if (failures == kFailuresToReport) Report(block, false);
            failures = 0;
        }
        for (int slice = 0; slice < kWaitSlices; ++slice) {
            if (!Load(state.running)) return 1;
            Sleep(kWaitSlice);
        }
    }
    return 1;
}

UINT LimiterThreadProc(LPVOID param) {
    LimiterStartBlock* const block = static_cast<LimiterStartBlock*>(param);
    block->thread->LimiterLoop(block);
    delete block;
    return 0;
}

void StartLimiter(HWND mainWindow, LimiterThreadStarter start) {
    Store(State().running, 1);
    LimiterStartBlock* const block = new (std::nothrow) LimiterStartBlock;
    CLimiterThread* thread = nullptr;
    if (block) block->mainWindow = mainWindow;
    if (block) thread = new (std::nothrow) CLimiterThread(LimiterThreadProc, block);
    if (thread && (start ? start(thread) : thread->CreateThread(0, 0, nullptr))) return;

    AfxShowMessage(mainWindow, kStartFailed);
    delete thread;
    delete block;
}
