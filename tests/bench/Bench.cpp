// Measures the program under this machine's Windows (Wine here) with the fake
// volume tool, and prints the figures as rows of a Markdown table. Run by
// scripts/bench; not a test: it checks nothing and takes minutes.
//
//   morvane_bench [--cycles N] [--cpu-seconds N]
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

double Max(const std::vector<double>& values) {
    return values.empty() ? 0 : *std::max_element(values.begin(), values.end());
}

void RowSpread(const std::string& what, const std::vector<double>& values, const char* more = "") {
    if (values.empty()) return Row(what, "no values");
    Row(what, "median %.0f ms (%.0f-%.0f ms, n=%u)%s", Median(values),
        *std::min_element(values.begin(), values.end()), Max(values),
        static_cast<unsigned>(values.size()), more);
}

void MeasureQueries() {
    TempDir dir("morvane bench");
    if (!CopyBuildProgram("fakevol.exe", dir / "bin.exe")) {
        return Row("Volume query", "could not install the fake tool");
    }
    WriteFile(dir / "fake-volume.txt", "0.62");
    const CString command = BuildQueryCommand((dir / "bin.exe").c_str());
    std::vector<double> runner, bare;
    int wrong = 0;
    // Interleaved, so that a slow spell of the machine hits both alike.
    for (int i = 0; i < kQueries; ++i) {
        double start = PreciseMs();
        const CString answer = RunCommand(command);
        runner.push_back(PreciseMs() - start);
        wrong += answer.Find("master volume: 0.62.") < 0;
        // The round trip without the runner's pauses: the interpreter runs
        // the tool, and the pipe is read until it breaks, blocking in each read.
        start = PreciseMs();
        std::string output;
        FILE* pipe = _popen((CString("\"") + command + "\"").c_str(), "rb");
        char chunk[4096];
        for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
            output.append(chunk, n);
        }
        const bool ok = pipe && _pclose(pipe) == 0;
        bare.push_back(PreciseMs() - start);
        wrong += !ok || output.find("master volume: 0.62.") == std::string::npos;
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

// Under Wine a Windows process is a host process, and Wine's account of
// another process's processor time is incomplete (it showed nothing for a
// minute in which the host counted 200 ms): the host's own account
// (/proc/PID/stat, seen through drive Z:) is the reliable one, and the only
// one used, so that the figures compare. The host process is the one whose
// command line names the program's folder.
int HostPidOf(std::string folder) {
    folder.pop_back();  // the trailing '\'
    folder = folder.substr(folder.find_last_of('\\') + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    int pid = -1;
    for (BOOL more = search != INVALID_HANDLE_VALUE; more && pid < 0;
         more = FindNextFileA(search, &found)) {
        std::string commandLine =
            ReadFile(std::string("Z:\\proc\\") + found.cFileName + "\\cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (commandLine.find(folder + "\\Morvane.exe") != std::string::npos ||
            commandLine.find(folder + "/Morvane.exe") != std::string::npos) {
            pid = atoi(found.cFileName);
        }
    }
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
    return pid;
}

double HostCpuMs(int hostPid) {
    const std::string stat = ReadFile("Z:\\proc\\" + std::to_string(hostPid) + "\\stat");
    // After the parenthesised name: utime and stime are the 12th and 13th
    // fields, in clock ticks of 10 ms.
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(stat.substr(close + 1));
    std::string field;
    double ticks = 0;
    for (int i = 1; i <= 13 && fields >> field; ++i) ticks += i >= 12 ? atof(field.c_str()) : 0;
    return fields ? ticks * 10.0 : -1;
}

// Processor time per minute of wall time over a window of seconds.
void RowCpu(const std::string& what, int hostPid, int seconds) {
    const double before = HostCpuMs(hostPid), start = PreciseMs();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double after = HostCpuMs(hostPid), wall = PreciseMs() - start;
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
    const int hostPid = HostPidOf(app.dir().path());
    RowCpu("Processor time of Morvane.exe, lock off", hostPid, cpuSeconds);

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
    Row("Reaction: volume raised above the limit to set command",
        "median %.0f ms, worst %.0f ms (n=%u)", Median(reactions), Max(reactions),
        static_cast<unsigned>(reactions.size()));
    RowCpu("Processor time of Morvane.exe, lock on", hostPid, cpuSeconds);

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

}  // namespace

int main(int argc, char** argv) {
    auto option = [&](const char* name, int fallback) {
        for (int i = 1; i + 1 < argc; ++i) {
            if (strcmp(argv[i], name) == 0) return std::max(1, atoi(argv[i + 1]));
        }
        return fallback;
    };
    MeasureQueries();
    MeasureStarts();
    MeasureRunningProgram(option("--cycles", 200), option("--cpu-seconds", 60));
    return 0;
}
