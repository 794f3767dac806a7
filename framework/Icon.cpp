// Icons for a DPI and run-time look-ups of newer system functions (see Icon.h).
#include "framework/Icon.h"

FARPROC SystemFunctionAddress(const char* dll, const char* name) {
    // A DLL the program already uses is taken as loaded: for comctl32 that
    // is the version the manifest chose, not the one in the system folder.
    HMODULE module = GetModuleHandleA(dll);
    // Only from the system folder, never the program's own. Windows 7
    // without its 2011 loader update refuses the flag; it has none of the
    // newer DLLs either.
    if (!module) module = LoadLibraryExA(dll, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    return module ? GetProcAddress(module, name) : nullptr;
}

UINT SystemDpi() {
    const HDC screen = GetDC(nullptr);
    const int dpi = screen ? GetDeviceCaps(screen, LOGPIXELSX) : 0;
    if (screen) ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : USER_DEFAULT_SCREEN_DPI;
}

HICON LoadIconForDpi(HINSTANCE module, UINT id, int cx, int cy, UINT dpi) {
    int width = GetSystemMetrics(cx), height = GetSystemMetrics(cy);
    if (dpi) {
        // The functions that answer the metrics for another DPI are newer
        // than Windows 7.
        const int systemDpi = static_cast<int>(SystemDpi());
        width = MulDiv(width, static_cast<int>(dpi), systemDpi);
        height = MulDiv(height, static_cast<int>(dpi), systemDpi);
    }
    // For a size the icon holds no image of (28 or 40 pixels, say),
    // LoadImage stretches the nearest smaller image; this one (Vista and
    // later) shrinks a larger one, which stays sharp.
    using ScaleDown = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, int, HICON*);
    const ScaleDown scaleDown = SystemFunction<ScaleDown>("comctl32.dll", "LoadIconWithScaleDown");
    HICON icon = nullptr;
    if (scaleDown && SUCCEEDED(scaleDown(module, MAKEINTRESOURCEW(id), width, height, &icon))) {
        return icon;
    }
    return static_cast<HICON>(
        LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, width, height, LR_DEFAULTCOLOR));
}
