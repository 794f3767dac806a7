// Security descriptors for kernel objects: a DACL that grants each of a few
// well-known accounts its rights, and nothing to anyone else.
#pragma once

#include <windows.h>

#include <initializer_list>
#include <vector>

struct AccessGrant {
    WELL_KNOWN_SID_TYPE account;
    DWORD rights;
};

// Made once and then only read, so that any thread may hand it to the system.
// attributes() is null when the descriptor could not be made.
class KernelObjectSecurity {
public:
    explicit KernelObjectSecurity(std::initializer_list<AccessGrant> grants);
    KernelObjectSecurity(const KernelObjectSecurity&) = delete;
    KernelObjectSecurity& operator=(const KernelObjectSecurity&) = delete;

    PACL acl() { return m_made ? reinterpret_cast<PACL>(m_acl.data()) : nullptr; }
    SECURITY_ATTRIBUTES* attributes() { return m_made ? &m_attributes : nullptr; }

private:
    std::vector<BYTE> m_acl;
    SECURITY_DESCRIPTOR m_descriptor = {};
    SECURITY_ATTRIBUTES m_attributes = {};
    bool m_made = false;
};
