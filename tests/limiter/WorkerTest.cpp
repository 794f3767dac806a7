// The limiter worker against the fake volume tool through the real
// interpreter: the thread class it runs on, its loop, and its start.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <new>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "framework/Thread.h"
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

double NowPreciseMs() {
    LARGE_INTEGER frequency, counter;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&counter);
    return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

std::set<DWORD> OwnThreadIds() {
    std::set<DWORD> ids;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return ids;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    }
    CloseHandle(snapshot);
    return ids;
}

// One command the fake tool received: when, and what followed -multimedia
// ("" for a query, "-v N" for a set).
struct ToolCommand {
    long long ms;
    std::string options;
    bool IsQuery() const { return options.empty(); }
};

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
    void Start() {
        ASSERT_EQ(m_worker, nullptr);
        const std::set<DWORD> before = OwnThreadIds();
        StartLimiter(nullptr);
        std::vector<DWORD> added;
        for (DWORD id : OwnThreadIds()) {
            if (!before.count(id)) added.push_back(id);
        }
        ASSERT_EQ(added.size(), 1u);
        // Still alive: it ends only once running is cleared.
        m_worker = OpenThread(SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, added[0]);
        ASSERT_NE(m_worker, nullptr);
    }

    // Clears running and waits for the thread; the time it took, in ms.
    double Stop() {
        const double start = NowPreciseMs();
        Store(State().running, 0);
        if (!m_worker) return 0;
        EXPECT_EQ(WaitForSingleObject(m_worker, kStopDeadline), WAIT_OBJECT_0);
        const double took = NowPreciseMs() - start;
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
        DeleteFileA((m_dir / "fake-log.txt").c_str());
        ASSERT_EQ(GetFileAttributesA((m_dir / "fake-log.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    }

    std::vector<ToolCommand> Log() const {
        std::vector<ToolCommand> commands;
        const std::string text = ReadFile(m_dir / "fake-log.txt");
        size_t pos = 0;
        while (pos < text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string::npos) end = text.size();
            const std::string line = text.substr(pos, end - pos);
            pos = end + 1;
            const size_t options = line.find("-multimedia");
            if (options == std::string::npos) continue;
            std::string rest = line.substr(options + 11);
            rest.erase(0, rest.find_first_not_of(" "));
            rest.erase(rest.find_last_not_of(" \r") + 1);
            commands.push_back({atoll(line.c_str()), rest});
        }
        return commands;
    }

    int CountQueries(long long sinceMs = 0) const {
        int count = 0;
        for (const ToolCommand& command : Log())
            count += command.IsQuery() && command.ms >= sinceMs;
        return count;
    }

    std::vector<ToolCommand> Sets() const {
        std::vector<ToolCommand> sets;
        for (const ToolCommand& command : Log()) {
            if (!command.IsQuery()) sets.push_back(command);
        }
        return sets;
    }

    TempDir m_dir{"worker & co"};
    HANDLE m_worker = nullptr;
};

TEST_F(LimiterWorker, WithLockOffRunsNothingAndStopsWithinASlice) {
    Store(State().lock, 0);
    ASSERT_NO_FATAL_FAILURE(Start());
    ASSERT_TRUE(StillRunningAfter(3000));
    EXPECT_EQ(GetFileAttributesA((m_dir / "fake-log.txt").c_str()), INVALID_FILE_ATTRIBUTES)
        << ReadFile(m_dir / "fake-log.txt");

    // Stopped at different points of its one-second wait.
    std::vector<double> latencies{Stop()};
    for (DWORD pause : {130u, 260u, 370u, 490u, 640u, 880u}) {
        ASSERT_NO_FATAL_FAILURE(Start());
        ASSERT_TRUE(StillRunningAfter(pause));
        latencies.push_back(Stop());
    }
    const double median = Median(latencies);
    const double longest = *std::max_element(latencies.begin(), latencies.end());
    RecordProperty("stop_median_ms", static_cast<int>(median));
    RecordProperty("stop_max_ms", static_cast<int>(longest));
    EXPECT_LE(median, 200) << "running must be looked at every 100 ms while waiting";
    EXPECT_LE(longest, 450);
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
            const long long setAt = Sets()[0].ms;
            // Two queries after the set: the first one's answer has been acted on.
            ASSERT_TRUE(WaitFor([&] { return CountQueries(setAt) >= 2; }, 10000));
            const std::vector<ToolCommand> sets = Sets();
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
    // The time of one query on its own, for comparison.
    SetVolume("0.40");
    std::vector<double> queries;
    for (int i = 0; i < 3; ++i) {
        const double start = NowPreciseMs();
        EXPECT_EQ(GetMasterVolume(), 40);
        queries.push_back(NowPreciseMs() - start);
    }
    const double query = Median(queries);

    ClearLog();
    Store(State().limit, 50);
    Store(State().lock, 1);
    ASSERT_NO_FATAL_FAILURE(Start());
    const int kQueries = 7;
    ASSERT_TRUE(WaitFor([&] { return CountQueries() >= kQueries; },
                        static_cast<DWORD>(kQueries * (query + 1000) + 10000)));
    const std::vector<ToolCommand> log = Log();
    ASSERT_TRUE(Sets().empty());
    std::vector<double> gaps;
    for (size_t i = 1; i < log.size(); ++i) {
        gaps.push_back(static_cast<double>(log[i].ms - log[i - 1].ms));
        EXPECT_GE(gaps.back(), 990) << "gap " << i;
        EXPECT_LE(gaps.back(), 1000 + 3 * query + 1500) << "gap " << i;
    }
    const double period = Median(gaps);
    RecordProperty("query_ms", static_cast<int>(query));
    RecordProperty("cycle_median_ms", static_cast<int>(period));
    EXPECT_GE(period, 1000 + query / 2);
    EXPECT_LE(period, 1000 + 2 * query + 300);
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
    EXPECT_LE(CountQueries(lowered) - CountQueries(Sets()[0].ms), 1);
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
    EXPECT_TRUE(WaitFor([&] { return CountQueries(relocked) >= 1; }, 3000));
}

// Refuses to start the thread, as the system may.
int g_refusedStarts = 0;
BOOL RefuseStart(CLimiterThread*) {
    ++g_refusedStarts;
    return FALSE;
}

// What a message box showed, read from its window while it is up.
struct SeenBox {
    std::string text;
    HWND owner = nullptr;
    int visibleButtons = 0;
    bool hasOk = false;
};

BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param) {
    SeenBox& seen = *reinterpret_cast<SeenBox*>(param);
    char className[32] = "";
    GetClassNameA(child, className, sizeof className);
    if (!IsWindowVisible(child)) return TRUE;
    if (lstrcmpiA(className, "Button") == 0) {
        ++seen.visibleButtons;
        seen.hasOk = seen.hasOk || GetDlgCtrlID(child) == IDOK;
    } else if (lstrcmpiA(className, "Static") == 0) {
        char text[256] = "";
        GetWindowTextA(child, text, sizeof text);
        if (text[0]) seen.text = text;
    }
    return TRUE;
}

BOOL CALLBACK FindBox(HWND window, LPARAM param) {
    char className[32] = "";
    GetClassNameA(window, className, sizeof className);
    if (lstrcmpA(className, "#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(param) = window;
    return FALSE;
}

// Reads and closes the first message box that thread shows within 10 s.
SeenBox ReadAndCloseBox(DWORD thread) {
    SeenBox seen;
    HWND box = nullptr;
    if (!WaitFor(
            [&] {
                EnumThreadWindows(thread, FindBox, reinterpret_cast<LPARAM>(&box));
                return box != nullptr;
            },
            10000)) {
        return seen;
    }
    EnumChildWindows(box, ReadBoxChild, reinterpret_cast<LPARAM>(&seen));
    seen.owner = GetWindow(box, GW_OWNER);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
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
        SeenBox seen;
        std::thread watcher([&, self = GetCurrentThreadId()] { seen = ReadAndCloseBox(self); });
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
        EXPECT_EQ(seen.visibleButtons, 1);
        EXPECT_TRUE(seen.hasOk);
        EXPECT_EQ(seen.owner, owner);
    }
}

// The thread class on its own: the procedure and its parameter, the start
// flags, the exit code, and the object and handle gone when it returns.
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
