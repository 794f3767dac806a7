// Measures the program under this machine's Windows (Wine here) with the fake
// volume tool, and prints the figures as rows of a Markdown table. Run by
// scripts/bench; not a test: it checks nothing and takes minutes.
//
//   morvane_bench [--queries N] [--cycles N] [--trials N] [--starts N]
//                 [--cpu-seconds N]
#include <windows.h>

#include <algorithm>
#include <cctype>
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

struct Options {
    int queries;     // command runs of each kind
    int cycles;      // worker cycles before the second handle count
    int trials;      // reaction-time trials
    int starts;      // program starts to the prompt
    int cpuSeconds;  // length of each processor-time window
};

void Row(const std::string& what, const std::string& value) {
    printf("| %s | %s |\n", what.c_str(), value.c_str());
    fflush(stdout);
}

std::string Ms(double ms) {
    char text[32];
    snprintf(text, sizeof text, "%.0f ms", ms);
    return text;
}

// Median, smallest and largest of a few numbers.
std::string MedianAndSpread(const std::vector<double>& values) {
    if (values.empty()) return "no values";
    char text[96];
    snprintf(text, sizeof text, "median %.0f ms (%.0f-%.0f ms, n=%u)", Median(values),
             *std::min_element(values.begin(), values.end()),
             *std::max_element(values.begin(), values.end()), static_cast<unsigned>(values.size()));
    return text;
}

// The round trip without the runner's pauses: the interpreter runs the
// tool, and the pipe is read until it breaks, blocking in each read.
bool BareRoundTrip(const CString& command, std::string& output) {
    FILE* pipe = _popen((CString("\"") + command + "\"").c_str(), "rb");
    char chunk[4096];
    for (size_t n; pipe && (n = fread(chunk, 1, sizeof chunk, pipe)) > 0;) output.append(chunk, n);
    return pipe && _pclose(pipe) == 0;
}

void MeasureQueries(const Options& options) {
    TempDir dir("morvane bench");
    if (!CopyBuildProgram("fakevol.exe", dir / "bin.exe")) {
        Row("Volume query", "could not install the fake tool");
        return;
    }
    WriteFile(dir / "fake-volume.txt", "0.62");
    const CString command = BuildQueryCommand((dir / "bin.exe").c_str());

    std::vector<double> runner, bare;
    int wrong = 0;
    // Interleaved, so that a slow spell of the machine hits both alike.
    for (int i = 0; i < options.queries; ++i) {
        double start = PreciseMs();
        const CString answer = RunCommand(command);
        runner.push_back(PreciseMs() - start);
        wrong += answer.Find("master volume: 0.62.") < 0;

        std::string output;
        start = PreciseMs();
        const bool ok = BareRoundTrip(command, output);
        bare.push_back(PreciseMs() - start);
        wrong += !ok || output.find("master volume: 0.62.") == std::string::npos;
    }
    Row("Volume query through RunCommand", MedianAndSpread(runner));
    Row("Bare round trip (Cmd.exe /C, blocking ReadFile)", MedianAndSpread(bare));
    char ratio[32];
    snprintf(ratio, sizeof ratio, "%.1f x", Median(bare) > 0 ? Median(runner) / Median(bare) : 0.0);
    Row("Ratio RunCommand / bare", ratio);
    if (wrong) Row("Wrong answers among the queries", std::to_string(wrong));
}

void MeasureStarts(const Options& options) {
    std::vector<double> times;
    for (int i = 0; i < options.starts; ++i) {
        Morvane app("morvane bench start");
        if (!app.Prepare("")) break;
        const double start = PreciseMs();
        if (!app.StartToPrompt(kSetPrompt)) break;
        times.push_back(PreciseMs() - start);
        // The destructor ends the process: a cancelled prompt would only add
        // the program's exit wait.
    }
    if (times.size() != static_cast<size_t>(options.starts)) {
        Row("Start to password prompt", "the prompt did not appear");
        return;
    }
    Row("Start of Morvane.exe to password prompt visible",
        MedianAndSpread(times) + ", first " + Ms(times.front()));
}

