// The thread class on its own: the procedure and its parameter, the start
// flags, the exit code, and the object and handle gone when it returns.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>

#include "framework/Thread.h"
#include "tests/support/TestSupport.h"

using testing_support::CountOwnHandles;
using testing_support::WaitFor;

namespace {

std::atomic<int> g_deletedThreads{0};

class TrackedThread : public CWinThread {
public:
    using CWinThread::CWinThread;
    ~TrackedThread() override { ++g_deletedThreads; }
};

struct Gate {
    HANDLE started = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~Gate() {
        CloseHandle(started);
        CloseHandle(release);
    }
};

UINT GatedProc(LPVOID param) {
    Gate* gate = static_cast<Gate*>(param);
    SetEvent(gate->started);
    WaitForSingleObject(gate->release, INFINITE);
    return 7;
}

TEST(CWinThread_CreateThread, RunsTheProcedureThenDeletesItselfAndItsHandle) {
    for (DWORD flags : {0ul, static_cast<unsigned long>(CREATE_SUSPENDED)}) {
        SCOPED_TRACE(flags);
        Gate gate;
        ASSERT_TRUE(gate.started && gate.release);
        const int handlesBefore = CountOwnHandles();
        g_deletedThreads = 0;

        TrackedThread* thread = new TrackedThread(GatedProc, &gate);
        ASSERT_TRUE(thread->CreateThread(flags, 0, nullptr));
        HANDLE handle = nullptr;
        ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), thread->m_hThread, GetCurrentProcess(),
                                    &handle, 0, FALSE, DUPLICATE_SAME_ACCESS));
        if (flags & CREATE_SUSPENDED) {
            EXPECT_EQ(WaitForSingleObject(gate.started, 300), static_cast<DWORD>(WAIT_TIMEOUT));
            EXPECT_EQ(thread->ResumeThread(), 1u);
        }
        EXPECT_EQ(WaitForSingleObject(gate.started, 5000), WAIT_OBJECT_0);
        EXPECT_EQ(g_deletedThreads, 0);
        SetEvent(gate.release);

        ASSERT_EQ(WaitForSingleObject(handle, 5000), WAIT_OBJECT_0);
        DWORD exitCode = 0;
        EXPECT_TRUE(GetExitCodeThread(handle, &exitCode));
        EXPECT_EQ(exitCode, 7u);
        EXPECT_EQ(g_deletedThreads, 1);
        CloseHandle(handle);
        EXPECT_TRUE(WaitFor([&] { return CountOwnHandles() == handlesBefore; }, 2000))
            << CountOwnHandles() << " handles, " << handlesBefore << " before";
    }
}

}  // namespace
