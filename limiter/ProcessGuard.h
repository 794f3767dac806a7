// Keeps the account the program runs in from ending it. Windows lets any
// program of an account end, suspend or write to every other program of that
// account, a child's included; a process's security descriptor can take
// those rights back from everyone but administrators and the system.
#pragma once

#include <windows.h>

// On: this process and each of its threads grant administrators and the
// system everything, and everyone else, their own account included, only
// what listing them needs (query, wait, read the descriptor). The
// descriptor's owner loses its implicit right to rewrite it. What the
// process creates from then on (threads, the interpreter and the volume tool
// it starts) is made the same way. Off: all of it grants what it did before
// (threads begun while it was on keep the guard). User interface thread
// only; false when the process's own descriptor could not be set.
bool SetProcessGuard(bool on);
bool ProcessGuarded();

// For a new child's process and first thread: the guard's descriptor while
// it is on, null (the defaults) while it is off. Any thread.
SECURITY_ATTRIBUTES* GuardedProcessAttributes();
SECURITY_ATTRIBUTES* GuardedThreadAttributes();
