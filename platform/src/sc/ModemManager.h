// ModemManager.h: what the connection controller asks ModemManager, the
// service that knows every modem of a Linux machine and its state: which
// modem manages a device name and in what state its connection is, and to
// connect or disconnect it.
//
// A modem manages a name when its "Ports" (a(su)) or "PrimaryPort" holds it,
// or when one of its bearers (read through the modem's "Bearers", not the
// object manager's listing) has it as "Interface". The status of such a name:
//
//   the bearer on that name has "Connected" true     connected
//   modem "State" 11 (connected)                     connected
//   modem "State" 10 (connecting)                    connecting
//   modem "State" 9 (disconnecting)                  disconnecting
//   any other state, -1 (failed) to 8 (registered)   disconnected
//   a state outside that range, or none              invalid
//
// ModemManager is input. A property of another type than the above is not
// there: ports that are not a(su) hold no name, a bearer whose "Connected"
// is not a boolean is not connected. A bearer that went away between the
// listing and its reading is passed over. Anything else (no ModemManager on
// the bus, an error reply, a reply of the wrong type, no reply before the
// deadline) is the caller's error to handle. Calls never start ModemManager.
#ifndef VZ_PLATFORM_MODEMMANAGER_H
#define VZ_PLATFORM_MODEMMANAGER_H

#include "BusConnection.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <optional>
#include <string>
#include <string_view>

namespace vz::mm {

// ModemManager's modem states (MMModemState) that the status reads.
enum : int32_t {
    kStateFailed        = -1,
    kStateDisconnecting = 9,
    kStateConnecting    = 10,
    kStateConnected     = 11,
};

struct Modem {
    std::string               path;       // the modem's object path
    std::string               bearerPath; // the bearer on the name, when it has one
    SCNetworkConnectionStatus status = kSCNetworkConnectionInvalid;
};

// The modem that manages name, or nullopt when none does. Throws nothing but
// std::bad_alloc.
bus::Result<std::optional<Modem>> findModem(std::string_view name, const bus::Deadline &deadline);

// What Modem.Simple.Connect is given; an empty value is not given.
struct ConnectSettings {
    std::string apn, user, password;
};

// Modem.Simple.Connect: the new bearer's path once the modem is connected.
bus::Result<std::string> connect(const std::string &modemPath, const ConnectSettings &settings,
                                 const bus::Deadline &deadline);
// Modem.Simple.Disconnect of one bearer, or of all of the modem's ("/").
bus::Result<bool> disconnect(const std::string &modemPath, const std::string &bearerPath,
                             const bus::Deadline &deadline);

} // namespace vz::mm

#endif
