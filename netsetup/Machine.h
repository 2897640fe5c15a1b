// Machine.h: what the command reads of the machine besides its store: the
// ports as the port scanner lists them, the port a PORT argument names (a
// device name such as "en0" or "ZORVEXMobile-Modem", or a port's
// user-visible name such as "Built-in Ethernet"), and the modem scripts.
#ifndef VZ_NETSETUP_MACHINE_H
#define VZ_NETSETUP_MACHINE_H

#include "CFText.h"
#include "Store.h"

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <vector>

namespace netsetup {

struct Port {
    std::string                name, hardware, type, device;
    std::optional<std::string> subType, macAddress, variant;
    std::optional<long long>   sortOrder, modemOnHold;
    Ref<CFDictionaryRef>       record; // the scanner's record, for a new service
};

// Every port, in the scanner's order.
std::vector<Port> ReadPorts();

// The port whose device name is nameOrDevice, else the one port with that
// name; Failure when none has it or several share the name (their devices
// are listed).
const Port &ResolvePort(const std::vector<Port> &ports, const std::string &nameOrDevice);

// The device a PORT argument names for a command that configures the
// location's services on it: a port as ResolvePort finds it, or, for a
// device the scanner does not see, the device name of one of the services.
std::string ResolveDevice(const std::vector<Port> &ports, const std::vector<Service> &services,
                          const std::string &nameOrDevice);

// The installed modem scripts in the catalogue's order, and the index of the
// default one (none when no script is installed).
struct ModemScripts {
    std::vector<std::string> names;
    std::optional<size_t>    defaultIndex;
};
ModemScripts ReadModemScripts();

} // namespace netsetup

#endif
