// ModemScriptsBench.cpp: what the modem script catalogue costs beside the
// least any sorted listing of the folder must do, over a script folder of
// 1,000 and 10,000 files (the argument):
//
//   Catalogue/N             MoreSCCreateCCLArray without the default's index:
//                           four folder look-ups, the listing in batches of
//                           50 with each file's catalog information (an
//                           attribute read beside the open folder), a string
//                           per name, the localised numeric sort and the
//                           duplicate sweep
//   ReaddirAndCollator/N    readdir of the same folder, each name made a
//                           UTF-16 string, and a sort with one ICU collator
//                           made before the loop for the locale the
//                           catalogue collates for, with the same attributes
//                           (secondary strength, numeric, normalisation on)
//   ReaddirExamineAndCollator/N
//                           the same, each name examined as the catalogue
//                           must, the cheapest way the system allows (a stat
//                           beside the folder's descriptor only where
//                           readdir's type does not tell, the invisible
//                           attribute read beside it too where the kernel
//                           can, else by path) and folders and invisible
//                           files left out: the floor of a listing that
//                           tells scripts from other items
//
// Target: Catalogue within 2x ReaddirAndCollator at 10,000 scripts. The
// names mix cases, accents and numbers, as installed scripts do.
#include "TempRoots.h"

#include <CoreFoundation/CoreFoundation.h>
#include <VaviVAZCCLScanner.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/uloc.h>
#include <unicode/unistr.h>
#include <unistd.h>
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

// The ICU name of the locale the catalogue collates for: the platform's
// current locale ("" for the root locale, which "C" and "POSIX" stand for).
// ICU's own default locale would differ from it under "C.UTF-8", and its
// collator would sort in another order at another cost.
std::string CurrentLocaleName()
{
    CFLocaleRef locale                       = CFLocaleCopyCurrent();
    char        name[ULOC_FULLNAME_CAPACITY] = "";
    if (locale != NULL) {
        CFStringGetCString(CFLocaleGetIdentifier(locale), name, sizeof name, kCFStringEncodingUTF8);
        CFRelease(locale);
    }
    return name;
}

// The collator the catalogue's order calls for, made once.
std::unique_ptr<icu::Collator> MakeCollator()
{
    UErrorCode                     status = U_ZERO_ERROR;
    std::unique_ptr<icu::Collator> collator(
        icu::Collator::createInstance(icu::Locale(CurrentLocaleName().c_str()), status));
    if (U_SUCCESS(status)) {
        collator->setAttribute(UCOL_STRENGTH, UCOL_SECONDARY, status);
        collator->setAttribute(UCOL_NUMERIC_COLLATION, UCOL_ON, status);
        collator->setAttribute(UCOL_NORMALIZATION_MODE, UCOL_ON, status);
    }
    if (U_FAILURE(status)) collator.reset();
    return collator;
}

// getxattrat (Linux 6.13), where this build knows its number; -1 with ENOSYS
// elsewhere.
ssize_t GetxattrBeside(int folder, const char *name, void *value, size_t size)
{
#if (defined(__x86_64__) && defined(__LP64__)) || defined(__aarch64__)
    struct {
        uint64_t value;
        uint32_t size;
        uint32_t flags;
    } args = {reinterpret_cast<uintptr_t>(value), static_cast<uint32_t>(size), 0};
    return syscall(464, folder, name, 0u, "user.invisible", &args, sizeof args);
#else
    (void)folder, (void)name, (void)value, (void)size;
    errno = ENOSYS;
    return -1;
#endif
}

// Whether the item is a script: a folder or an invisible file is not.
bool IsScript(const std::string &folder, DIR *stream, const struct dirent *entry)
{
    static const bool besideWorks =
        GetxattrBeside(AT_FDCWD, "/", nullptr, 0) >= 0 || errno == ENODATA || errno == ENOTSUP;
    if (entry->d_type != DT_REG && entry->d_type != DT_DIR) {
        struct stat info;
        if (fstatat(dirfd(stream), entry->d_name, &info, 0) != 0 || S_ISDIR(info.st_mode))
            return false;
    }
    if (entry->d_type == DT_DIR) return false;
    char value[8];
    if (besideWorks) return GetxattrBeside(dirfd(stream), entry->d_name, value, sizeof value) < 0;
    return getxattr((folder + "/" + entry->d_name).c_str(), "user.invisible", value, sizeof value) <
           0;
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
            if (examine && !IsScript(folder, stream, entry)) continue;
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
