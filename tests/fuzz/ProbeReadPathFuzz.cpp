// ProbeReadPathFuzz.cpp: fuzz target for the status probe's road through
// the model: each input is the network preferences store, read by
// MoreSCCopyServiceIDs and then MoreSCCopyBSDNameOfService for every listed
// service, as the probe does, and also with resolved IDs and through the
// other readers. Whatever the store holds, every call must return, every
// out-value must be NULL on failure and of the promised kind on success, and
// once the platform's caches are emptied every object made is gone. Inputs
// over 64 KiB are skipped. scripts/fuzz probe-read-path SECONDS runs it.
#include "FuzzSupport.h"
#include "VZPlatformTesting.h"
#include "VaviVAZ.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdlib>
#include <string>

namespace {

using vzfuzz::Check;

constexpr size_t kMaxInput = 65535;

bool IsA(CFTypeRef value, CFTypeID type)
{
    return value != NULL && CFGetTypeID(value) == type;
}

// The store of a root made for this process.
const std::string &StorePath()
{
    static vzfuzz::TempFolder root("probe");
    static std::string        store = [] {
        setenv("VAVIVAZ_ROOT", root.path().c_str(), 1);
        setenv("VAVIVAZ_LIVE", "0", 1);
        return root.path() + "/Library/Preferences/SystemConfiguration/preferences.plist";
    }();
    return store;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) return 0;
    vzfuzz::WriteFile(StorePath(), std::string_view(reinterpret_cast<const char *>(data), size));
    VZFlushPlatformCaches();
    CFIndex live = VZGetLiveObjectCount();

    CFArrayRef local = NULL, resolved = NULL;
    OSStatus   err = MoreSCCopyServiceIDs(NULL, &local, NULL);
    Check((err == noErr) == IsA(local, CFArrayGetTypeID()), "the service IDs, or an error");
    for (CFIndex i = 0; local != NULL && i < CFArrayGetCount(local); i++) {
        CFStringRef serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(local, i));
        CFStringRef bsdName   = NULL;
        Check(IsA(serviceID, CFStringGetTypeID()), "a service ID is a string");
        err = MoreSCCopyBSDNameOfService(NULL, serviceID, &bsdName);
        Check((err == noErr) == IsA(bsdName, CFStringGetTypeID()), "a BSD name, or an error");
        if (bsdName != NULL) CFRelease(bsdName);
    }
    if (local != NULL) CFRelease(local);

    local = NULL;
    err   = MoreSCCopyServiceIDs(NULL, &local, &resolved);
    Check((err == noErr) == (local != NULL && resolved != NULL), "both lists, or an error");
    if (local != NULL) CFRelease(local);
    if (resolved != NULL) CFRelease(resolved);

    CFStringRef     setID        = NULL;
    CFDictionaryRef servicesDict = NULL;
    CFArrayRef      serviceOrder = NULL;
    err                          = MoreSCCopyCurrentSet(&setID);
    Check((err == noErr) == IsA(setID, CFStringGetTypeID()), "the current set, or an error");
    if (setID != NULL) CFRelease(setID);
    err = MoreSCCopyServicesDict(NULL, &servicesDict, &serviceOrder);
    Check((err == noErr) == IsA(servicesDict, CFDictionaryGetTypeID()),
          "the services, or an error");
    Check((err == noErr) == IsA(serviceOrder, CFArrayGetTypeID()), "the order, or an error");
    if (servicesDict != NULL) CFRelease(servicesDict);
    if (serviceOrder != NULL) CFRelease(serviceOrder);
    VZFlushPlatformCaches();
    Check(VZGetLiveObjectCount() == live, "every object read is released");
    return 0;
}
