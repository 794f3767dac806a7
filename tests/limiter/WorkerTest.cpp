// The limiter worker against the fake volume tool through the real
// interpreter, and once against the real tool: its loop, and its start.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "framework/App.h"
#include "limiter/LimiterThread.h"
#include "limiter/VolumeTool.h"
#include "settings/LimiterState.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

// Allocation accounting for the failing starts: every new and delete made on
// the watched thread is counted, and a chosen nothrow allocation fails.
namespace {
std::atomic<DWORD> g_watchedThread{0};
long g_liveAllocations = 0;
int g_nothrowBeforeFailure = -1;  // nothrow allocations let through; -1: none fails

bool Watched() { return g_watchedThread.load() == GetCurrentThreadId(); }

void* Allocate(std::size_t size) {
    void* memory = std::malloc(size ? size : 1);
    if (memory && Watched()) ++g_liveAllocations;
    return memory;
}

void Release(void* memory) {
    if (memory && Watched()) --g_liveAllocations;
    std::free(memory);
}
}  // namespace

void* operator new(std::size_t size) {
    if (void* memory = Allocate(size)) return memory;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (Watched() && g_nothrowBeforeFailure >= 0 && g_nothrowBeforeFailure-- == 0) return nullptr;
    return Allocate(size);
}
void operator delete(void* memory) noexcept { Release(memory); }
void operator delete(void* memory, std::size_t) noexcept { Release(memory); }
void operator delete(void* memory, const std::nothrow_t&) noexcept { Release(memory); }

namespace {

// Waits for a stop: a query or set in progress at a stop is finished first,
// and the runner gives up on a command after 10 s.
const DWORD kStopDeadline = 15000;

class LimiterWorker : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(m_dir.path().empty());
        ASSERT_TRUE(CopyBuildProgram("fakevol.exe", m_dir / "bin.exe"));
        State().toolPath = (m_dir / "bin.exe").c_str();
    }

    // Stops the worker even when the test failed, so that none outlives its
    // folder or the tool path.
    void TearDown() override {
        Stop();
        Store(State().lock, 0);
        Store(State().limit, 0);
        State().toolPath = CString();
    }

    // Starts the worker the way the main window does, and keeps a handle to
    // its thread: the one thread of this process that StartLimiter added.
    void Start(HWND mainWindow = nullptr) {
        ASSERT_EQ(m_worker, nullptr);
        const std::vector<DWORD> before = OwnThreads();
        StartLimiter(mainWindow);
        std::vector<DWORD> added;
        for (DWORD id : OwnThreads()) {
            if (std::find(before.begin(), before.end(), id) == before.end()) added.push_back(id);
        }
        ASSERT_EQ(added.size(), 1u);
        // Still alive: it ends only once running is cleared.
        m_worker = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, added[0]);
        ASSERT_NE(m_worker, nullptr);
    }

    // Clears running and waits for the thread; the time it took, in ms.
    double Stop() {
        const double start = PreciseMs();
        Store(State().running, 0);
        if (!m_worker) return 0;
        EXPECT_EQ(WaitForSingleObject(m_worker, kStopDeadline), WAIT_OBJECT_0);
        const double took = PreciseMs() - start;
        DWORD exitCode = STILL_ACTIVE;
        EXPECT_TRUE(GetExitCodeThread(m_worker, &exitCode));
        EXPECT_EQ(exitCode, 0u);
        CloseHandle(m_worker);
        m_worker = nullptr;
        return took;
    }

    // True when the worker is still running after ms milliseconds.
    bool StillRunningAfter(DWORD ms) { return WaitForSingleObject(m_worker, ms) == WAIT_TIMEOUT; }

    void SetVolume(const char* text) { ASSERT_TRUE(WriteFile(m_dir / "fake-volume.txt", text)); }
    std::string Volume() const { return ReadFile(m_dir / "fake-volume.txt"); }

    void ClearLog() {
        DeleteFileW((m_dir / L"fake-log.txt").c_str());
        ASSERT_TRUE(Log().empty());
    }

    std::vector<ToolCall> Log() const { return ReadToolLog(m_dir.wpath()); }
    size_t CountQueries(long long afterMs = 0) const { return CountCalls(Log(), false, afterMs); }
    std::vector<ToolCall> Sets() const {
        std::vector<ToolCall> sets = Log();
        sets.erase(
            std::remove_if(sets.begin(), sets.end(), [](const ToolCall& c) { return !c.IsSet(); }),
            sets.end());
        return sets;
    }

    TempDir m_dir{"worker & co"};
    HANDLE m_worker = nullptr;
};

