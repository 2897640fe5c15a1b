// ProbeBench.cpp: the status probe as a whole process, beside a process that
// only parses the same store, over generated stores of 10 to 10000 services
// with the modem last in the service order (the probe's slowest road: it
// reads every service's name before it finds the modem).
//
//   Probe/N            the probe; the modem's connection is up, so it exits 0
//   ParseOnly/N        parse the store's bytes and exit
//   ParseOnlyPrefs/N   open the store once through the preferences API and exit
//   BareExpat/N        vz-bare-expat: expat with empty callbacks over the store, in
//                      a process that loads nothing else
//   ProbeAfterAChange/N  the probe when the store was written just before
//   ProbeLean/N, BareExpatLean/N  the probe and expat over lean stores: services
//                      of an interface and an IPv4 entity only
//   ProbeOverExpatLean/N, ProbeOverExpatRich/N  the probe and expat run in
//                      pairs; the counters are the probe's time over expat's
//
// Times are wall-clock times of the whole child process, start to reaped.
#include "WholeProcess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Root = vzbench::ModemRoot;

Root RootFor(size_t services, bool lean = false)
{
    return vzbench::ModemRootFor(services, lean);
}

// Runs the program on the root; its exit status, or -1.
int Run(const char *program, const char *argument, const Root &root)
{
    std::vector<const char *> arguments;
    if (argument != nullptr) arguments.push_back(argument);
    return vzbench::RunWholeProcess(program, arguments, root);
}

void RunProcess(benchmark::State &state, const char *program, const char *argument,
                bool lean = false)
{
    const Root &root = RootFor(static_cast<size_t>(state.range(0)), lean);
    for (auto _ : state) {
        if (Run(program, argument, root) != 0) {
            state.SkipWithError("the process did not exit with 0");
            break;
        }
    }
    state.counters["storeKB"] = static_cast<double>(root.storeBytes) / 1024.0;
}

void Probe(benchmark::State &state)
{
    RunProcess(state, VZ_PROBE_PATH, nullptr);
}
void ParseOnly(benchmark::State &state)
{
    RunProcess(state, VZ_PARSE_ONLY_PATH, nullptr);
}
void ParseOnlyPrefs(benchmark::State &state)
{
    RunProcess(state, VZ_PARSE_ONLY_PATH, "prefs");
}
void BareExpat(benchmark::State &state)
{
    RunProcess(state, VZ_BARE_EXPAT_PATH, nullptr);
}
void ProbeLean(benchmark::State &state)
{
    RunProcess(state, VZ_PROBE_PATH, nullptr, true);
}
void BareExpatLean(benchmark::State &state)
{
    RunProcess(state, VZ_BARE_EXPAT_PATH, nullptr, true);
}

// The probe and the bare expat process in pairs, one right after the other
// (which of them first alternates), so that both meet the same load on a
// shared machine: the time is the pair's, and the counters give the probe's
// time over expat's by wall clock (probeOverExpat) and by the processes' own
// processor time (cpuProbeOverExpat).
void ProbeOverExpat(benchmark::State &state, bool lean)
{
    const Root   &root = RootFor(static_cast<size_t>(state.range(0)), lean);
    vzbench::Pair pair{{VZ_PROBE_PATH, VZ_BARE_EXPAT_PATH}, {}};
    int           round = 0;
    for (auto _ : state) {
        if (!vzbench::TimePair(pair, root, round++)) {
            state.SkipWithError("a process did not exit with 0");
            return;
        }
    }
    const double *wall = pair.wallSeconds, *cpu = pair.cpuSeconds;
    state.counters["probeOverExpat"]    = wall[1] > 0 ? wall[0] / wall[1] : 0;
    state.counters["cpuProbeOverExpat"] = cpu[1] > 0 ? cpu[0] / cpu[1] : 0;
    state.counters["storeKB"]           = static_cast<double>(root.storeBytes) / 1024.0;
}
void ProbeOverExpatRich(benchmark::State &state)
{
    ProbeOverExpat(state, false);
}
void ProbeOverExpatLean(benchmark::State &state)
{
    ProbeOverExpat(state, true);
}

// The probe right after the store changed: each run first gives the store a
// new modification time, as a writer's commit would.
void ProbeAfterAChange(benchmark::State &state)
{
    const Root &root  = RootFor(static_cast<size_t>(state.range(0)));
    std::string store = root.path + "/Library/Preferences/SystemConfiguration/preferences.plist";
    for (auto _ : state) {
        state.PauseTiming();
        fs::last_write_time(store, fs::file_time_type::clock::now());
        state.ResumeTiming();
        if (Run(VZ_PROBE_PATH, nullptr, RootFor(static_cast<size_t>(state.range(0)))) != 0) {
            state.SkipWithError("the probe did not exit with 0");
            break;
        }
    }
    state.counters["storeKB"] = static_cast<double>(root.storeBytes) / 1024.0;
}

BENCHMARK(Probe)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ParseOnly)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ParseOnlyPrefs)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BareExpat)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(ProbeLean)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BareExpatLean)->Arg(1000)->Arg(4000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(ProbeOverExpatLean)
    ->Arg(1000)
    ->Arg(4000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(ProbeOverExpatRich)
    ->Arg(1000)
    ->Arg(10000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);
BENCHMARK(ProbeAfterAChange)
    ->Arg(10)
    ->Arg(100)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // The platform proves a store unchanged from its metadata alone only once
    // its last change is older than the timestamp guard (50 ms here, two
    // seconds on a file system with coarse timestamps); before that every
    // snapshot reads the file again. Make the stores first and let them age, so that
    // the runs show a store that changed a while ago, as the probe usually
    // meets it.
    for (size_t services : {10, 100, 1000, 10000})
        (void)RootFor(services);
    for (size_t services : {1000, 4000})
        (void)RootFor(services, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
