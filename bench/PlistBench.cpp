// PlistBench.cpp: reading and writing generated network preferences stores
// of about 10 KB, 100 KB, 1 MB and 10 MB, and, over the same bytes, expat
// alone with empty callbacks: the floor any reader built on it stands on.
//
// BM_Read times the parse alone; BM_ReadAndRelease adds the release of the
// tree; BM_ReadOverExpatWhole runs the read and release and the bare pass
// over the whole document in pairs and reports their ratio. The bare pass feeds expat in the same 128 KiB pieces as the reader does
// (BareExpat); BareExpatWhole hands it the whole document at once, which makes
// expat copy all of it into a buffer of its own first.
#include "StoreGenerator.h"

#include <CoreFoundation/CoreFoundation.h>
#include <benchmark/benchmark.h>
#include <expat.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <time.h>

namespace {

constexpr size_t kPiece = 128 * 1024;

// One store per target size, made once.
const std::string &Store(size_t targetBytes)
{
    static std::map<size_t, std::string> stores;
    auto                                 found = stores.find(targetBytes);
    if (found != stores.end()) return found->second;
    vzbench::StoreShape shape;
    shape.services = vzbench::ServicesForSize(targetBytes);
    return stores.emplace(targetBytes, vzbench::GenerateStore(shape)).first->second;
}

CFDataRef DataOf(const std::string &text)
{
    return CFDataCreateWithBytesNoCopy(nullptr, reinterpret_cast<const UInt8 *>(text.data()),
                                       static_cast<CFIndex>(text.size()), kCFAllocatorNull);
}

void Describe(benchmark::State &state, const std::string &text)
{
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
    state.counters["bytes"] = double(text.size());
}

// Parses the store; with releaseInside, releasing the tree is timed too.
void Read(benchmark::State &state, bool releaseInside)
{
    const std::string &text = Store(size_t(state.range(0)));
    CFDataRef          data = DataOf(text);
    for (auto _ : state) {
        CFPropertyListRef plist =
            CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
        if (plist == nullptr) {
            state.SkipWithError("the store did not read");
            break;
        }
        if (!releaseInside) state.PauseTiming();
        CFRelease(plist);
        if (!releaseInside) state.ResumeTiming();
    }
    CFRelease(data);
    Describe(state, text);
}

void BM_Read(benchmark::State &state)
{
    Read(state, false);
}
void BM_ReadAndRelease(benchmark::State &state)
{
    Read(state, true);
}

void BM_Write(benchmark::State &state)
{
    const std::string &text = Store(size_t(state.range(0)));
    CFDataRef          data = DataOf(text);
    CFPropertyListRef  plist =
        CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
    CFRelease(data);
    for (auto _ : state) {
        CFDataRef xml = CFPropertyListCreateXMLData(nullptr, plist);
        if (xml == nullptr) {
            state.SkipWithError("the store did not write");
            break;
        }
        CFRelease(xml);
    }
    CFRelease(plist);
    Describe(state, text);
}

void XMLCALL OnStart(void *, const XML_Char *, const XML_Char **) {}
void XMLCALL OnEnd(void *, const XML_Char *) {}
void XMLCALL OnCharacters(void *, const XML_Char *, int) {}

void BareExpat(benchmark::State &state, size_t piece)
{
    const std::string &text = Store(size_t(state.range(0)));
    for (auto _ : state) {
        XML_Parser parser = XML_ParserCreate(nullptr);
        XML_SetElementHandler(parser, OnStart, OnEnd);
        XML_SetCharacterDataHandler(parser, OnCharacters);
        size_t at = 0;
        bool   ok = true;
        do {
            size_t count = std::min(piece, text.size() - at);
            ok = XML_Parse(parser, text.data() + at, int(count), at + count == text.size()) ==
                 XML_STATUS_OK;
            at += count;
        } while (ok && at < text.size());
        XML_ParserFree(parser);
        if (!ok) {
            state.SkipWithError("expat refused the store");
            break;
        }
    }
    Describe(state, text);
}

void BM_BareExpat(benchmark::State &state)
{
    BareExpat(state, kPiece);
}
void BM_BareExpatWhole(benchmark::State &state)
{
    BareExpat(state, SIZE_MAX);
}

double ThreadSeconds()
{
    struct timespec now {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// The read (with the release of the tree) and the bare pass over the whole
// document in pairs, one right after the other, which first alternating:
// on a shared machine both meet the same load. readOverExpat is the read's
// processor time over the bare pass's, readAndReleaseOverExpat the same with
// the release of the tree.
void BM_ReadOverExpatWhole(benchmark::State &state)
{
    const std::string &text     = Store(size_t(state.range(0)));
    CFDataRef          data     = DataOf(text);
    double             spent[2] = {0, 0}, released = 0;
    int                round = 0;
    for (auto _ : state) {
        for (int turn = 0; turn < 2; turn++) {
            int    k       = (turn + round) % 2;
            double started = ThreadSeconds();
            bool   ok      = true;
            if (k == 0) {
                CFPropertyListRef plist = CFPropertyListCreateFromXMLData(
                    nullptr, data, kCFPropertyListImmutable, nullptr);
                ok          = plist != nullptr;
                double read = ThreadSeconds();
                if (ok) CFRelease(plist);
                released += ThreadSeconds() - read;
            } else {
                XML_Parser parser = XML_ParserCreate(nullptr);
                XML_SetElementHandler(parser, OnStart, OnEnd);
                XML_SetCharacterDataHandler(parser, OnCharacters);
                ok = XML_Parse(parser, text.data(), int(text.size()), XML_TRUE) == XML_STATUS_OK;
                XML_ParserFree(parser);
            }
            spent[k] += ThreadSeconds() - started;
            if (!ok) {
                state.SkipWithError("the store did not read");
                CFRelease(data);
                return;
            }
        }
        round++;
    }
    CFRelease(data);
    state.counters["readOverExpat"]           = spent[1] > 0 ? (spent[0] - released) / spent[1] : 0;
    state.counters["readAndReleaseOverExpat"] = spent[1] > 0 ? spent[0] / spent[1] : 0;
    Describe(state, text);
}

void Sizes(benchmark::internal::Benchmark *bench)
{
    for (int64_t bytes : {10 << 10, 100 << 10, 1 << 20, 10 << 20})
        bench->Arg(bytes);
    bench->Unit(benchmark::kMicrosecond);
}

} // namespace

BENCHMARK(BM_BareExpat)->Apply(Sizes);
BENCHMARK(BM_BareExpatWhole)->Apply(Sizes);
BENCHMARK(BM_Read)->Apply(Sizes);
BENCHMARK(BM_ReadAndRelease)->Apply(Sizes);
BENCHMARK(BM_Write)->Apply(Sizes);
BENCHMARK(BM_ReadOverExpatWhole)->Arg(1 << 20)->Arg(10 << 20)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