TEST_F(LimiterWorker, WithLockOffRunsNothingAndStopsWithinASlice) {
    Store(State().lock, 0);
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(StillRunningAfter(3000));
    EXPECT_TRUE(Log().empty()) << ReadFile(m_dir / "fake-log.txt");

    // Stopped at different points of its one-second wait.
    std::vector<double> latencies{Stop()};
    for (DWORD pause : {130u, 260u, 370u, 490u, 640u, 880u}) {
        ASSERT_NO_FATAL_FAILURE(Start());
        ASSERT_TRUE(StillRunningAfter(pause));
        latencies.push_back(Stop());
    }
    // Exact figures are scripts/bench's; a worker that looks at running only
    // after its whole one-second wait has a median near half a second.
    const double median = Median(latencies);
    RecordProperty("stop_median_ms", static_cast<int>(median));
    RecordProperty("stop_max_ms",
                   static_cast<int>(*std::max_element(latencies.begin(), latencies.end())));
    EXPECT_LE(median, 300) << "running must be looked at every 100 ms while waiting";
}

TEST_F(LimiterWorker, SetsTheLimitOnlyWhenAReadableVolumeIsAboveIt) {
    struct Case {
        const char* volume;
        const char* mode;  // fake-mode.txt, or "" for the normal answer
        int limit;
        const char* expectedSet;  // options of the one set command, or nullptr
        const char* finalVolume;
    };
    const Case cases[] = {
        {"0.70", "", 50, "-v 50", "0.50"},
        {"0.51", "", 50, "-v 50", "0.50"},
        {"0.50", "", 50, nullptr, "0.50"},
        {"0.70", "", -5, "-v -5", "-0.05"},
        {"0.00", "", -5, "-v -5", "-0.05"},
        // No answer: the volume is unknown, not zero, so nothing is set even
        // below a negative limit.
        {"0.70", "silent", -5, nullptr, "0.70"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.volume) + " " + c.mode + " limit " + std::to_string(c.limit));
        ClearLog();
        SetVolume(c.volume);
        ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", c.mode));
        Store(State().limit, c.limit);
        Store(State().lock, 1);
        ASSERT_NO_FATAL_FAILURE(Start());
        if (c.expectedSet) {
            ASSERT_TRUE(WaitFor([&] { return !Sets().empty(); }, 10000));
            const long long setAt = Sets()[0].whenMs;
            // Two queries after the set: the first one's answer has been acted on.
            ASSERT_TRUE(WaitFor([&] { return CountQueries(setAt) >= 2; }, 10000));
            const std::vector<ToolCall> sets = Sets();
            ASSERT_EQ(sets.size(), 1u);
            EXPECT_EQ(sets[0].options, c.expectedSet);
        } else {
            ASSERT_TRUE(WaitFor([&] { return CountQueries() >= 2; }, 10000));
            EXPECT_TRUE(Sets().empty()) << Sets()[0].options;
        }
        Stop();
        EXPECT_EQ(Volume(), c.finalVolume);
    }
}

TEST_F(LimiterWorker, CycleIsOneQueryAndOneSecond) {
    SetVolume("0.40");
    EXPECT_EQ(GetMasterVolume(), 40);
    ClearLog();
    Store(State().limit, 50);
    Store(State().lock, 1);
    ASSERT_NO_FATAL_FAILURE(Start());
    // Exact figures are scripts/bench's. A cycle is at least the wait and
    // the runner's half-second pause; one without its wait is about a query.
    ASSERT_TRUE(WaitFor([&] { return CountQueries() >= 7; }, 60000));
    const std::vector<ToolCall> log = Log();
    ASSERT_TRUE(Sets().empty());
    std::vector<double> gaps;
    for (size_t i = 1; i < log.size(); ++i) {
        gaps.push_back(static_cast<double>(log[i].whenMs - log[i - 1].whenMs));
        EXPECT_GE(gaps.back(), 1400) << "gap " << i;
    }
    RecordProperty("cycle_median_ms", static_cast<int>(Median(gaps)));
}

