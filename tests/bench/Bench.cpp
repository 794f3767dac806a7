// Measures the program under this machine's Windows (Wine here) with the fake
// volume tool, and queries and the reaction through the real one with the
// stand-in device, and prints the figures as rows of a Markdown table. Run by
// scripts/bench; not a test: it checks nothing and takes minutes.
//
//   morvane_bench [--cycles N] [--cpu-seconds N]
//   morvane_bench --real-tool-only
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "limiter/CommandRunner.h"
#include "limiter/VolumeTool.h"
#include "tests/support/TestSupport.h"

using namespace testing_support;

namespace {

const int kQueries = 20;  // command runs of each kind
const int kTrials = 10;   // reaction-time trials
const int kStarts = 5;    // program starts to the prompt

void Row(const std::string& what, const char* format, ...) {
    char value[128];
    va_list args;
    va_start(args, format);
    vsnprintf(value, sizeof value, format, args);
    va_end(args);
    printf("| %s | %s |\n", what.c_str(), value);
    fflush(stdout);
}

void RowSpread(const std::string& what, std::vector<double> values, const char* more = "") {
    if (values.empty()) return Row(what, "no values");
    std::sort(values.begin(), values.end());
    Row(what, "median %.0f ms (%.0f-%.0f ms, n=%u)%s", Median(values), values.front(),
        values.back(), static_cast<unsigned>(values.size()), more);
}

// The round trip without the runner's pauses: the interpreter runs the tool,
// and the pipe is read until it breaks, blocking in each read.
bool BareRoundTrip(const CString& command) {
    FILE* pipe = _popen((CString("\"") + command + "\"").c_str(), "rb");
    std::string output;
    char chunk[4096];
    for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    return pipe && _pclose(pipe) == 0 && output.find("master volume: 0.62.") != std::string::npos;
}

void MeasureQueries() {
    Morvane app("morvane bench");
    if (!app.InstallTool() || !app.SetToolVolume("0.62")) {
        return Row("Volume query", "could not install the fake tool");
    }
    const CString command = BuildQueryCommand(app.Path("bin.exe").c_str());
    std::vector<double> runner, bare;
    int wrong = 0;
    // Interleaved, so that a slow spell of the machine hits both alike.
    for (int i = 0; i < kQueries; ++i) {
        double start = PreciseMs();
        wrong += RunCommand(command).Find("master volume: 0.62.") < 0;
        runner.push_back(PreciseMs() - start);
        start = PreciseMs();
        wrong += !BareRoundTrip(command);
        bare.push_back(PreciseMs() - start);
    }
    RowSpread("Volume query through RunCommand", runner);
    RowSpread("Bare round trip (Cmd.exe /C, blocking ReadFile)", bare);
    Row("Ratio RunCommand / bare", "%.1f x",
        Median(bare) > 0 ? Median(runner) / Median(bare) : 0.0);
    if (wrong) Row("Wrong answers among the queries", "%d", wrong);
}

void MeasureStarts() {
    std::vector<double> times;
    for (int i = 0; i < kStarts; ++i) {
        Morvane app("morvane bench start");
        const bool prepared = app.Prepare("");
        const double start = PreciseMs();
        if (!prepared || !app.StartToPrompt(kSetPrompt)) {
            return Row("Start to password prompt", "the prompt did not appear");
        }
        // The destructor ends the process: a cancelled prompt would only add
        // the program's exit wait.
        times.push_back(PreciseMs() - start);
    }
    char first[32];
    snprintf(first, sizeof first, ", first %.0f ms", times.front());
    RowSpread("Start of Morvane.exe to password prompt visible", times, first);
}

// Processor time of the program run from folder, in ms, or -1. Under Wine a
// Windows process is a host process, and Wine's account of another process's
// processor time is incomplete (it showed nothing for a minute in which the
// host counted 200 ms): the host's own account (/proc, seen through drive
// Z:) is the one used. The host process is the one whose command line names
// the folder (unique to the run) and the program.
double HostCpuMs(std::string folder) {
    folder.pop_back();  // the trailing '\'
    folder = folder.substr(folder.find_last_of('\\') + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    double ms = -1;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && ms < 0;
         more = FindNextFileA(search, &found)) {
        const std::string proc = std::string("Z:\\proc\\") + found.cFileName;
        const std::string commandLine = ReadFile(proc + "\\cmdline");
        if (commandLine.find(folder) == std::string::npos ||
            commandLine.find("Morvane.exe") == std::string::npos) {
            continue;
        }
        // After the parenthesised name, utime and stime are the 12th and
        // 13th fields, in clock ticks of 10 ms.
        const std::string stat = ReadFile(proc + "\\stat");
        std::istringstream fields(stat.substr(stat.rfind(')') + 1));
        std::string skipped;
        double user = 0, system = 0;
        for (int i = 1; i < 12; ++i) fields >> skipped;
        if (fields >> user >> system) ms = (user + system) * 10.0;
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return ms;
}

// Processor time per minute of wall time over a window of seconds.
void RowCpu(const std::string& what, const Morvane& app, int seconds) {
    const double before = HostCpuMs(app.dir().path()), start = PreciseMs();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double after = HostCpuMs(app.dir().path()), wall = PreciseMs() - start;
    if (before < 0 || after < 0) return Row(what, "unavailable");
    Row(what, "%.0f ms per minute (%d s window, host account)", (after - before) * 60000.0 / wall,
        seconds);
}

size_t Queries(const Morvane& app) { return CountCalls(app.ToolCalls(), false); }

// The handle count over one whole cycle, smallest and largest: where in its
// cycle the worker is changes the count by the few handles of a command.
void RowHandles(const std::string& what, const Morvane& app) {
    const size_t from = Queries(app);
    int low = 1 << 30, high = -1;
    WaitFor(
        [&] {
            const int count = CountProcessHandles(app.pid());
            if (count >= 0) low = std::min(low, count), high = std::max(high, count);
            return Queries(app) >= from + 1;
        },
        kTimeout);
    if (high < 0) return Row(what, "unavailable");
    Row(what, "%d-%d", low, high);
}

void MeasureRunningProgram(int cycles, int cpuSeconds) {
    Morvane app("morvane bench run");
    if (!app.Prepare("[user]\r\nvol=50\r\nisLock=0\r\n", "0.30")) {
        return Row("Running program", "could not prepare its folder");
    }
    HWND main = app.StartToMainWindow("bench");
    if (!main) return Row("Running program", "did not start");
    RowCpu("Processor time of Morvane.exe, lock off", app, cpuSeconds);

    ClickLock(main, true);
    if (!WaitFor([&] { return Queries(app) >= 1; }, kTimeout)) {
        return Row("Running program", "the worker ran no query");
    }
    RowHandles("Handle count after the first cycle (over one cycle)", app);

    // The cycle period: from one query's start to the next.
    WaitFor([&] { return Queries(app) >= 12; }, 60000);
    const std::vector<ToolCall> calls = app.ToolCalls();
    std::vector<double> periods;
    for (size_t i = 1; i < calls.size(); ++i) {
        periods.push_back(static_cast<double>(calls[i].whenMs - calls[i - 1].whenMs));
    }
    RowSpread("Worker cycle period, lock on, volume below the limit", periods);

    // Reaction: the volume goes up at some moment of the cycle; how long
    // until the set command reaches the tool. The delays spread the moment
    // over the whole cycle.
    std::vector<double> reactions;
    for (int trial = 0; trial < kTrials; ++trial) {
        Sleep(static_cast<DWORD>((trial * 373) % 2000));
        const long long raisedAt = NowMs();
        if (!app.SetToolVolume("0.90")) continue;
        long long setAt = 0;
        WaitFor(
            [&] {
                for (const ToolCall& call : app.ToolCalls()) {
                    if (call.IsSet() && call.whenMs >= raisedAt) setAt = call.whenMs;
                }
                return setAt != 0;
            },
            kTimeout);
        if (setAt) reactions.push_back(static_cast<double>(setAt - raisedAt));
        // The set left the fake at 0.50; back below the limit for the next.
        WaitFor([&] { return ReadFile(app.Path("fake-volume.txt")) == "0.50"; }, kTimeout);
        app.SetToolVolume("0.30");
    }
    RowSpread("Reaction: volume raised above the limit to set command", reactions);
    RowCpu("Processor time of Morvane.exe, lock on", app, cpuSeconds);

    const DWORD perCycleBudget = 5000;
    WaitFor([&] { return Queries(app) >= static_cast<size_t>(cycles); },
            static_cast<DWORD>(cycles) * perCycleBudget);
    RowHandles("Handle count after " + std::to_string(Queries(app)) + " cycles (over one cycle)",
               app);

    PostMessageA(main, WM_CLOSE, 0, 0);
    const double closing = PreciseMs();
    if (app.WaitExit()) {
        Row("Close to process end (includes the 1500 ms worker grace)", "%.0f ms",
            PreciseMs() - closing);
    }
}

// A query through the real bin.exe, which reads every active output: with
// one, and with four (the default output the loudest, so that the answer
// is checked).
void MeasureRealToolQueries() {
    TempDir dir("morvane bench outputs");
    if (!InstallRealTool(dir.wpath(), "0.62")) return Row("Query through the real tool", "no tool");
    for (int output = 2; output <= 4; ++output) SetDeviceLevel(dir.wpath(), "0.3", output);
    const CString command = BuildQueryCommand((dir / "bin.exe").c_str());
    RunCommand(command);  // the first start of a new copy is not what the worker sees
    const char* const devices[] = {"active", "active active active active"};
    std::vector<double> times[2], bare[2];
    int wrong = 0;
    // Interleaved, so that a slow spell of the machine hits both alike. The
    // bare round trip shows the tool's own time, which the runner's pauses
    // round up to a multiple of half a second.
    for (int i = 0; i < 2 * kQueries; ++i) {
        WriteFile(dir / "devices.txt", devices[i % 2]);
        double start = PreciseMs();
        wrong += RunCommand(command).Find("master volume: 0.62.") < 0;
        times[i % 2].push_back(PreciseMs() - start);
        start = PreciseMs();
        wrong += !BareRoundTrip(command);
        bare[i % 2].push_back(PreciseMs() - start);
    }
    for (int k = 0; k < 2; ++k) {
        char more[64];
        snprintf(more, sizeof more, "; bare round trip median %.0f ms", Median(bare[k]));
        RowSpread(k ? "Volume query through the real tool, 4 outputs"
                    : "Volume query through the real tool, 1 output",
                  times[k], more);
    }
    if (wrong) Row("Wrong answers among the real tool's queries", "%d", wrong);
}

// Reaction through the real bin.exe and the stand-in device: the level goes
// up at some moment of the cycle; how long until the device is back at the
// ceiling. The whole correction: the next query, the set and its process.
void MeasureRealTool() {
    Morvane app("morvane bench real");
    HWND main =
        app.Prepare("[user]\r\nvol=50\r\nisLock=1\r\n", nullptr) && app.InstallRealTool("0.30")
            ? app.StartToMainWindow("bench")
            : nullptr;
    if (!main) return Row("Reaction through the real tool", "did not start");
    std::vector<double> reactions;
    for (int trial = 0; trial < kTrials; ++trial) {
        Sleep(static_cast<DWORD>((trial * 373) % 2000));
        const double raisedAt = PreciseMs();
        if (!app.SetDeviceLevel("1")) continue;
        if (WaitFor([&] { return app.DeviceLevel() == 0.50f; }, kTimeout)) {
            reactions.push_back(PreciseMs() - raisedAt);
        }
        app.SetDeviceLevel("0.30");
    }
    RowSpread("Reaction through the real tool: level raised above the limit until back at it",
              reactions);
}

}  // namespace

int main(int argc, char** argv) {
    auto option = [&](const char* name, int fallback) {
        for (int i = 1; i + 1 < argc; ++i) {
            if (strcmp(argv[i], name) == 0) return std::max(1, atoi(argv[i + 1]));
        }
        return fallback;
    };
    const bool realToolOnly = argc > 1 && strcmp(argv[1], "--real-tool-only") == 0;
    if (!realToolOnly) {
        MeasureQueries();
        MeasureStarts();
        MeasureRunningProgram(option("--cycles", 200), option("--cpu-seconds", 60));
    }
    MeasureRealToolQueries();
    MeasureRealTool();
    return 0;
}
