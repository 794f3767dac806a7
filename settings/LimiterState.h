// The one record that the user interface thread and the limiter worker share.
#pragma once

#include <atomic>
#include <cstdint>

#include "framework/String.h"

struct LimiterState {
    // Shared between the threads: each is one whole word, loaded and stored
    // whole with relaxed ordering; nothing else is published through them.
    std::atomic<int32_t> limit{0};    // ceiling, percent of full scale
    std::atomic<int32_t> lock{0};     // 1 while limiting is switched on
    std::atomic<int32_t> running{0};  // 1 while the worker is to keep going

    // User interface thread only.
    int32_t ready = 0;  // 1 once the start-up password prompt was passed
    CString iniPath;    // application directory + "config.ini"
    CString password;   // value of "p1"

    // Written once before the worker starts, read-only afterwards.
    CString toolPath;  // application directory + "bin.exe"
    // Policy bars the command prompt, which would refuse to run the tool:
    // the tool is started directly instead.
    bool commandPromptBarred = false;
};

// The process-wide state. It is created as the process starts and never
// destroyed: the worker is never joined and may still read it while the
// process runs its exit-time destructors.
LimiterState& State();

inline int32_t Load(const std::atomic<int32_t>& word) {
    return word.load(std::memory_order_relaxed);
}
inline void Store(std::atomic<int32_t>& word, int32_t value) {
    word.store(value, std::memory_order_relaxed);
}
