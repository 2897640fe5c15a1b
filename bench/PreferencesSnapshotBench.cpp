// PreferencesSnapshotBench.cpp: what a snapshot of the network preferences
// store costs, over generated stores of about 1 MB and 10 MB (the argument is
// the target size):
//
//   FirstSnapshot/N     SCPreferencesCreate with the snapshot cache emptied
//                       first (the emptying is not timed): read and parse
//   RepeatedSnapshot/N  SCPreferencesCreate of the unchanged store, the file
//                       older than the timestamp guard: a stat and a lookup
//   UnprovenSnapshot/N  the same with the file's modification time in the
//                       future, so that the metadata can never prove it
//                       unchanged: read and hash, no parse (the road a store
//                       takes until the timestamp guard has passed after a
//                       write: 50 ms with fine timestamps, two seconds with
//                       coarse ones)
//   ProbeReads/N        one repeated snapshot and the three path reads the
//                       probe makes per service (link, interface entity)
//
// The target: RepeatedSnapshot under 2% of FirstSnapshot. Before measuring,
// the stores are left to age past the longest guard of FileIdentity.h.
#include "StoreGenerator.h"
#include "TempRoots.h"

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTesting.h>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char *kStore = "Library/Preferences/SystemConfiguration/preferences.plist";

// A root holding a store of that size, its time an hour ahead when
// futureTime.
void FillRoot(const std::string &root, int64_t bytes, bool futureTime)
{
    fs::create_directories((fs::path(root) / kStore).parent_path());
    vzbench::StoreShape shape;
    shape.services = vzbench::ServicesForSize(static_cast<size_t>(bytes));
    std::ofstream(fs::path(root) / kStore, std::ios::binary) << vzbench::GenerateStore(shape);
    if (futureTime) {
        struct timespec times[2];
        clock_gettime(CLOCK_REALTIME, &times[0]);
        times[0].tv_sec += 3600;
        times[1] = times[0];
        utimensat(AT_FDCWD, (fs::path(root) / kStore).c_str(), times, 0);
    }
}

// The root of a store of that size, aged past the timestamp guard.
const std::string &RootFor(int64_t bytes, bool unproven = false)
{
    return vzbench::TempRootFor(unproven ? "snapshot-unproven" : "snapshot", bytes,
                                [&](const std::string &root) {
                                    FillRoot(root, bytes, unproven);
                                    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
                                });
}

void UseRoot(const std::string &root)
{
    setenv("VAVIVAZ_ROOT", root.c_str(), 1);
    VZFlushPlatformCaches();
}

SCPreferencesRef Snapshot(benchmark::State &state)
{
    SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("bench"), nullptr);
    if (prefs == nullptr) state.SkipWithError("SCPreferencesCreate failed");
    return prefs;
}

void SetBytes(benchmark::State &state, const std::string &root)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(fs::file_size(fs::path(root) / kStore)));
}

void BM_FirstSnapshot(benchmark::State &state)
{
    const std::string &root = RootFor(state.range(0));
    UseRoot(root);
    for (auto _ : state) {
        state.PauseTiming();
        VZFlushPlatformCaches();
        state.ResumeTiming();
        SCPreferencesRef prefs = Snapshot(state);
        if (prefs == nullptr) break;
        CFRelease(prefs);
    }
    SetBytes(state, root);
}

void BM_RepeatedSnapshot(benchmark::State &state)
{
    UseRoot(RootFor(state.range(0)));
    if (SCPreferencesRef warm = Snapshot(state)) CFRelease(warm); // the one parse
    for (auto _ : state) {
        SCPreferencesRef prefs = Snapshot(state);
        if (prefs == nullptr) break;
        CFRelease(prefs);
    }
}

void BM_UnprovenSnapshot(benchmark::State &state)
{
    const std::string &root = RootFor(state.range(0), true);
    UseRoot(root);
    if (SCPreferencesRef warm = Snapshot(state)) CFRelease(warm);
    for (auto _ : state) {
        SCPreferencesRef prefs = Snapshot(state);
        if (prefs == nullptr) break;
        CFRelease(prefs);
    }
    SetBytes(state, root);
}

void BM_ProbeReads(benchmark::State &state)
{
    UseRoot(RootFor(state.range(0)));
    SCPreferencesRef first = Snapshot(state);
    if (first == nullptr) return;
    // A service of the current set, as the probe reaches it.
    auto        set = static_cast<CFStringRef>(SCPreferencesGetValue(first, kSCPrefCurrentSet));
    CFStringRef servicesPath =
        CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/Network/Service"), set);
    CFDictionaryRef services = SCPreferencesPathGetValue(first, servicesPath);
    CFRelease(servicesPath);
    std::vector<const void *> ids(static_cast<size_t>(CFDictionaryGetCount(services)));
    CFDictionaryGetKeysAndValues(services, ids.data(), nullptr);
    const void *someID   = ids.back();
    CFStringRef linkPath = CFStringCreateWithFormat(
        nullptr, nullptr, CFSTR("%@/Network/Service/%@"), set, static_cast<CFStringRef>(someID));
    CFStringRef orderPath =
        CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/Network/Global/IPv4"), set);
    for (auto _ : state) {
        SCPreferencesRef prefs   = Snapshot(state);
        CFStringRef      service = SCPreferencesPathGetLink(prefs, linkPath);
        CFStringRef      entity =
            CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/Interface"), service);
        benchmark::DoNotOptimize(SCPreferencesPathGetValue(prefs, entity));
        benchmark::DoNotOptimize(SCPreferencesPathGetValue(prefs, orderPath));
        CFRelease(entity);
        CFRelease(prefs);
    }
    CFRelease(orderPath);
    CFRelease(linkPath);
    CFRelease(first);
}

} // namespace

BENCHMARK(BM_FirstSnapshot)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RepeatedSnapshot)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UnprovenSnapshot)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ProbeReads)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
