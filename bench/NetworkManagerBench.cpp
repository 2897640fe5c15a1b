// NetworkManagerBench.cpp: an apply on a live root of a 50-service location,
// against the tests' fake NetworkManager on a private bus. The counters say
// which calls one apply makes: profile reads (listing, settings, secrets)
// and changes (additions, updates, deletions, activations).
#include "PrivateBus.h"
#include "StoreGenerator.h"
#include "TempRoots.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <utility>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr size_t kServices = 50;

struct Machine {
    std::unique_ptr<vztest::PrivateBus>  bus;
    std::unique_ptr<vztest::FakeService> fake;
    size_t                               callsSeen = 0;
};

Machine &TheMachine()
{
    static Machine machine = [] {
        Machine made;
        made.bus  = std::make_unique<vztest::PrivateBus>();
        made.fake = std::make_unique<vztest::FakeService>(
            *made.bus, "org.freedesktop.NetworkManager", "/org/freedesktop",
            vztest::FakeService::Template{VZ_FAKE_NETWORKMANAGER});
        const std::string &root = vzbench::TempRootFor("nm", kServices, [](const std::string &r) {
            fs::create_directories(r + "/Library/Preferences/SystemConfiguration");
            vzbench::StoreShape shape;
            shape.services = kServices;
            std::ofstream(r + "/Library/Preferences/SystemConfiguration/preferences.plist")
                << vzbench::GenerateStore(shape);
        });
        setenv("VAVIVAZ_ROOT", root.c_str(), 1);
        setenv("VAVIVAZ_LIVE", "1", 1);
        setenv("VAVIVAZ_SYSFS", (root + "/no-sysfs").c_str(), 1);
        return made;
    }();
    return machine;
}

// The calls the fake saw since the last look: reads and changes.
std::pair<size_t, size_t> NewCalls(Machine &machine)
{
    std::string calls = machine.fake->Mock("GetProfileCalls", "", {});
    size_t      reads = 0, changes = 0, total = 0;
    for (size_t at = calls.find("\"", calls.find("[")); at != std::string::npos;
         at        = calls.find("\"", calls.find("\"", at + 1) + 1)) {
        if (total++ < machine.callsSeen) continue;
        std::string method = calls.substr(at + 1, calls.find(' ', at) - at - 1);
        (method == "ListConnections" || method == "GetSettings" || method == "GetSecrets"
             ? reads
             : changes)++;
    }
    machine.callsSeen = total;
    return {reads, changes};
}

// The calls per apply of the benchmark's loop, as its counters.
void CountCalls(benchmark::State &state, Machine &machine)
{
    auto [reads, changes]     = NewCalls(machine);
    double iterations         = static_cast<double>(state.iterations());
    state.counters["reads"]   = static_cast<double>(reads) / iterations;
    state.counters["changes"] = static_cast<double>(changes) / iterations;
}

// Gives the first service of the store other DNS servers, so that the next
// apply has one profile to update.
void ChangeOneService(benchmark::State &state, int round)
{
    SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("bench"), nullptr);
    auto             services =
        static_cast<CFDictionaryRef>(SCPreferencesGetValue(prefs, kSCPrefNetworkServices));
    std::vector<const void *> ids(static_cast<size_t>(CFDictionaryGetCount(services)));
    CFDictionaryGetKeysAndValues(services, ids.data(), nullptr);
    CFStringRef path = CFStringCreateWithFormat(nullptr, nullptr, CFSTR("/%@/%@/%@"),
                                                kSCPrefNetworkServices, ids[0], kSCEntNetDNS);
    CFStringRef server =
        CFStringCreateWithFormat(nullptr, nullptr, CFSTR("192.0.2.%d"), round % 200 + 1);
    CFArrayRef servers =
        CFArrayCreate(nullptr, reinterpret_cast<const void **>(&server), 1, &kCFTypeArrayCallBacks);
    const void     *key = kSCPropNetDNSServerAddresses;
    CFDictionaryRef dns =
        CFDictionaryCreate(nullptr, &key, reinterpret_cast<const void **>(&servers), 1,
                           &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    if (!SCPreferencesPathSetValue(prefs, path, dns) || !SCPreferencesCommitChanges(prefs))
        state.SkipWithError("the change was not saved");
    CFRelease(dns);
    CFRelease(servers);
    CFRelease(server);
    CFRelease(path);
    CFRelease(prefs);
}

void Apply(benchmark::State &state)
{
    SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("bench"), nullptr);
    if (prefs == nullptr || !SCPreferencesApplyChanges(prefs))
        state.SkipWithError("the apply failed");
    if (prefs != nullptr) CFRelease(prefs);
    if (CFDictionaryRef report = VZPreferencesCopyApplyReport()) CFRelease(report);
}

void ResetFake(Machine &machine)
{
    machine.fake->Reset();
    machine.callsSeen = 0;
}

// Every profile made anew: NetworkManager held none.
void BM_ApplyIntoEmpty(benchmark::State &state)
{
    Machine &machine = TheMachine();
    size_t   reads = 0, changes = 0;
    ResetFake(machine);
    for (auto _ : state) {
        state.PauseTiming();
        auto [read, changed] = NewCalls(machine);
        reads += read;
        changes += changed;
        ResetFake(machine);
        state.ResumeTiming();
        Apply(state);
    }
    auto [read, changed]      = NewCalls(machine);
    double iterations         = static_cast<double>(state.iterations());
    state.counters["reads"]   = static_cast<double>(reads + read) / iterations;
    state.counters["changes"] = static_cast<double>(changes + changed) / iterations;
}
BENCHMARK(BM_ApplyIntoEmpty)->Unit(benchmark::kMillisecond)->Iterations(5);

// Nothing changed since the last apply.
void BM_ApplyUnchanged(benchmark::State &state)
{
    Machine &machine = TheMachine();
    ResetFake(machine);
    Apply(state);
    NewCalls(machine);
    for (auto _ : state)
        Apply(state);
    CountCalls(state, machine);
}
BENCHMARK(BM_ApplyUnchanged)->Unit(benchmark::kMillisecond)->Iterations(10);

// One service changed since the last apply.
void BM_ApplyOneChange(benchmark::State &state)
{
    Machine &machine = TheMachine();
    ResetFake(machine);
    Apply(state);
    NewCalls(machine);
    int round = 0;
    for (auto _ : state) {
        state.PauseTiming();
        ChangeOneService(state, round++);
        state.ResumeTiming();
        Apply(state);
    }
    CountCalls(state, machine);
}
BENCHMARK(BM_ApplyOneChange)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
