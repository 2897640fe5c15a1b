// ProbeBench.cpp: the status probe as a whole process, beside a process that
// only parses the same store, over generated stores of 10 to 10000 services
// with the modem last in the service order (the probe's slowest road: it
// reads every service's name before it finds the modem).
//
//   Probe/N            the probe; the modem's connection is up, so it exits 0
//   ParseOnly/N        parse the store's bytes and exit
//   ParseOnlyPrefs/N   open the store once through the preferences API and exit
//   BareExpat/N        run expat with empty callbacks over the store and exit
//   ProbeAfterAChange/N  the probe when the store was written just before
//   ProbeLean/N, BareExpatLean/N  the probe and expat over lean stores: services
//                      of an interface and an IPv4 entity only
//   ProbeOverExpatLean/N, ProbeOverExpatRich/N  the probe and expat run in
//                      pairs; the counters are the probe's time over expat's
//
// Times are wall-clock times of the whole child process, start to reaped.
#include "StoreGenerator.h"

#include <CoreFoundation/CoreFoundation.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

extern char **environ;

namespace fs = std::filesystem;

namespace {

struct Root {
    std::string path;
    size_t      storeBytes = 0;
};

void WriteFile(const fs::path &path, const std::string &text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

// The last entry of the current set's service order: the generator puts the
// modem there.
std::string LastServiceOfCurrentSet(const std::string &xml)
{
    std::string result;
    CFDataRef   data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(xml.data()),
                                    static_cast<CFIndex>(xml.size()));
    auto        tree = static_cast<CFDictionaryRef>(
        CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr));
    CFRelease(data);
    if (tree == nullptr) return result;
    auto       setPath = static_cast<CFStringRef>(CFDictionaryGetValue(tree, CFSTR("CurrentSet")));
    CFArrayRef parts   = CFStringCreateArrayBySeparatingStrings(nullptr, setPath, CFSTR("/"));
    auto       sets    = static_cast<CFDictionaryRef>(CFDictionaryGetValue(tree, CFSTR("Sets")));
    auto       set =
        static_cast<CFDictionaryRef>(CFDictionaryGetValue(sets, CFArrayGetValueAtIndex(parts, 2)));
    auto network = static_cast<CFDictionaryRef>(CFDictionaryGetValue(set, CFSTR("Network")));
    auto global  = static_cast<CFDictionaryRef>(CFDictionaryGetValue(network, CFSTR("Global")));
    auto ipv4    = static_cast<CFDictionaryRef>(CFDictionaryGetValue(global, CFSTR("IPv4")));
    auto order   = static_cast<CFArrayRef>(CFDictionaryGetValue(ipv4, CFSTR("ServiceOrder")));
    auto last = static_cast<CFStringRef>(CFArrayGetValueAtIndex(order, CFArrayGetCount(order) - 1));
    char buffer[256] = {};
    if (CFStringGetCString(last, buffer, sizeof buffer, kCFStringEncodingUTF8)) result = buffer;
    CFRelease(parts);
    CFRelease(tree);
    return result;
}

// The roots made so far, one per store shape (services, lean), removed when
// the run ends.
struct Roots {
    std::map<std::pair<size_t, bool>, Root> bySize;
    ~Roots()
    {
        std::error_code ignored;
        for (const auto &entry : bySize)
            fs::remove_all(entry.second.path, ignored);
    }
};

const Root &RootFor(size_t services, bool lean = false)
{
    static Roots made;
    auto        &roots = made.bySize;
    auto         found = roots.find({services, lean});
    if (found != roots.end()) return found->second;

    Root        root;
    std::string pattern = (fs::temp_directory_path() / "vz-probe-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) root.path = pattern;
    vzbench::StoreShape shape;
    shape.services    = services;
    shape.modemLast   = true;
    shape.lean        = lean;
    std::string xml   = vzbench::GenerateStore(shape);
    root.storeBytes   = xml.size();
    std::string modem = LastServiceOfCurrentSet(xml);
    WriteFile(fs::path(root.path) / "Library/Preferences/SystemConfiguration/preferences.plist",
              xml);
    WriteFile(fs::path(root.path) / "var/run/SystemConfiguration/dynamic-store.plist",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
              "\t<key>State:/Network/Service/" +
                  modem +
                  "/PPP</key>\n"
                  "\t<dict>\n\t\t<key>Status</key>\n\t\t<integer>2</integer>\n\t</dict>\n"
                  "</dict>\n</plist>\n");
    return roots.emplace(std::make_pair(services, lean), root).first->second;
}

// Runs the program on the root; its exit status, or -1.
int Run(const char *program, const char *argument, const Root &root)
{
    std::string env    = "VAVIVAZ_ROOT=" + root.path;
    char       *envp[] = {env.data(), nullptr};
    char       *argv[] = {const_cast<char *>(program), const_cast<char *>(argument), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid    = 0;
    int   status = -1;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, envp) == 0 &&
        waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
        status = WEXITSTATUS(status);
    } else {
        status = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return status;
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
    RunProcess(state, VZ_PARSE_ONLY_PATH, "expat");
}
void ProbeLean(benchmark::State &state)
{
    RunProcess(state, VZ_PROBE_PATH, nullptr, true);
}
void BareExpatLean(benchmark::State &state)
{
    RunProcess(state, VZ_PARSE_ONLY_PATH, "expat", true);
}

// The probe and the bare expat process in pairs, one right after the other,
// so that both meet the same load on a shared machine: the time is the
// pair's, and the counters give the probe's share against expat's by wall
// clock (probeOverExpat) and by processor time (cpuProbeOverExpat).
void ProbeOverExpat(benchmark::State &state, bool lean)
{
    const Root &root    = RootFor(static_cast<size_t>(state.range(0)), lean);
    double      wall[2] = {0, 0}, cpu[2] = {0, 0};
    const char *programs[2]  = {VZ_PROBE_PATH, VZ_PARSE_ONLY_PATH};
    const char *arguments[2] = {nullptr, "expat"};
    for (auto _ : state) {
        for (int k = 0; k < 2; k++) {
            struct rusage before {
            }, after{};
            getrusage(RUSAGE_CHILDREN, &before);
            auto started = std::chrono::steady_clock::now();
            if (Run(programs[k], arguments[k], root) != 0) {
                state.SkipWithError("a process did not exit with 0");
                return;
            }
            wall[k] +=
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            getrusage(RUSAGE_CHILDREN, &after);
            auto seconds = [](const struct timeval &t) { return t.tv_sec + t.tv_usec / 1e6; };
            cpu[k] += seconds(after.ru_utime) - seconds(before.ru_utime) + seconds(after.ru_stime) -
                      seconds(before.ru_stime);
        }
    }
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
