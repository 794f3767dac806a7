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

void Report(const LimiterStartBlock* block, CeilingState state) {
    if (block->mainWindow) PostMessageA(block->mainWindow, WM_VOLUMEUNREADABLE, state, 0);
}
}  // namespace

CeilingState JudgeCycle(bool locked, int32_t current, int32_t limit, int32_t setAnswer,
                        bool outputMissed) {
    if (!locked) return kCeilingHeld;
    if (current == -1) return kVolumeUnreadable;
    // The tool sets no less than 0: a negative ceiling is held at silence.
    const int32_t reachable = limit < 0 ? 0 : limit;
    if (current > limit && (setAnswer == -1 || setAnswer > reachable)) return kVolumeNotLowered;
    return outputMissed ? kOutputNotHeld : kCeilingHeld;
}

bool CeilingWatch::Update(CeilingState cycle) {
    m_inARow = cycle != m_last ? 1 : m_inARow < kFailuresToReport ? m_inARow + 1 : m_inARow;
    m_last = cycle;
    // One cycle that holds is enough; a failure must last.
    const bool tell = cycle == kCeilingHeld || m_inARow == kFailuresToReport;
    if (!tell || cycle == m_told) return false;
    m_told = cycle;
    return true;
}

CLimiterThread::CLimiterThread(AFX_THREADPROC proc, LimiterStartBlock* block)
    : CWinThread(proc, block) {
    block->thread = this;
}

UINT CLimiterThread::LimiterLoop(LimiterStartBlock* block) {
    // Released on both ways out, and only when it was taken.
    const ComInitScope com;
    LimiterState& state = State();
    // A missing tool or device, or one that ignores the set, would otherwise
    // look like a ceiling that holds.
    CeilingWatch watch;
    while (Load(state.running)) {
        const bool locked = Load(state.lock) != 0;
        int32_t current = -1, limit = 0, setAnswer = -1;
        bool queryMissed = false, setMissed = false;
        if (locked) {
            current = GetMasterVolume(&queryMissed);
            // Read once, so that the comparison and the command use one value.
            limit = Load(state.limit);
            if (current != -1 && current > limit) setAnswer = SetMasterVolume(limit, &setMissed);
        }
        if (watch.Update(JudgeCycle(locked, current, limit, setAnswer, queryMissed || setMissed)))
            Report(block, watch.told());
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