// Under Wine a Windows process is a host process, and Wine's account of
// another process's processor time is incomplete (it showed nothing for a
// minute in which the host counted 200 ms): the host's own account
// (/proc/PID/stat, seen through drive Z:) is the reliable one, and the only
// one used, so that the figures compare. The host
// process is the one whose command line names the program's folder.
int HostPidOf(const std::string& folder) {
    std::string unique = folder;
    while (!unique.empty() && unique.back() == '\\') unique.pop_back();
    unique = unique.substr(unique.find_last_of('\\') + 1);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return -1;
    int pid = -1;
    do {
        if (!isdigit(static_cast<unsigned char>(found.cFileName[0]))) continue;
        std::string commandLine =
            ReadFile(std::string("Z:\\proc\\") + found.cFileName + "\\cmdline");
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (commandLine.find(unique + "\\Morvane.exe") != std::string::npos ||
            commandLine.find(unique + "/Morvane.exe") != std::string::npos) {
            pid = atoi(found.cFileName);
        }
    } while (pid < 0 && FindNextFileA(search, &found));
    FindClose(search);
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
std::string CpuPerMinute(int hostPid, int seconds) {
    const double before = HostCpuMs(hostPid), start = PreciseMs();
    Sleep(static_cast<DWORD>(seconds) * 1000);
    const double after = HostCpuMs(hostPid), wall = PreciseMs() - start;
    if (before < 0 || after < 0) return "unavailable";
    char text[96];
    snprintf(text, sizeof text, "%.0f ms per minute (%d s window, host account)",
             (after - before) * 60000.0 / wall, seconds);
    return text;
}

size_t Queries(const Morvane& app) { return CountCalls(app.ToolCalls(), false); }

// The handle count over one whole cycle, smallest and largest: where in its
// cycle the worker is changes the count by the few handles of a command.
std::string HandlesOverOneCycle(const Morvane& app) {
    const size_t from = Queries(app);
    int low = 1 << 30, high = -1;
    WaitFor(
        [&] {
            const int count = CountProcessHandles(app.pid());
            if (count >= 0) {
                low = std::min(low, count);
                high = std::max(high, count);
            }
            return Queries(app) >= from + 1;
        },
        kTimeout);
    if (high < 0) return "unavailable";
    return std::to_string(low) + "-" + std::to_string(high);
}

void MeasureRunningProgram(const Options& options) {
    Morvane app("morvane bench run");
    if (!app.Prepare("[user]\r\nvol=50\r\nisLock=0\r\n", "0.30")) {
        Row("Running program", "could not prepare its folder");
        return;
    }
    HWND main = app.StartToMainWindow("bench");
    if (!main) {
        Row("Running program", "did not start");
        return;
    }

    const int hostPid = HostPidOf(app.dir().path());
    Row("Processor time of Morvane.exe, lock off", CpuPerMinute(hostPid, options.cpuSeconds));

    ClickLock(main, true);
    if (!WaitFor([&] { return Queries(app) >= 1; }, kTimeout)) {
        Row("Running program", "the worker ran no query");
        return;
    }
    Row("Handle count after the first cycle (over one cycle)", HandlesOverOneCycle(app));

    // The cycle period: from one query's start to the next.
    const DWORD cycleWait = 60000;
    WaitFor([&] { return Queries(app) >= 12; }, cycleWait);
    {
        const std::vector<ToolCall> queries = app.ToolCalls();
        std::vector<double> periods;
        for (size_t i = 1; i < queries.size(); ++i) {
            periods.push_back(static_cast<double>(queries[i].whenMs - queries[i - 1].whenMs));
        }
        Row("Worker cycle period, lock on, volume below the limit", MedianAndSpread(periods));
    }

    // Reaction: the volume goes up at some moment of the cycle; how long
    // until the set command reaches the tool. The delays spread the moment
    // over the whole cycle.
    std::vector<double> reactions;
    for (int trial = 0; trial < options.trials; ++trial) {
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
        "median " + Ms(Median(reactions)) + ", worst " +
            Ms(reactions.empty() ? 0 : *std::max_element(reactions.begin(), reactions.end())) +
            " (n=" + std::to_string(reactions.size()) + ")");

    Row("Processor time of Morvane.exe, lock on", CpuPerMinute(hostPid, options.cpuSeconds));

    const DWORD perCycleBudget = 5000;
    WaitFor([&] { return Queries(app) >= static_cast<size_t>(options.cycles); },
            static_cast<DWORD>(options.cycles) * perCycleBudget);
    const size_t done = Queries(app);
    Row("Handle count after " + std::to_string(done) + " cycles (over one cycle)",
        HandlesOverOneCycle(app));

    PostMessageA(main, WM_CLOSE, 0, 0);
    const double closing = PreciseMs();
    if (app.WaitExit()) {
        Row("Close to process end (includes the 1500 ms worker grace)", Ms(PreciseMs() - closing));
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
    const Options options = {option("--queries", 20), option("--cycles", 200),
                             option("--trials", 10), option("--starts", 5),
                             option("--cpu-seconds", 60)};
    MeasureQueries(options);
    MeasureStarts(options);
    MeasureRunningProgram(options);
    return 0;
}
