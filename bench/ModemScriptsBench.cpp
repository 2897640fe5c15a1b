// ModemScriptsBench.cpp: what the modem script catalogue costs beside the
// least any sorted listing of the folder must do, over a script folder of
// 1,000 and 10,000 files (the argument):
//
//   Catalogue/N             MoreSCCreateCCLArray without the default's index:
//                           four folder look-ups, the listing in batches of
//                           50 with each file's catalog information (a stat
//                           and an attribute read), a string per name, the
//                           localised numeric sort and the duplicate sweep
//   ReaddirAndCollator/N    readdir of the same folder, each name made a
//                           UTF-16 string, and a sort with one ICU collator
//                           made before the loop with the same attributes
//                           (secondary strength, numeric, normalisation on)
//   ReaddirExamineAndCollator/N
//                           the same, each name examined as the catalogue
//                           must (fstatat beside the folder's descriptor, and
//                           the invisible attribute read by path) and folders
//                           and invisible files left out: the floor of a
//                           listing that tells scripts from other items
//
// Target: Catalogue within 2x ReaddirAndCollator at 10,000 scripts. The
// names mix cases, accents and numbers, as installed scripts do.
#include "TempRoots.h"

#include <CoreFoundation/CoreFoundation.h>
#include <VaviVAZCCLScanner.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr const char *kScriptFolder = "Library/Modem Scripts";

// The root of a script folder of that many files.
const std::string &RootFor(int64_t scripts)
{
    static const char *const kStems[] = {
        "ZORVEX Mobile",        "zorvex mobile", "Serial Modem", "Internal 56K Modem (v.",
        "\xc3\x89tude Dial-up", "PCMCIA Card ",  "usb modem",    "Generic ISDN"};
    return vzbench::TempRootFor("scripts", scripts, [&](const std::string &root) {
        fs::path folder = fs::path(root) / kScriptFolder;
        fs::create_directories(folder);
        for (int64_t n = 0; n < scripts; n++) {
            std::string name = std::string(kStems[n % 8]) + " " + std::to_string(n / 8);
            std::ofstream(folder / name) << "! a modem script\n";
        }
    });
}

void BM_Catalogue(benchmark::State &state)
{
    setenv("VAVIVAZ_ROOT", RootFor(state.range(0)).c_str(), 1);
    for (auto _ : state) {
        CFArrayRef scripts = NULL;
        if (MoreSCCreateCCLArray(&scripts, NULL) != noErr ||
            CFArrayGetCount(scripts) != state.range(0)) {
            state.SkipWithError("the catalogue failed");
            break;
        }
        CFRelease(scripts);
    }
}

// The collator the catalogue's order calls for, made once.
std::unique_ptr<icu::Collator> MakeCollator()
{
    UErrorCode                     status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale::getDefault(), status));
    if (U_SUCCESS(status)) {
        collator->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    }
    if (U_FAILURE(status)) collator.reset();
    return collator;
}

// Lists the folder's names with readdir, each examined first when examine
// is set, and sorts them with the collator.
void ListAndSort(benchmark::State &state, bool examine)
{
    std::string folder = (fs::path(RootFor(state.range(0))) / kScriptFolder).string();
    std::unique_ptr<icu::Collator> collator = MakeCollator();
    if (!collator) {
        state.SkipWithError("no collator");
        return;
    }
    for (auto _ : state) {
        std::vector<icu::UnicodeString> names;
        DIR                            *stream = opendir(folder.c_str());
        if (stream == nullptr) {
            state.SkipWithError("no folder");
            break;
        }
        while (struct dirent *entry = readdir(stream)) {
            if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
                continue;
            if (examine) {
                struct stat info;
                char        value[8];
                std::string path = folder + "/" + entry->d_name;
                if (fstatat(dirfd(stream), entry->d_name, &info, 0) != 0 || S_ISDIR(info.st_mode))
                    continue;
                if (getxattr(path.c_str(), "user.invisible", value, sizeof value) >= 0) continue;
            }
            names.push_back(icu::UnicodeString::fromUTF8(entry->d_name));
        }
        closedir(stream);
        std::stable_sort(names.begin(), names.end(),
                         [&](const icu::UnicodeString &a, const icu::UnicodeString &b) {
                             UErrorCode ignored = U_ZERO_ERROR;
                             return collator->compare(a, b, ignored) == UCOL_LESS;
                         });
        benchmark::DoNotOptimize(names.data());
    }
}

void BM_ReaddirAndCollator(benchmark::State &state)
{
    ListAndSort(state, false);
}

void BM_ReaddirExamineAndCollator(benchmark::State &state)
{
    ListAndSort(state, true);
}

} // namespace

BENCHMARK(BM_Catalogue)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaddirAndCollator)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReaddirExamineAndCollator)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
