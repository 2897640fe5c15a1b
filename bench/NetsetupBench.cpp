// NetsetupBench.cpp: vz-netsetup listing a location's services, as a whole
// process, beside the status probe over the same generated stores (the modem
// last in the service order, so the probe reads every service too).
//
//   Probe/N                 the status probe
//   NetsetupServices/N      vz-netsetup services, the table
//   NetsetupServicesJson/N  vz-netsetup --json services
//
// Times are wall-clock times of the whole child process, start to reaped.
#include "WholeProcess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <thread>
#include <vector>

namespace {

void RunProcess(benchmark::State &state, const char *program,
                const std::vector<const char *> &arguments)
{
    const vzbench::ModemRoot root = vzbench::ModemRootFor(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        if (vzbench::RunWholeProcess(program, arguments, root) != 0) {
            state.SkipWithError("the process did not exit with 0");
            break;
        }
    }
    state.counters["storeKB"] = static_cast<double>(root.storeBytes) / 1024.0;
}

void Probe(benchmark::State &state)
{
    RunProcess(state, VZ_PROBE_PATH, {});
}
void NetsetupServices(benchmark::State &state)
{
    RunProcess(state, VZ_NETSETUP_PATH, {"services"});
}
void NetsetupServicesJson(benchmark::State &state)
{
    RunProcess(state, VZ_NETSETUP_PATH, {"--json", "services"});
}

// Wall-clock milliseconds over 100, 1000 and 10000 services.
void Sizes(benchmark::internal::Benchmark *run)
{
    run->Arg(100)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(Probe)->Apply(Sizes);
BENCHMARK(NetsetupServices)->Apply(Sizes);
BENCHMARK(NetsetupServicesJson)->Apply(Sizes);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    // Let the stores age past the platform's timestamp guard, as in the
    // probe's benchmark, so that both meet a store that changed a while ago.
    for (size_t services : {100, 1000, 10000})
        (void)vzbench::ModemRootFor(services);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
