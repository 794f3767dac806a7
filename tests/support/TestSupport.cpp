// Folders, files, time and processes for the tests (see TestSupport.h).
#include "tests/support/TestSupport.h"

#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "framework/App.h"

namespace testing_support {

std::wstring ModuleDir() {
    const std::wstring path = GetModulePath();
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

namespace {
void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((dir + L"*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileW(search, &found)) {
        const std::wstring name = found.cFileName, path = dir + name;
        if (name == L"." || name == L"..") continue;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            RemoveTree(path + L"\\");
        } else {
            DeleteFileW(path.c_str());
        }
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    RemoveDirectoryW(dir.c_str());
}
}  // namespace

TempDir::TempDir(const std::wstring& name) {
    wchar_t base[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, base);
    static LONG counter = 0;
    for (int attempt = 0; attempt < 100 && m_path.empty(); ++attempt) {
        const std::wstring path = base + name + L" " + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(InterlockedIncrement(&counter)) + L"\\";
        if (CreateDirectoryW(path.c_str(), nullptr)) m_path = path;
    }
}

TempDir::~TempDir() {
    if (!m_path.empty()) RemoveTree(m_path);
}

// Through the C runtime: its sharing lets a test and the fake tool read and
// write the same files at the same moments.
std::string ReadFile(const std::wstring& path) {
    std::string text;
    FILE* file = _wfopen(path.c_str(), L"rb");
    char buffer[4096];
    for (size_t n; file && (n = fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
    if (file) fclose(file);
    return text;
}

bool WriteFile(const std::wstring& path, const std::string& text) {
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (!file) return false;
    const bool written = fwrite(text.data(), 1, text.size(), file) == text.size();
    return fclose(file) == 0 && written;
}

bool CopyBuildProgram(const std::string& program, const std::wstring& destination) {
    return CopyFileW((ModuleDir() + Wide(program)).c_str(), destination.c_str(), FALSE) != 0;
}

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() >= deadline) return false;
        Sleep(20);
    }
}

long long NowMs() {
    ULARGE_INTEGER t;
    GetSystemTimeAsFileTime(reinterpret_cast<FILETIME*>(&t));
    return static_cast<long long>((t.QuadPart - 116444736000000000ULL) / 10000);
}

double PreciseMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return (values[(n - 1) / 2] + values[n / 2]) / 2;
}

int CountProcessHandles(DWORD pid) {
    // A count followed by one entry per handle.
    struct Entry {
        ULONG ownerPid;
        BYTE objectType, flags;
        USHORT value;
        PVOID object;
        ACCESS_MASK access;
    };
    std::vector<BYTE> buffer(1 << 20);
    while (NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                    static_cast<ULONG>(buffer.size()), nullptr) != 0) {
        if (buffer.size() >= (1u << 27)) return -1;
        buffer.resize(buffer.size() * 2);
    }
    const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const Entry* entries = reinterpret_cast<const Entry*>(buffer.data() + sizeof(ULONG_PTR));
    return static_cast<int>(
        std::count_if(entries, entries + count, [&](const Entry& e) { return e.ownerPid == pid; }));
}

std::vector<DWORD> ProcessesRunning(const std::wstring& path) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more;
         more = Process32NextW(snapshot, &entry)) {
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        std::wstring image(32768, L'\0');
        DWORD size = static_cast<DWORD>(image.size());
        if (process && QueryFullProcessImageNameW(process, 0, &image[0], &size) &&
            _wcsicmp(image.c_str(), path.c_str()) == 0) {
            found.push_back(entry.th32ProcessID);
        }
        if (process) CloseHandle(process);
    }
    CloseHandle(snapshot);
    return found;
}

std::vector<DWORD> OwnThreads() {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) found.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return found;
}

Process::~Process() {
    Kill();
    if (m_job) CloseHandle(m_job);
}

bool Process::Start(const std::wstring& exe) {
    Kill();  // what is left of an earlier run
    if (!m_job && (m_job = CreateJobObjectW(nullptr, nullptr))) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    // Standard handles on NUL: under Wine the program would otherwise share
    // this test's output pipe, and anything it leaves running would keep
    // the test runner waiting for the pipe to close.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = startup.hStdOutput = startup.hStdError = nul;
    std::wstring commandLine = L"\"" + exe + L"\"";
    wchar_t elsewhere[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, elsewhere);
    const BOOL started = CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                        CREATE_SUSPENDED, nullptr, elsewhere, &startup, &m_process);
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (!started) return false;
    if (m_job) AssignProcessToJobObject(m_job, m_process.hProcess);
    ResumeThread(m_process.hThread);
    return true;
}

void Process::Kill() {
    if (!m_process.hProcess) return;
    if (m_job) TerminateJobObject(m_job, 1);
    TerminateProcess(m_process.hProcess, 1);
    WaitForSingleObject(m_process.hProcess, kTimeout);
    CloseHandle(m_process.hProcess);
    CloseHandle(m_process.hThread);
    m_process = {};
}

std::vector<ToolCall> ReadToolLog(const std::wstring& folder) {
    std::vector<ToolCall> calls;
    std::istringstream log(ReadFile(folder + L"fake-log.txt"));
    std::string line;
    while (std::getline(log, line)) {
        line.erase(line.find_last_not_of(" \r") + 1);
        const size_t space = line.find(' '), options = line.find("-multimedia");
        if (space == std::string::npos) continue;
        std::string rest = options == std::string::npos ? "" : line.substr(options + 11);
        rest.erase(0, rest.find_first_not_of(' '));
        calls.push_back({std::atoll(line.c_str()), line.substr(space + 1), rest});
    }
    return calls;
}

size_t CountCalls(const std::vector<ToolCall>& calls, bool sets, long long afterMs,
                  const std::string& value) {
    return std::count_if(calls.begin(), calls.end(), [&](const ToolCall& call) {
        return call.IsSet() == sets && call.whenMs > afterMs &&
               (value.empty() || call.options == "-v " + value);
    });
}

}  // namespace testing_support
