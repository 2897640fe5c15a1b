// LiveConnection.cpp: from a service to the modem that ModemManager manages
// for it, within the query budget.
#include "LiveConnection.h"

#include "LiveObjects.h"
#include "PrefsPath.h"
#include "Root.h"
#include "SnapshotCache.h"
#include "StringStorage.h"

#include <IOKit/IOKitLib.h>
#include <IOKit/serial/IOSerialKeys.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <atomic>

namespace vz::live {

namespace {

bool isDictionary(CFTypeRef value) noexcept
{
    return value != nullptr && CFGetTypeID(value) == CFDictionaryGetTypeID();
}

std::string deviceNameOf(CFTypeRef interface)
{
    if (!isDictionary(interface)) return {};
    CFTypeRef name = CFDictionaryGetValue(static_cast<CFDictionaryRef>(interface),
                                          kSCPropNetInterfaceDeviceName);
    if (name == nullptr || CFGetTypeID(name) != CFStringGetTypeID()) return {};
    return toUTF8String(static_cast<CFStringRef>(name));
}

// The interface of the service in the current set of the committed store.
std::string deviceInPreferences(CFStringRef serviceID)
{
    std::string  path = pathUnderRoot(std::string(kPreferencesFolder) + "/" + kPreferencesFileName);
    FileIdentity identity;
    CFRef<CFDictionaryRef> root;
    if (loadStoreSnapshot(path, &identity, &root) != kSCStatusOK || !root) return {};
    CFTypeRef currentSet = CFDictionaryGetValue(root.get(), kSCPrefCurrentSet);
    if (currentSet == nullptr || CFGetTypeID(currentSet) != CFStringGetTypeID()) return {};
    CFRef<CFStringRef> interfacePath(
        CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/%@/%@/%@/%@"), currentSet,
                                 kSCCompNetwork, kSCCompService, serviceID, kSCCompInterface));
    if (!interfacePath) throw std::bad_alloc();
    prefs::Keys     keys;
    CFDictionaryRef interface = nullptr;
    if (!prefs::parsePath(interfacePath.get(), &keys) ||
        prefs::walk(root.get(), keys, keys.size(), false, nullptr, &interface) != kSCStatusOK)
        return {};
    return deviceNameOf(interface);
}

// Until when ModemManager is not asked, after a query it left unanswered
// (steady clock ticks; 0: ask). VZFlushPlatformCaches() forgets it.
std::atomic<int64_t> gQuietUntil{0};

void forgetSilence()
{
    gQuietUntil.store(0, std::memory_order_relaxed);
}

int64_t now()
{
    static const bool registered = (registerCacheFlusher(forgetSilence), true);
    (void)registered;
    return bus::Deadline::Clock::now().time_since_epoch().count();
}

} // namespace

std::string serviceDevice(CFStringRef serviceID, CFDictionaryRef store)
{
    CFRef<CFStringRef> key(SCDynamicStoreKeyCreateNetworkServiceEntity(
        nullptr, kSCDynamicStoreDomainSetup, serviceID, kSCEntNetInterface));
    if (!key) throw std::bad_alloc();
    std::string device = deviceNameOf(CFDictionaryGetValue(store, key.get()));
    return device.empty() ? deviceInPreferences(serviceID) : device;
}

std::string managedName(const std::string &device)
{
    CFMutableDictionaryRef matching = IOServiceMatching(kIOSerialBSDServiceValue);
    CFRef<CFStringRef>     name(
            CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(device.data()),
                                    static_cast<CFIndex>(device.size()), kCFStringEncodingUTF8, false));
    if (matching == nullptr || !name) {
        if (matching != nullptr) CFRelease(matching);
        throw std::bad_alloc();
    }
    CFDictionarySetValue(matching, CFSTR(kIOTTYDeviceKey), name.get());
    io_iterator_t iterator = IO_OBJECT_NULL;
    // A registry that cannot be read knows no port: the name stays as it is.
    if (IOServiceGetMatchingServices(kIOMasterPortDefault, matching, &iterator) != kIOReturnSuccess)
        return device;
    std::string terminal;
    if (io_object_t port = IOIteratorNext(iterator); port != IO_OBJECT_NULL) {
        CFRef<CFTypeRef> node(
            IORegistryEntryCreateCFProperty(port, CFSTR(kIOCalloutDeviceKey), nullptr, 0));
        if (node && CFGetTypeID(node.get()) == CFStringGetTypeID()) {
            std::string path = toUTF8String(static_cast<CFStringRef>(node.get()));
            terminal         = path.substr(path.rfind('/') + 1);
        }
        IOObjectRelease(port);
    }
    IOObjectRelease(iterator);
    return terminal.empty() ? device : terminal;
}

bus::Result<ServiceModem> findServiceModem(CFStringRef serviceID, CFDictionaryRef store)
{
    ServiceModem found;
    std::string  device = serviceDevice(serviceID, store);
    if (device.empty()) return found;
    found.name = managedName(device);
    if (now() < gQuietUntil.load(std::memory_order_relaxed)) {
        bus::Error quiet;
        quiet.code    = ETIMEDOUT;
        quiet.message = "ModemManager did not answer a moment ago";
        return quiet;
    }
    auto modem = mm::findModem(found.name, bus::Deadline::after(kQueryBudget));
    if (!modem) {
        if (modem.error().isTimeout())
            gQuietUntil.store(now() + std::chrono::duration_cast<bus::Deadline::Clock::duration>(
                                          kQuietAfterSilence)
                                          .count(),
                              std::memory_order_relaxed);
        return modem.error();
    }
    found.modem = std::move(*modem);
    return found;
}

std::string describe(const bus::Error &error)
{
    if (error.isServiceMissing()) return "ModemManager is not running";
    if (error.isTimeout()) return "ModemManager did not answer in time";
    if (error.code == EBADMSG) return "ModemManager's answer was malformed: " + error.text();
    return "ModemManager: " + error.text();
}

} // namespace vz::live