TEST_F(LimiterWorker, LimitAndLockChangesTakeEffectAtTheNextCycle) {
    SetVolume("0.70");
    ClearLog();
    Store(State().limit, 80);
    Store(State().lock, 1);
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(WaitFor([&] { return CountQueries() >= 1; }, 10000));

    // A query already under way may still see the old limit, or already the
    // new one; the first query started after the change sees the new one.
    const long long lowered = NowMs();
    Store(State().limit, 50);
    ASSERT_TRUE(WaitFor([&] { return !Sets().empty(); }, 10000));
    EXPECT_LE(CountQueries(lowered) - CountQueries(Sets()[0].whenMs), 1);
    EXPECT_EQ(Sets()[0].options, "-v 50");
    EXPECT_TRUE(WaitFor([&] { return Volume() == "0.50"; }, 5000));

    // At most the query under way finishes; then no more commands.
    const long long unlocked = NowMs();
    Store(State().lock, 0);
    ASSERT_TRUE(StillRunningAfter(3000));
    EXPECT_LE(CountQueries(unlocked), 1);

    // Back on: queries resume within one wait.
    const long long relocked = NowMs();
    Store(State().lock, 1);
    EXPECT_TRUE(WaitFor([&] { return CountQueries(relocked) >= 1; }, 5000));
}

TEST_F(LimiterWorker, SaysOnceWhenTheVolumeCannotBeReadAndWhenItCanAgain) {
    // A window of this thread: what the worker posts waits in its queue.
    HWND window =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    MSG msg;
    const auto posted = [&] {
        return PeekMessageA(&msg, window, WM_VOLUMEUNREADABLE, WM_VOLUMEUNREADABLE, PM_REMOVE);
    };
    auto report = [&](DWORD timeoutMs) {  // the next one's wParam, or -1
        return WaitFor(posted, timeoutMs) ? static_cast<int>(msg.wParam) : -1;
    };
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", "error"));
    Store(State().lock, 1);
    ASSERT_NO_FATAL_FAILURE(Start(window));
    // At the third failure, and not again at the fourth.
    ASSERT_EQ(report(15000), 1);
    EXPECT_EQ(CountQueries(), 3u);
    ASSERT_TRUE(WaitFor([&] { return CountQueries() >= 4; }, 10000));
    // Readable again: said at once; then three new failures are said again.
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", ""));
    EXPECT_EQ(report(10000), 0);
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", "error"));
    const long long failingAgain = NowMs();
    EXPECT_EQ(report(15000), 1);
    EXPECT_GE(CountQueries(failingAgain), 3u);
    // With the lock off nothing is held: the report is taken back.
    Store(State().lock, 0);
    EXPECT_EQ(report(5000), 0);
    // Sets that do not take, three cycles in a row, are said as such; the
    // first that takes ends it. A volume raised by hand again and again,
    // and brought down each time, is no failure.
    Store(State().limit, 50);
    SetVolume("0.70");
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", "stuck"));
    Store(State().lock, 1);
    EXPECT_EQ(report(15000), kVolumeNotLowered);
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", ""));
    EXPECT_EQ(report(10000), kCeilingHeld);
    // So is an answer for which the tool says an output was missed (exit 3).
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", "partly"));
    EXPECT_EQ(report(15000), kOutputNotHeld);
    ASSERT_TRUE(WriteFile(m_dir / "fake-mode.txt", ""));
    EXPECT_EQ(report(10000), kCeilingHeld);
    for (int raised = 0; raised < 4; ++raised) {
        SetVolume("0.90");
        ASSERT_TRUE(WaitFor([&] { return Volume() == "0.50"; }, 10000));
    }
    EXPECT_EQ(report(0), -1);
    Stop();
    DestroyWindow(window);
}

