// Folders, files, time and processes for the tests (see TestSupport.h).
#include "tests/support/TestSupport.h"

#include <aclapi.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "framework/App.h"
#include "framework/Handles.h"

namespace testing_support {

std::wstring ModuleDir() {
    const std::wstring path = GetModulePath();
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

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
    if (m_path.empty()) return;
    // Some tests make files or the folder itself read-only; those would stay.
    std::error_code error;
    for (std::filesystem::recursive_directory_iterator item(m_path, error), end;
         !error && item != end; item.increment(error)) {
        SetFileAttributesW(item->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    SetFileAttributesW(m_path.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(m_path, error);
}

// The streams open files as the C runtime does: its sharing lets a test and
// the fake tool read and write the same files at the same moments.
std::string ReadFile(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool WriteFile(const std::wstring& path, const std::string& text) {
    std::ofstream file(path.c_str(), std::ios::binary);
    file.write(text.data(), static_cast<std::streamsize>(text.size()));
    file.close();
    return !file.fail();
}

bool CopyBuildProgram(const std::string& program, const std::wstring& destination) {
    return CopyFileW((ModuleDir() + Wide(program)).c_str(), destination.c_str(), FALSE) != 0;
}

bool InstallRealTool(const std::wstring& folder, const std::string& level) {
    return CopyBuildProgram("bin.exe", folder + L"bin.exe") &&
           CopyBuildProgram("standin-device.dll", folder + L"mmdevapi.dll") &&
           SetDeviceLevel(folder, level);
}

std::wstring DeviceLevelFile(const std::wstring& folder, int output) {
    return folder + L"device" + (output == 1 ? L"" : std::to_wstring(output)) + L"-level.txt";
}

float DeviceLevel(const std::wstring& folder, int output) {
    // The device writes the file anew: empty for a moment.
    std::string text;
    WaitFor([&] { return !(text = ReadFile(DeviceLevelFile(folder, output))).empty(); }, 1000);
    return text.empty() ? NAN : strtof(text.c_str(), nullptr);
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
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

double PreciseMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return (values[(n - 1) / 2] + values[n / 2]) / 2;
}

namespace {

// One entry of the system's handle table.
struct HandleEntry {
    ULONG ownerPid;
    BYTE objectType, attributes;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
};

// The entries of process pid; false when the table cannot be read.
bool ReadHandleTable(DWORD pid, std::vector<HandleEntry>& entries) {
    // A count followed by one entry per handle.
    std::vector<BYTE> buffer(1 << 20);
    while (NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                    static_cast<ULONG>(buffer.size()), nullptr) != 0) {
        if (buffer.size() >= (1u << 27)) return false;
        buffer.resize(buffer.size() * 2);
    }
    const ULONG count = *reinterpret_cast<ULONG*>(buffer.data());
    const HandleEntry* all =
        reinterpret_cast<const HandleEntry*>(buffer.data() + sizeof(ULONG_PTR));
    std::copy_if(all, all + count, std::back_inserter(entries),
                 [&](const HandleEntry& e) { return e.ownerPid == pid; });
    return true;
}

}  // namespace

int CountProcessHandles(DWORD pid) {
    std::vector<HandleEntry> entries;
    return ReadHandleTable(pid, entries) ? static_cast<int>(entries.size()) : -1;
}

std::vector<HANDLE> InheritableHandles() {
    const ULONG kInherit = 0x02;  // OBJ_INHERIT
    std::vector<HandleEntry> entries;
    ReadHandleTable(GetCurrentProcessId(), entries);
    std::vector<HANDLE> found;
    for (const HandleEntry& e : entries) {
        if (e.attributes & kInherit) found.push_back(reinterpret_cast<HANDLE>(ULONG_PTR(e.value)));
    }
    return found;
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

std::vector<DWORD> ThreadsOf(DWORD pid) {
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == pid) found.push_back(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return found;
}

Process::~Process() {
    Kill();
    if (m_job) CloseHandle(m_job);
}

namespace {

// The token of a standard account's program (see StandardUserRights), as a
// primary token to start a program with or one to impersonate.
HANDLE StandardUserToken(TOKEN_TYPE type) {
    HANDLE own = nullptr, restricted = nullptr, token = nullptr;
    BYTE administrators[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof administrators;
    if (!CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, administrators, &size) ||
        !OpenProcessToken(GetCurrentProcess(), TOKEN_ALL_ACCESS, &own)) {
        return nullptr;
    }
    SID_AND_ATTRIBUTES denyOnly = {administrators, 0};
    if (CreateRestrictedToken(own, DISABLE_MAX_PRIVILEGE, 1, &denyOnly, 0, nullptr, 0, nullptr,
                              &restricted)) {
        DuplicateTokenEx(restricted, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation, type,
                         &token);
        CloseHandle(restricted);
    }
    CloseHandle(own);
    return token;
}

}  // namespace

StandardUserRights StandardUserRightsOn(DWORD pid) {
    StandardUserRights rights;
    HANDLE token = StandardUserToken(TokenImpersonation);
    // What the object's descriptor grants the token, checked as Windows
    // checks it: Wine checks a thread's access against its process's
    // descriptor instead of its own.
    const auto grants = [&](HANDLE object, DWORD access, DWORD all) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        GENERIC_MAPPING mapping = {STANDARD_RIGHTS_READ, STANDARD_RIGHTS_WRITE,
                                   STANDARD_RIGHTS_EXECUTE, all};
        PRIVILEGE_SET privileges;
        DWORD privilegesSize = sizeof privileges, granted = 0;
        BOOL allowed = FALSE;
        if (GetSecurityInfo(
                object, SE_KERNEL_OBJECT,
                OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                nullptr, nullptr, nullptr, nullptr, &descriptor) == ERROR_SUCCESS) {
            AccessCheck(descriptor, token, access, &mapping, &privileges, &privilegesSize, &granted,
                        &allowed);
            LocalFree(descriptor);
        }
        if (object) CloseHandle(object);
        // An object that cannot be read is taken for the worst.
        return allowed || !descriptor;
    };
    const auto process = [&] { return OpenProcess(READ_CONTROL, FALSE, pid); };
    rights.stopProcess = grants(process(), PROCESS_TERMINATE, PROCESS_ALL_ACCESS) ||
                         grants(process(), PROCESS_SUSPEND_RESUME, PROCESS_ALL_ACCESS);
    for (const DWORD thread : ThreadsOf(pid)) {
        ++rights.threads;
        if (grants(OpenThread(READ_CONTROL, FALSE, thread), THREAD_SUSPEND_RESUME,
                   THREAD_ALL_ACCESS)) {
            ++rights.threadsStoppable;
        }
    }
    if (token) CloseHandle(token);
    return rights;
}

std::string DaclOf(HANDLE object) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    char* text = nullptr;
    std::string dacl;
    if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                        nullptr, nullptr, &descriptor) == ERROR_SUCCESS &&
        ConvertSecurityDescriptorToStringSecurityDescriptorA(
            descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &text, nullptr)) {
        dacl = text;
    }
    LocalFree(text);
    LocalFree(descriptor);
    if (object) CloseHandle(object);
    return dacl;
}

bool Process::Start(const std::wstring& exe, const std::wstring& arguments, bool asStandardUser) {
    Kill();  // what is left of an earlier run
    if (!m_job && (m_job = CreateJobObjectW(nullptr, nullptr))) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(m_job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    // Standard handles on NUL, and no other handle of ours: under Wine our
    // own standard handles are inheritable and are the test runner's output
    // pipe, which anything the program leaves running would keep open.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    const InheritList inheritList(&nul, 1);
    STARTUPINFOEXW startup = {};
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = startup.StartupInfo.hStdOutput = startup.StartupInfo.hStdError =
        nul;
    startup.lpAttributeList = inheritList.get();
    // As a C runtime's spawn functions start a program, with their table of
    // the files it inherits (a count, flags, handles): all three on NUL.
    BYTE table[sizeof(int) + 3 + 3 * sizeof nul] = {3, 0, 0, 0, 0x41, 0x41, 0x41};
    for (int i = 0; i < 3; ++i) memcpy(table + 7 + i * sizeof nul, &nul, sizeof nul);
    startup.StartupInfo.cbReserved2 = sizeof table;
    startup.StartupInfo.lpReserved2 = table;
    std::wstring commandLine = L"\"" + exe + L"\"" + (arguments.empty() ? L"" : L" " + arguments);
    wchar_t elsewhere[MAX_PATH] = L"";
    GetTempPathW(MAX_PATH, elsewhere);
    // Wine's process creation fails now and then under load (error 1359)
    // and works when asked again; a start that fails three times is a fault.
    BOOL started = FALSE;
    const HANDLE token = asStandardUser ? StandardUserToken(TokenPrimary) : nullptr;
    for (int attempt = 0; !started && attempt < 3; ++attempt) {
        // No token: our own.
        started = nul != INVALID_HANDLE_VALUE && inheritList.get() &&
                  CreateProcessAsUserW(token, exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                                       CREATE_SUSPENDED | EXTENDED_STARTUPINFO_PRESENT, nullptr,
                                       elsewhere, &startup.StartupInfo, &m_process);
        if (!started) fprintf(stderr, "CreateProcessAsUserW: error %lu\n", GetLastError());
    }
    if (nul != INVALID_HANDLE_VALUE) CloseHandle(nul);
    if (token) CloseHandle(token);
    if (!started) return false;
    if (m_job) AssignProcessToJobObject(m_job, m_process.hProcess);
    ResumeThread(m_process.hThread);
    return true;
}

void Process::Kill() {
    if (!m_process.hProcess) return;
    // Wine's job termination passes over a process that is still starting:
    // one the program was just creating suspended would then wait forever
    // for a resume that never comes, holding the test runner's output pipe
    // (every Wine process keeps our Unix standard error). So the job is
    // ended again until it is empty, which catches a latecomer once it runs.
    const auto emptied = [&] {
        TerminateJobObject(m_job, 1);
        JOBOBJECT_BASIC_ACCOUNTING_INFORMATION job = {};
        return QueryInformationJobObject(m_job, JobObjectBasicAccountingInformation, &job,
                                         sizeof job, nullptr) &&
               job.ActiveProcesses == 0;
    };
    if (m_job) WaitFor(emptied, kTimeout);
    TerminateProcess(m_process.hProcess, 1);
    WaitForSingleObject(m_process.hProcess, kTimeout);
    CloseHandle(m_process.hProcess);
    CloseHandle(m_process.hThread);
    m_process = {};
}

ScopedRegValue::ScopedRegValue(HKEY root, const char* path, const char* name, DWORD value)
    : m_root(root), m_path(path), m_name(name) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(m_root, m_path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    DWORD type = 0, size = sizeof m_previous;
    m_had = RegQueryValueExA(key, m_name, nullptr, &type, reinterpret_cast<BYTE*>(&m_previous),
                             &size) == ERROR_SUCCESS &&
            type == REG_DWORD;
    m_set = RegSetValueExA(key, m_name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                           sizeof value) == ERROR_SUCCESS;
    RegCloseKey(key);
}

ScopedRegValue::~ScopedRegValue() {
    HKEY key = nullptr;
    if (!m_set || RegOpenKeyExA(m_root, m_path, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) {
        return;
    }
    if (m_had) {
        RegSetValueExA(key, m_name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_previous),
                       sizeof m_previous);
    } else {
        RegDeleteValueA(key, m_name);
    }
    RegCloseKey(key);
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
