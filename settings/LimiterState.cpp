// The process-wide state record.
#include "settings/LimiterState.h"

LimiterState& State() {
    // Deliberately leaked: no destructor may run while the worker can still
    // be inside a command at process exit.
    static LimiterState* const state = new LimiterState;
    return *state;
}
