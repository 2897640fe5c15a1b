// KeyFloodBench.cpp: a document built to flood a dictionary's index beside
// one of random keys of the same size: 20,000 keys of 16 characters in one
// dictionary, about 780 KB.
//
//   BM_ReadKeys/0   random keys
//   BM_ReadKeys/1   keys aimed at the index: an unkeyed FNV-1a string hash,
//                   folded to 32 bits (what the platform used before its hash
//                   was keyed), puts every one of them in the first 64 of the
//                   65,536 slots of the index of a 20,000-key dictionary, one
//                   probe run that each insertion and lookup walks
//
// With a keyed hash the aimed keys are as good as random ones; the target is
// the aimed document within 2x the random one.
#include <CoreFoundation/CoreFoundation.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace {

constexpr size_t   kKeys      = 20000;
constexpr uint32_t kIndexMask = 65535; // the index of a 20,000-key dictionary
constexpr uint32_t kWindow    = 64;    // the slots the aimed keys land in

uint32_t UnkeyedHash(const std::string &text)
{
    uint64_t h = 0xcbf29ce484222325ull;
    for (unsigned char c : text)
        h = (h ^ c) * 0x100000001b3ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
}

std::string Document(bool aimed)
{
    std::string     xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n"
                          "<dict>\n";
    std::mt19937_64 random(7);
    uint64_t        counter = 0;
    char            key[32];
    for (size_t made = 0; made < kKeys;) {
        uint64_t n = aimed ? counter++ : random() % 1000000000000ull;
        std::snprintf(key, sizeof key, "key-%012llu", static_cast<unsigned long long>(n));
        if (aimed && (UnkeyedHash(key) & kIndexMask) >= kWindow) continue;
        xml += "\t<key>";
        xml += key;
        xml += "</key><string/>\n";
        made++;
    }
    return xml + "</dict>\n</plist>\n";
}

void BM_ReadKeys(benchmark::State &state)
{
    static const std::string documents[] = {Document(false), Document(true)};
    const std::string       &text        = documents[state.range(0)];
    CFDataRef                data =
        CFDataCreateWithBytesNoCopy(nullptr, reinterpret_cast<const UInt8 *>(text.data()),
                                    static_cast<CFIndex>(text.size()), kCFAllocatorNull);
    for (auto _ : state) {
        CFPropertyListRef plist =
            CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
        if (plist == nullptr || CFDictionaryGetCount(static_cast<CFDictionaryRef>(plist)) !=
                                    static_cast<CFIndex>(kKeys)) {
            state.SkipWithError("the document did not read");
            break;
        }
        CFRelease(plist);
    }
    CFRelease(data);
    state.counters["bytes"] = double(text.size());
}

BENCHMARK(BM_ReadKeys)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
