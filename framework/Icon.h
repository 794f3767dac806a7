// Icons at the size a display's scaling asks for, and the system functions
// newer than Windows 7 that such code looks up while running.
#pragma once

#include <windows.h>

#include <cstring>

// The address of name in the system DLL dll (loaded if it is not yet), as a
// Function pointer; null where this Windows lacks either. The DLL stays
// loaded.
FARPROC SystemFunctionAddress(const char* dll, const char* name);
template <typename Function>
Function SystemFunction(const char* dll, const char* name) {
    const FARPROC address = SystemFunctionAddress(dll, name);
    Function function = nullptr;
    static_assert(sizeof function == sizeof address, "a function pointer");
    memcpy(&function, &address, sizeof function);
    return function;
}

// The dots per inch of the system's scaling, which a program's system
// metrics follow until the user signs out.
UINT SystemDpi();

// Icon resource id of module at the size the system metrics cx and cy
// (SM_CXICON, SM_CYICON or the small ones) ask for at dpi; 0 means the
// system's own DPI. Never a shared icon: the caller destroys it.
HICON LoadIconForDpi(HINSTANCE module, UINT id, int cx, int cy, UINT dpi = 0);
