// The guard against the program's own account (see ProcessGuard.h).
#include "limiter/ProcessGuard.h"

#include <aclapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <vector>

#include "framework/Handles.h"
#include "framework/Security.h"
#include "framework/RecordSize.h"

namespace {

static_assert(sizeof(THREADENTRY32) == RecordSize(28, 28), "THREADENTRY32");
static_assert(sizeof(TOKEN_DEFAULT_DACL) == RecordSize(4, 8), "TOKEN_DEFAULT_DACL");

// Task Manager, Resource Monitor and the notification area list a process
// with these; nothing in them ends, suspends or changes it.
constexpr DWORD kListProcess = PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | READ_CONTROL;
constexpr DWORD kListThread = THREAD_QUERY_LIMITED_INFORMATION | SYNCHRONIZE | READ_CONTROL;
// The token's default descriptor serves every kind of object made later, so
// it names only rights whose bits mean no harm in any of them. Services get
// what they had: the audio service may need the tool's own objects.
constexpr DWORD kListAnything = 0x1000 /* process: query limited */ | SYNCHRONIZE | READ_CONTROL;

struct Guard {
    KernelObjectSecurity process{{WinLocalSystemSid, PROCESS_ALL_ACCESS},
                                 {WinBuiltinAdministratorsSid, PROCESS_ALL_ACCESS},
                                 {WinWorldSid, kListProcess},
                                 {WinCreatorOwnerRightsSid, kListProcess}};
    KernelObjectSecurity thread{{WinLocalSystemSid, THREAD_ALL_ACCESS},
                                {WinBuiltinAdministratorsSid, THREAD_ALL_ACCESS},
                                {WinWorldSid, kListThread},
                                {WinCreatorOwnerRightsSid, kListThread}};
    KernelObjectSecurity created{{WinLocalSystemSid, GENERIC_ALL},
                                 {WinBuiltinAdministratorsSid, GENERIC_ALL},
                                 {WinServiceSid, GENERIC_ALL},
                                 {WinWorldSid, kListAnything},
                                 {WinCreatorOwnerRightsSid, kListAnything}};
    std::atomic<bool> on{false};
    // What the process and the token granted before: the way back.
    std::vector<BYTE> processBefore, defaultBefore;
    // Threads guarded, opened while they still let us in; kept open to undo it.
    std::vector<UniqueHandle> threads;
};
// Made as the process starts, before any thread may ask for the attributes.
Guard* const g_guard = new Guard;

// Copies dacl into saved; false when there is none.
bool Keep(const ACL* dacl, std::vector<BYTE>& saved) {
    if (!dacl) return false;
    const BYTE* const bytes = reinterpret_cast<const BYTE*>(dacl);
    saved.assign(bytes, bytes + dacl->AclSize);
    return true;
}

// Read the process's DACL, or the token's default one, into saved; false
// when there is none to read.
bool SaveProcessDacl(std::vector<BYTE>& saved) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetSecurityInfo(GetCurrentProcess(), SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                        nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    const bool kept = Keep(dacl, saved);
    LocalFree(descriptor);
    return kept;
}

bool SaveDefaultDacl(HANDLE token, std::vector<BYTE>& saved) {
    DWORD size = 0;
    GetTokenInformation(token, TokenDefaultDacl, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size == 0 || !GetTokenInformation(token, TokenDefaultDacl, buffer.data(), size, &size)) {
        return false;
    }
    const PACL dacl = reinterpret_cast<TOKEN_DEFAULT_DACL*>(buffer.data())->DefaultDacl;
    return Keep(dacl, saved);
}

PACL AclIn(std::vector<BYTE>& buffer) {
    return buffer.empty() ? nullptr : reinterpret_cast<PACL>(buffer.data());
}

bool SetDacl(HANDLE object, PACL dacl) {
    return SetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                           dacl, nullptr) == ERROR_SUCCESS;
}

// Each thread of ours not guarded yet: a thread begins with the descriptor
// its creator's token gives, and the system makes threads in our process on
// its own.
void GuardThreads(Guard& guard) {
    std::vector<DWORD> held;
    for (const UniqueHandle& thread : guard.threads) held.push_back(GetThreadId(thread.get()));
    const DWORD self = GetCurrentProcessId();
    const UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID != self) continue;
        bool known = false;
        for (const DWORD id : held) known = known || id == entry.th32ThreadID;
        if (known) continue;
        UniqueHandle thread(OpenThread(WRITE_DAC, FALSE, entry.th32ThreadID));
        if (thread && SetDacl(thread.get(), guard.thread.acl()))
            guard.threads.push_back(std::move(thread));
    }
}

}  // namespace

bool SetProcessGuard(bool on) {
    Guard& guard = *g_guard;
    UniqueHandle token;
    OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_ADJUST_DEFAULT, token.put());
    if (on && !guard.on) {
        // Without the way back, the guard is not put on: an empty DACL would
        // later let everyone in, other accounts included.
        if (!guard.process.acl() || !guard.thread.acl() || !guard.created.acl() || !token ||
            !SaveProcessDacl(guard.processBefore) ||
            !SaveDefaultDacl(token.get(), guard.defaultBefore)) {
            return false;
        }
        // The token first, so that nothing is made between under the old
        // descriptor.
        TOKEN_DEFAULT_DACL created = {guard.created.acl()};
        SetTokenInformation(token.get(), TokenDefaultDacl, &created, sizeof created);
        if (!SetDacl(GetCurrentProcess(), guard.process.acl())) {
            TOKEN_DEFAULT_DACL before = {AclIn(guard.defaultBefore)};
            SetTokenInformation(token.get(), TokenDefaultDacl, &before, sizeof before);
            return false;
        }
        guard.on = true;
    } else if (!on && guard.on) {
        guard.on = false;
        TOKEN_DEFAULT_DACL before = {AclIn(guard.defaultBefore)};
        SetTokenInformation(token.get(), TokenDefaultDacl, &before, sizeof before);
        SetDacl(GetCurrentProcess(), AclIn(guard.processBefore));
        for (const UniqueHandle& thread : guard.threads)
            SetDacl(thread.get(), AclIn(guard.defaultBefore));
        guard.threads.clear();
        return true;
    }
    if (guard.on) GuardThreads(guard);
    return true;
}

bool ProcessGuarded() { return g_guard->on; }

SECURITY_ATTRIBUTES* GuardedProcessAttributes() {
    return g_guard->on ? g_guard->process.attributes() : nullptr;
}

SECURITY_ATTRIBUTES* GuardedThreadAttributes() {
    return g_guard->on ? g_guard->thread.attributes() : nullptr;
}
