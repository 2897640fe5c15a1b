// LiveConnection.h: the connection controller of a live root, which asks
// ModemManager about a service's connection.
//
// A service's device is the DeviceName of its interface: the one published
// in the Setup: domain of the dynamic store, else the one of the current set
// of the committed preferences. A serial port's name ("ZORVEXMobile-Modem")
// is turned into its terminal ("ttyUSB0", the last component of the port's
// "IOCalloutDevice" in the registry); any other name (a network interface)
// is its own. The modem that manages that name (ModemManager.h) answers for
// the service.
//
// A query of ModemManager costs at most kQueryBudget in all. When one goes
// unanswered, ModemManager is not asked again for kQuietAfterSilence (every
// query in that time fails at once), so that a program that asks often
// (a wait for a state) is never held by a service that hangs.
#ifndef VZ_PLATFORM_LIVECONNECTION_H
#define VZ_PLATFORM_LIVECONNECTION_H

#include "BusResult.h"
#include "ModemManager.h"

#include <CoreFoundation/CoreFoundation.h>

#include <chrono>
#include <optional>
#include <string>

namespace vz::live {

inline constexpr std::chrono::milliseconds kQueryBudget{1000};
inline constexpr std::chrono::seconds      kQuietAfterSilence{5};

// The device of the service, as above; empty when nothing names one. store is
// the dynamic store's content. May throw std::bad_alloc.
std::string serviceDevice(CFStringRef serviceID, CFDictionaryRef store);

// The name ModemManager knows device by, as above. May throw std::bad_alloc.
std::string managedName(const std::string &device);

// The name of the service's device for ModemManager (empty when the service
// has no device) and the modem that manages it (none when no modem does),
// within kQueryBudget; an error when ModemManager cannot say (not on the bus,
// refusing, malformed, silent). May throw std::bad_alloc.
struct ServiceModem {
    std::string              name;
    std::optional<mm::Modem> modem;
};
bus::Result<ServiceModem> findServiceModem(CFStringRef serviceID, CFDictionaryRef store);

// Why ModemManager could not answer, in words.
std::string describe(const bus::Error &error);

} // namespace vz::live

#endif
