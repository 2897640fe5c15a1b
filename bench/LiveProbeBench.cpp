// LiveProbeBench.cpp: the status probe on a live root with ModemManager
// answering, against the same probe on the same store as a plain root: a
// generated store of N services with the modem's service last, whole
// processes.
//
//   Plain/N          the probe on the plain root, where the dynamic store
//                    says the modem's connection is up (it exits 0)
//   Live/N           the probe on the same root made live (VAVIVAZ_LIVE=1):
//                    the registry from a sysfs tree holding the maker's
//                    dongle, a private bus with a fake ModemManager whose
//                    modem on that dongle's ttyUSB0 is connecting; the probe
//                    exits 2, ModemManager's answer rather than the store's
//   LiveOverPlain/N  the two in pairs, one right after the other, so that
//                    both meet the same load on a shared machine; the
//                    counter liveOverPlain is the live probe's wall time over
//                    the plain one's
//
// Times are wall-clock times of the whole child process, start to reaped.
#include "FakeModemManager.h"
#include "FakeSysfs.h"
#include "WholeProcess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

// The bus, the fake and the sysfs tree, made once for the whole run.
struct LiveMachine {
    vztest::PrivateBus       bus;
    vztest::FakeModemManager mm{bus};
    std::string              sysfs = bus.Folder() + "/sys";

    LiveMachine()
    {
        vztest::MakersDongle(vztest::FakeSysfs(sysfs));
        mm.AddModem(0, {"ttyUSB0", "ttyUSB1", "ttyUSB2", "wwan0"}, 10);
    }
};

std::unique_ptr<LiveMachine> gMachine; // made on first use, ended before the exit

LiveMachine &Machine()
{
    if (!gMachine) gMachine = std::make_unique<LiveMachine>();
    return *gMachine;
}

// What the probe answers: the store's connected (0), ModemManager's
// connecting (2).
constexpr int kPlainAnswer = 0, kLiveAnswer = 2;

// The probe over the root, plain or live; its exit status, or -1.
int RunProbe(const vzbench::ModemRoot &root, bool live)
{
    std::vector<std::string> variables = {"VAVIVAZ_ROOT=" + root.path};
    if (live)
        variables.insert(variables.end(), {"VAVIVAZ_LIVE=1", "VAVIVAZ_SYSFS=" + Machine().sysfs,
                                           "DBUS_SYSTEM_BUS_ADDRESS=" + Machine().bus.Address()});
    std::vector<char *> envp;
    for (std::string &variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    char                      *argv[] = {const_cast<char *>(VZ_PROBE_PATH), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid    = 0;
    int   status = -1;
    if (posix_spawn(&pid, VZ_PROBE_PATH, &actions, nullptr, argv, envp.data()) == 0 &&
        waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        status = WEXITSTATUS(status);
    else
        status = -1;
    posix_spawn_file_actions_destroy(&actions);
    return status;
}

void RunOne(benchmark::State &state, bool live)
{
    const vzbench::ModemRoot &root = vzbench::ModemRootFor(static_cast<size_t>(state.range(0)));
    if (live) Machine();
    for (auto _ : state) {
        if (RunProbe(root, live) != (live ? kLiveAnswer : kPlainAnswer)) {
            state.SkipWithError("the probe did not give its answer");
            break;
        }
    }
}

void Plain(benchmark::State &state)
{
    RunOne(state, false);
}
void Live(benchmark::State &state)
{
    RunOne(state, true);
}

void LiveOverPlain(benchmark::State &state)
{
    const vzbench::ModemRoot &root = vzbench::ModemRootFor(static_cast<size_t>(state.range(0)));
    Machine();
    double wall[2] = {0, 0};
    for (auto _ : state) {
        for (int live = 0; live < 2; live++) {
            auto started = std::chrono::steady_clock::now();
            if (RunProbe(root, live == 1) != (live == 1 ? kLiveAnswer : kPlainAnswer)) {
                state.SkipWithError("the probe did not give its answer");
                return;
            }
            wall[live] +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        }
    }
    state.counters["liveOverPlain"] = wall[0] > 0 ? wall[1] / wall[0] : 0;
}

BENCHMARK(Plain)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(Live)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(LiveOverPlain)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

} // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gMachine.reset(); // the bus and the fake end with it
    return 0;
}
