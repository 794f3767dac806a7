// The worker-thread class: starting the thread and deleting the object with it.
#include "framework/Thread.h"

#include <process.h>

CWinThread::CWinThread(AFX_THREADPROC proc, LPVOID param)
    : m_pfnThreadProc(proc), m_pThreadParams(param) {}

CWinThread::~CWinThread() {
    if (m_hThread) CloseHandle(m_hThread);
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize, LPSECURITY_ATTRIBUTES security) {
    // Always created suspended: a procedure that returns at once would delete
    // the object before the handle and id were stored in it.
    const uintptr_t handle = _beginthreadex(security, stackSize, &CWinThread::Run, this,
                                            flags | CREATE_SUSPENDED, &m_nThreadID);
    if (!handle) {
        m_nThreadID = 0;
        return FALSE;
    }
    m_hThread = reinterpret_cast<HANDLE>(handle);
    if (flags & CREATE_SUSPENDED) return TRUE;
    if (::ResumeThread(m_hThread) != static_cast<DWORD>(-1)) return TRUE;

    // The thread never ran any of our code; end it so that it cannot start
    // later on an object its caller is about to delete.
    TerminateThread(m_hThread, 0);
    WaitForSingleObject(m_hThread, INFINITE);
    CloseHandle(m_hThread);
    m_hThread = nullptr;
    m_nThreadID = 0;
    return FALSE;
}

DWORD CWinThread::ResumeThread() { return ::ResumeThread(m_hThread); }

unsigned __stdcall CWinThread::Run(void* self) {
    CWinThread* const thread = static_cast<CWinThread*>(self);
    const UINT exitCode = thread->m_pfnThreadProc(thread->m_pThreadParams);
    if (thread->m_bAutoDelete) delete thread;
    return exitCode;
}
