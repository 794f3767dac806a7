// Helpers shared by the test programs: temporary folders, files, the build's
// own programs, waiting with a deadline, and counting our own handles.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testing_support {

// The folder holding the running test program (with a trailing '\').
std::string BuildBinDir();

// A fresh folder under the temporary directory, removed with its contents
// when the object goes away. name may hold spaces, '&' and other characters.
class TempDir {
public:
    explicit TempDir(const std::string& name = "morvane");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }  // with a trailing '\'
    std::string operator/(const std::string& file) const { return m_path + file; }

private:
    std::string m_path;
};

std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, const std::string& text);
bool CopyBuildProgram(const std::string& program, const std::string& destination);

// Polls condition every 20 ms until it holds or timeoutMs passes.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs);

// The number of handles this process holds, counted from the system's
// handle table (GetProcessHandleCount answers 0 under Wine).
int CountOwnHandles();
int CountProcessHandles(DWORD pid);

// Milliseconds since the Unix epoch, as the fake volume tool logs them.
long long NowMs();

}  // namespace testing_support
