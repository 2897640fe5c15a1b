// PlistProcessBench.cpp: reading a store into objects as a whole process,
// beside a bare expat process over the same file, on generated stores of
// about 1, 2.5, 5 and 10 MB (the argument is the target size).
//
//   LintOverExpat/N   `vz-plutil -lint FILE` and `vz-bare-expat FILE` (a
//                     process of expat alone: the file read with one read into
//                     expat's buffer, empty callbacks, the document in one
//                     call) run in pairs, one right after the
//                     other, which of them first alternating; the counters
//                     are lint's time over expat's by wall clock
//                     (lintOverExpat) and by the processes' own processor time
//                     (cpuLintOverExpat)
//
// On a machine that others share the load moves between one run and the
// next; the pairs meet the same load, so their ratio is the figure to read.
#include "StoreGenerator.h"
#include "TempRoots.h"
#include "WholeProcess.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A root holding the generated store of about that size as store.plist.
vzbench::ModemRoot StoreFileFor(size_t targetBytes)
{
    const std::string &root = vzbench::TempRootFor(
        "plist-file", static_cast<int64_t>(targetBytes), [targetBytes](const std::string &path) {
            vzbench::StoreShape shape;
            shape.services = vzbench::ServicesForSize(targetBytes);
            std::ofstream(path + "/store.plist", std::ios::binary) << vzbench::GenerateStore(shape);
        });
    std::error_code ignored;
    return {root, static_cast<size_t>(std::filesystem::file_size(root + "/store.plist", ignored))};
}

void LintOverExpat(benchmark::State &state)
{
    vzbench::ModemRoot root = StoreFileFor(static_cast<size_t>(state.range(0)));
    std::string        file = root.path + "/store.plist";
    vzbench::Pair      pair{{VZ_PLUTIL_PATH, VZ_BARE_EXPAT_PATH},
                       {{"-lint", file.c_str()}, {file.c_str()}}};
    int                round = 0;
    for (auto _ : state) {
        if (!vzbench::TimePair(pair, root, round++)) {
            state.SkipWithError("a process did not exit with 0");
            return;
        }
    }
    const double *wall = pair.wallSeconds, *cpu = pair.cpuSeconds;
    state.counters["lintOverExpat"]    = wall[1] > 0 ? wall[0] / wall[1] : 0;
    state.counters["cpuLintOverExpat"] = cpu[1] > 0 ? cpu[0] / cpu[1] : 0;
    state.counters["storeKB"]          = static_cast<double>(root.storeBytes) / 1024.0;
}

} // namespace

BENCHMARK(LintOverExpat)
    ->Arg(1 << 20)
    ->Arg(5 << 19)
    ->Arg(5 << 20)
    ->Arg(10 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2);

BENCHMARK_MAIN();
