// ProbeReadPathFuzz.cpp: libFuzzer target for the status probe's road through
// the model: each input is the network preferences store, read by
// MoreSCCopyServiceIDs and then MoreSCCopyBSDNameOfService for every listed
// service, as the probe does, and also with resolved IDs and through the
// other readers. Whatever the store holds, every call must return, and every
// out-value must be NULL on failure and of the promised kind on success.
// Inputs over 64 KiB are skipped. Built with -DVZ_FUZZ=ON under clang; run as
//   vz_fuzz_probe_read_path -max_len=65535 CORPUS_DIR tests/data/probe
#include "VaviVAZ.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr size_t kMaxInput = 65535;

void Check(bool condition)
{
    if (!condition) std::abort();
}

bool IsA(CFTypeRef value, CFTypeID type)
{
    return value != NULL && CFGetTypeID(value) == type;
}

// The store of a root made for this process, removed when it exits.
class FuzzRoot {
  public:
    FuzzRoot()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "vz-fuzz-root-XXXXXX").string();
        Check(mkdtemp(pattern.data()) != nullptr);
        root_ = pattern;
        setenv("VAVIVAZ_ROOT", root_.c_str(), 1);
        std::string folder = root_ + "/Library/Preferences/SystemConfiguration";
        std::filesystem::create_directories(folder);
        store_ = folder + "/preferences.plist";
    }
    ~FuzzRoot()
    {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    const std::string &store() const { return store_; }

  private:
    std::string root_;
    std::string store_;
};

const std::string &StorePath()
{
    static FuzzRoot root;
    return root.store();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) return 0;
    std::FILE *file = std::fopen(StorePath().c_str(), "wb");
    Check(file != nullptr);
    Check(std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    CFArrayRef local = NULL, resolved = NULL;
    OSStatus   err = MoreSCCopyServiceIDs(NULL, &local, NULL);
    Check((err == noErr) == IsA(local, CFArrayGetTypeID()));
    for (CFIndex i = 0; local != NULL && i < CFArrayGetCount(local); i++) {
        CFStringRef serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(local, i));
        CFStringRef bsdName   = NULL;
        Check(IsA(serviceID, CFStringGetTypeID()));
        err = MoreSCCopyBSDNameOfService(NULL, serviceID, &bsdName);
        Check((err == noErr) == IsA(bsdName, CFStringGetTypeID()));
        if (bsdName != NULL) CFRelease(bsdName);
    }
    if (local != NULL) CFRelease(local);

    local = NULL;
    err   = MoreSCCopyServiceIDs(NULL, &local, &resolved);
    Check((err == noErr) == (local != NULL && resolved != NULL));
    if (local != NULL) CFRelease(local);
    if (resolved != NULL) CFRelease(resolved);

    CFStringRef     setID        = NULL;
    CFDictionaryRef servicesDict = NULL;
    CFArrayRef      serviceOrder = NULL;
    err                          = MoreSCCopyCurrentSet(&setID);
    Check((err == noErr) == IsA(setID, CFStringGetTypeID()));
    if (setID != NULL) CFRelease(setID);
    err = MoreSCCopyServicesDict(NULL, &servicesDict, &serviceOrder);
    Check((err == noErr) == IsA(servicesDict, CFDictionaryGetTypeID()));
    Check((err == noErr) == IsA(serviceOrder, CFArrayGetTypeID()));
    if (servicesDict != NULL) CFRelease(servicesDict);
    if (serviceOrder != NULL) CFRelease(serviceOrder);
    return 0;
}
