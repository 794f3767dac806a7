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
}  // namespace

CLimiterThread::CLimiterThread(AFX_THREADPROC proc, LimiterStartBlock* block)
    : CWinThread(proc, block) {
    block->thread = this;
}

UINT CLimiterThread::LimiterLoop(LimiterStartBlock* /*block*/) {
    // Released on both ways out, and only when it was taken.
    const ComInitScope com;
    LimiterState& state = State();
    while (Load(state.running)) {
        if (Load(state.lock)) {
            const int32_t current = GetMasterVolume();
            // Read once, so that the comparison and the command use one value.
            const int32_t limit = Load(state.limit);
            if (current != -1 && current > limit) SetMasterVolume(limit);
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
    if (block) thread = new (std::nothrow) CLimiterThread(LimiterThreadProc, block);
    if (thread && (start ? start(thread) : thread->CreateThread(0, 0, nullptr))) return;

    AfxShowMessage(mainWindow, kStartFailed);
    delete thread;
    delete block;
}
