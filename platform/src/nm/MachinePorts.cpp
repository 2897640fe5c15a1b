// MachinePorts.cpp: hardware addresses from the registry, modems from
// ModemManager.
#include "MachinePorts.h"

#include "Runtime.h"
#include "StringStorage.h"

#include <IOKit/IOBSD.h>
#include <IOKit/IOKitLib.h>
#include <IOKit/network/IOEthernetController.h>

#include <map>
#include <memory>

namespace vz::nm {

namespace {

class RegistryObject {
  public:
    explicit RegistryObject(io_object_t object = IO_OBJECT_NULL) noexcept : object_(object) {}
    RegistryObject(const RegistryObject &)            = delete;
    RegistryObject &operator=(const RegistryObject &) = delete;
    ~RegistryObject()
    {
        if (object_ != IO_OBJECT_NULL) (void)IOObjectRelease(object_);
    }
    io_object_t  get() const noexcept { return object_; }
    io_object_t *put() noexcept { return &object_; }

  private:
    io_object_t object_;
};

// Every network interface's name and its controller's hardware address.
// A registry that cannot be read gives none: the profiles are then made
// without addresses, bound to their device names alone.
std::map<std::string, Bytes> readAddresses()
{
    std::map<std::string, Bytes> addresses;
    RegistryObject               interfaces;
    if (IOServiceGetMatchingServices(kIOMasterPortDefault, IOServiceMatching("IONetworkInterface"),
                                     interfaces.put()) != kIOReturnSuccess)
        return addresses;
    for (;;) {
        RegistryObject interface(IOIteratorNext(interfaces.get()));
        if (interface.get() == IO_OBJECT_NULL) break;
        RegistryObject controller;
        if (IORegistryEntryGetParentEntry(interface.get(), kIOServicePlane, controller.put()) !=
            kIOReturnSuccess)
            continue;
        CFRef<CFTypeRef> name(
            IORegistryEntryCreateCFProperty(interface.get(), CFSTR(kIOBSDNameKey), nullptr, 0));
        CFRef<CFTypeRef> mac(
            IORegistryEntryCreateCFProperty(controller.get(), CFSTR(kIOMACAddress), nullptr, 0));
        if (!name || !mac || CFGetTypeID(name.get()) != CFStringGetTypeID() ||
            CFGetTypeID(mac.get()) != CFDataGetTypeID() ||
            CFDataGetLength(static_cast<CFDataRef>(mac.get())) != 6)
            continue;
        const UInt8 *bytes = CFDataGetBytePtr(static_cast<CFDataRef>(mac.get()));
        addresses.emplace(toUTF8String(static_cast<CFStringRef>(name.get())),
                          Bytes(bytes, bytes + 6));
    }
    return addresses;
}

} // namespace

PortFacts machinePorts()
{
    auto      addresses = std::make_shared<std::optional<std::map<std::string, Bytes>>>();
    PortFacts facts;
    facts.macAddress = [addresses](std::string_view device) -> std::optional<Bytes> {
        if (!*addresses) *addresses = readAddresses();
        auto found = (*addresses)->find(std::string(device));
        if (found == (*addresses)->end()) return std::nullopt;
        return found->second;
    };
    facts.isManagedModem = [](std::string_view) { return false; };
    return facts;
}

} // namespace vz::nm
