// The process-wide state record.
#include "settings/LimiterState.h"

namespace {
// Made while the process starts, when it has one thread, so that no lock
// guards its creation. Deliberately leaked: no destructor may run while the
// worker can still be inside a command at process exit.
LimiterState* const g_state = new LimiterState;
}  // namespace

LimiterState& State() { return *g_state; }
