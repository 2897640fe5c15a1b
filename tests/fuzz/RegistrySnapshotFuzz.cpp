// RegistrySnapshotFuzz.cpp: fuzz target for the device registry snapshot:
// each input is a root's ioregistry.plist, walked through the registry calls
// (the whole tree from the root, every entry's class, name, properties and
// parent, a matching search per class the port scanner asks for) and then
// scanned for ports. Whatever the file holds, every call returns; a snapshot
// the registry refuses refuses every walk alike; a port record holds the
// kinds the scanner promises; and once the platform's caches are emptied
// every object made is gone. Inputs over 64 KiB are skipped.
// scripts/fuzz registry-snapshot SECONDS runs it.
#include "FuzzSupport.h"
#include "VZPlatformTesting.h"
#include "VaviVAZPortScanner.h"

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <cstdlib>
#include <string>

namespace {

using vzfuzz::Check;

constexpr size_t kMaxInput    = 65535;
constexpr int    kMaxEntries  = 4096; // more than a 64 KiB snapshot can list
constexpr int    kMaxChildren = 4096;

bool IsA(CFTypeRef value, CFTypeID type)
{
    return value != nullptr && CFGetTypeID(value) == type;
}

const std::string &SnapshotPath()
{
    static vzfuzz::TempFolder root("registry");
    static std::string        snapshot = [] {
        setenv("VAVIVAZ_ROOT", root.path().c_str(), 1);
        setenv("VAVIVAZ_LIVE", "0", 1);
        return root.path() + "/var/run/SystemConfiguration/ioregistry.plist";
    }();
    return snapshot;
}

// Every entry under entry, depth first: each answers its class, its name
// and its properties, and names a parent (the root aside). How many were
// walked.
int Walk(io_registry_entry_t entry, int depth, int budget)
{
    io_name_t name, className;
    Check(IORegistryEntryGetName(entry, name) == kIOReturnSuccess, "an entry has a name");
    Check(IOObjectGetClass(entry, className) == kIOReturnSuccess, "an entry has a class");
    Check(IOObjectConformsTo(entry, "IORegistryEntry"), "every class is an IORegistryEntry");
    CFMutableDictionaryRef properties = nullptr;
    Check(IORegistryEntryCreateCFProperties(entry, &properties, nullptr, 0) == kIOReturnSuccess &&
              IsA(properties, CFDictionaryGetTypeID()),
          "an entry's properties are a dictionary");
    CFRelease(properties);
    io_registry_entry_t parent = IO_OBJECT_NULL;
    kern_return_t       found  = IORegistryEntryGetParentEntry(entry, kIOServicePlane, &parent);
    Check((found == kIOReturnSuccess) == (depth > 0), "an entry below the root has a parent");
    if (parent != IO_OBJECT_NULL) IOObjectRelease(parent);

    int           walked   = 1;
    io_iterator_t children = IO_OBJECT_NULL;
    if (IORegistryEntryGetChildIterator(entry, kIOServicePlane, &children) != kIOReturnSuccess)
        return walked;
    int count = 0;
    for (io_registry_entry_t child; (child = IOIteratorNext(children)) != IO_OBJECT_NULL;) {
        Check(++count <= kMaxChildren && walked < budget, "the walk ends");
        walked += Walk(child, depth + 1, budget - walked);
        IOObjectRelease(child);
    }
    IOObjectRelease(children);
    return walked;
}

int Matching(const char *className)
{
    io_iterator_t found = IO_OBJECT_NULL;
    if (IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching(className), &found) !=
        kIOReturnSuccess)
        return -1;
    int count = 0;
    for (io_object_t entry; (entry = IOIteratorNext(found)) != IO_OBJECT_NULL; count++) {
        Check(IOObjectConformsTo(entry, className), "a match is of the class asked for");
        CFTypeRef bsdName = IORegistryEntrySearchCFProperty(
            entry, kIOServicePlane, CFSTR("BSD Name"), nullptr,
            kIORegistryIterateRecursively | kIORegistryIterateParents);
        if (bsdName != nullptr) CFRelease(bsdName);
        IOObjectRelease(entry);
    }
    IOObjectRelease(found);
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) return 0;
    vzfuzz::WriteFile(SnapshotPath(), std::string_view(reinterpret_cast<const char *>(data), size));
    VZFlushPlatformCaches();
    CFIndex live = VZGetLiveObjectCount();

    io_registry_entry_t root     = IORegistryGetRootEntry(kIOMasterPortDefault);
    int                 networks = Matching("IONetworkInterface");
    int                 serials  = Matching("IOSerialBSDClient");
    Check((root == IO_OBJECT_NULL) == (networks < 0) && (networks < 0) == (serials < 0),
          "a refused snapshot refuses every call");
    if (root != IO_OBJECT_NULL) {
        Check(Walk(root, 0, kMaxEntries) <= kMaxEntries, "the walk ends");
        IOObjectRelease(root);
    }

    CFArrayRef ports = nullptr;
    OSStatus   err   = MoreSCCreatePortArray(&ports);
    Check((err == noErr) == IsA(ports, CFArrayGetTypeID()), "the ports, or an error");
    for (CFIndex i = 0; ports != nullptr && i < CFArrayGetCount(ports); i++) {
        CFTypeRef port = CFArrayGetValueAtIndex(ports, i);
        Check(IsA(port, CFDictionaryGetTypeID()), "a port is a dictionary");
        CFTypeRef name =
            CFDictionaryGetValue(static_cast<CFDictionaryRef>(port), kSCPropUserDefinedName);
        Check(IsA(name, CFStringGetTypeID()), "a port has a name");
    }
    if (ports != nullptr) CFRelease(ports);

    VZFlushPlatformCaches();
    Check(VZGetLiveObjectCount() == live, "every object read is released");
    return 0;
}
