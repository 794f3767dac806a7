// CWinThread: a worker thread that runs one procedure and, by default,
// deletes its own object when the procedure returns.
#pragma once

#include <windows.h>

typedef UINT (*AFX_THREADPROC)(LPVOID);

class CWinThread {
public:
    CWinThread(AFX_THREADPROC proc, LPVOID param);
    virtual ~CWinThread();
    CWinThread(const CWinThread&) = delete;
    CWinThread& operator=(const CWinThread&) = delete;

    // Starts the thread; flags may hold CREATE_SUSPENDED, stackSize 0 means
    // the executable's default. FALSE when the thread could not be created,
    // and the object then stays with the caller. After a start without
    // CREATE_SUSPENDED and with m_bAutoDelete set, the object may already be
    // gone when this returns: the caller must not touch it again.
    BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0,
                      LPSECURITY_ATTRIBUTES security = nullptr);

    // The previous suspend count, or (DWORD)-1 on failure.
    DWORD ResumeThread();

    HANDLE m_hThread = nullptr;  // closed when the object is deleted
    UINT m_nThreadID = 0;
    BOOL m_bAutoDelete = TRUE;  // delete the object when the procedure returns

private:
    static unsigned __stdcall Run(void* self);

    AFX_THREADPROC m_pfnThreadProc;
    LPVOID m_pThreadParams;
};
