// Security descriptors (see Security.h).
#include "framework/Security.h"

KernelObjectSecurity::KernelObjectSecurity(std::initializer_list<AccessGrant> grants) {
    DWORD size = sizeof(ACL);
    for (size_t i = 0; i < grants.size(); ++i)
        size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + SECURITY_MAX_SID_SIZE;
    m_acl.resize(size);
    const PACL acl = reinterpret_cast<PACL>(m_acl.data());
    if (!InitializeAcl(acl, size, ACL_REVISION)) return;
    for (const AccessGrant& grant : grants) {
        BYTE sid[SECURITY_MAX_SID_SIZE];
        DWORD sidSize = sizeof sid;
        if (!CreateWellKnownSid(grant.account, nullptr, sid, &sidSize) ||
            !AddAccessAllowedAce(acl, ACL_REVISION, grant.rights, sid)) {
            return;
        }
    }
    if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) ||
        !SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE)) {
        return;
    }
    m_attributes = {sizeof m_attributes, &m_descriptor, FALSE};
    m_made = true;
}