TEST_F(LimiterWorker, WithTheRealToolHoldsASecondOutputAndSaysWhenNoOutputIsLeft) {
    // The default output below the ceiling, a headset above it.
    ASSERT_TRUE(InstallRealTool(m_dir.wpath(), "0.20"));
    ASSERT_TRUE(WriteFile(m_dir / "devices.txt", "active active"));
    ASSERT_TRUE(SetDeviceLevel(m_dir.wpath(), "1", 2));
    HWND window =
        CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    Store(State().limit, 50);
    Store(State().lock, 1);
    ASSERT_NO_FATAL_FAILURE(Start(window));
    EXPECT_TRUE(WaitFor([&] { return DeviceLevel(m_dir.wpath(), 2) == 0.50f; }, 10000));
    EXPECT_FLOAT_EQ(DeviceLevel(m_dir.wpath()), 0.20f) << "the default must not be raised";
    // Both unplugged: the volume is unreadable, and the window is told.
    ASSERT_TRUE(WriteFile(m_dir / "devices.txt", "unplugged unplugged"));
    MSG msg;
    EXPECT_TRUE(WaitFor(
        [&] {
            return PeekMessageA(&msg, window, WM_VOLUMEUNREADABLE, WM_VOLUMEUNREADABLE,
                                PM_REMOVE) &&
                   msg.wParam == kVolumeUnreadable;
        },
        15000));
    Stop();
    DestroyWindow(window);
}

TEST(LimiterWorker_JudgeCycle, HoldsWhenTheSetsAnswerIsAtOrBelowItAndNoOutputIsMissed) {
    EXPECT_EQ(JudgeCycle(true, 70, 50, 50, false), kCeilingHeld);
    EXPECT_EQ(JudgeCycle(true, 70, 50, 51, false), kVolumeNotLowered);
    EXPECT_EQ(JudgeCycle(true, 70, -5, 0, false), kCeilingHeld);  // as low as the tool goes
    // An output the tool could not read or lower; what the others show first.
    EXPECT_EQ(JudgeCycle(true, 40, 50, -1, true), kOutputNotHeld);
    EXPECT_EQ(JudgeCycle(true, 70, 50, 50, true), kOutputNotHeld);
    EXPECT_EQ(JudgeCycle(true, 70, 50, 51, true), kVolumeNotLowered);
    EXPECT_EQ(JudgeCycle(true, -1, 50, -1, true), kVolumeUnreadable);
}

// Refuses to start the thread, as the system may.
int g_refusedStarts = 0;
BOOL RefuseStart(CLimiterThread*) {
    ++g_refusedStarts;
    return FALSE;
}

// Reads and closes the first message box this process shows, with its owner.
BoxContent ReadAndCloseBox(HWND& owner) {
    HWND box = WaitWindow(GetCurrentProcessId(), "#32770", nullptr, 10000);
    if (!box) return {};
    owner = GetWindow(box, GW_OWNER);
    const BoxContent seen = ReadMessageBox(box);
    Click(box, IDOK);
    return seen;
}

TEST(StartLimiter_Failure, ReportsCannotStartAndFreesWhatItMade) {
    struct Case {
        const char* what;
        int nothrowBeforeFailure;
        bool withOwner;
        int startsTried;
    };
    const Case cases[] = {
        {"no memory for the start block", 0, false, 0},
        {"no memory for the thread object", 1, false, 0},
        {"thread refused", -1, false, 1},
        {"thread refused, owned by a window", -1, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        HWND owner = nullptr;
        if (c.withOwner) {
            owner = CreateWindowA("STATIC", "owner", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
            ASSERT_NE(owner, nullptr);
        }
        BoxContent seen;
        HWND seenOwner = nullptr;
        std::thread watcher([&] { seen = ReadAndCloseBox(seenOwner); });
        Store(State().running, 0);  // the record itself is made on first use
        g_refusedStarts = 0;
        g_liveAllocations = 0;
        g_nothrowBeforeFailure = c.nothrowBeforeFailure;
        g_watchedThread = GetCurrentThreadId();
        StartLimiter(owner, RefuseStart);
        g_watchedThread = 0;
        g_nothrowBeforeFailure = -1;
        watcher.join();
        Store(State().running, 0);
        if (owner) DestroyWindow(owner);

        EXPECT_EQ(g_liveAllocations, 0) << "what was allocated must be freed";
        EXPECT_EQ(g_refusedStarts, c.startsTried);
        EXPECT_EQ(seen.text, "Cannot Start New Thread");
        // A box of the program's own, like its others: no system "Error".
        EXPECT_EQ(seen.caption, AfxGetAppName().c_str());
        EXPECT_EQ(seen.buttons, std::vector<int>{IDOK});
        EXPECT_EQ(seenOwner, owner);
    }
}

}  // namespace
