// The running program's own path. Apart from the application object, so
// that a program that needs only this links no window code.
#include <windows.h>

#include <string>

#include "framework/App.h"

namespace {

// The longest path the system takes, in characters.
const size_t kMaxModulePath = 32768;

}  // namespace

std::wstring GetModulePath() {
    // Older systems leave a cut path without its NUL; Wine gives nothing at
    // all when the buffer is short. The buffer grows until the path fits.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(path.size());
        const DWORD length = GetModuleFileNameW(nullptr, &path[0], size);
        if (length != 0 && length < size - 1) {
            path.resize(length);
            return path;
        }
        if (path.size() >= kMaxModulePath) return std::wstring();
        path.assign(path.size() * 2, L'\0');
    }
}
