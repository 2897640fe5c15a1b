// MachinePorts.h: what the profile mapping learns of the machine's ports
// from the device registry: a network port's hardware address. The registry
// is read once per pass, on the first question, through the registry calls
// (the root's snapshot, or the live machine's sysfs). Whether ModemManager
// manages a modem port is the caller's to add: here no modem is managed.
#ifndef VZ_PLATFORM_NM_MACHINEPORTS_H
#define VZ_PLATFORM_NM_MACHINEPORTS_H

#include "ProfileMapping.h"

namespace vz::nm {

// The facts of the machine the calls are made on. May throw std::bad_alloc
// when asked.
PortFacts machinePorts();

} // namespace vz::nm

#endif
