// ProfileMapping.h: the connection profiles NetworkManager should hold for
// the current set of a preferences tree, and what of the set they cannot
// carry.
//
// This is the one place that decides how a service becomes a profile. Each
// active service of the current set that NetworkManager can carry (an
// Ethernet or wireless port, PPPoE, a modem's PPP on a port ModemManager
// manages) gives exactly one profile, in service order, marked as ours with
// the service's and the set's IDs; every setting of the service that the
// profile cannot hold is listed instead of being dropped in silence. The
// mapping is a pure function of the tree and of two facts about the
// machine's ports, so that it can be tested without a machine.
#ifndef VZ_PLATFORM_NM_PROFILEMAPPING_H
#define VZ_PLATFORM_NM_PROFILEMAPPING_H

#include "Settings.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vz::nm {

// What the mapping needs to know of the machine's ports.
struct PortFacts {
    // The hardware address of a network port, by device name.
    std::function<std::optional<Bytes>(std::string_view device)> macAddress;
    // Whether ModemManager manages the modem on a serial port, by its name.
    std::function<bool(std::string_view device)> isManagedModem;
};

// A setting of a service that no profile carries: item says what (one of
// the kItem... names below, which reports hand on to scripts), value the
// offending text where there is one (an address that is not an IPv4
// address, a proxy's kind).
struct NotCarried {
    std::string serviceID;
    std::string serviceName;
    std::string item;
    std::string value;
};

inline constexpr const char *kItemProxy         = "proxy";         // value: its kind
inline constexpr const char *kItemPhoneNumber   = "phone-number";  // a modem's number
inline constexpr const char *kItemSerialPort    = "serial-port";   // the whole service
inline constexpr const char *kItemFireWirePort  = "firewire-port"; // the whole service
inline constexpr const char *kItemOtherPort     = "other-port";    // no port, or unknown
inline constexpr const char *kItemNetworkName   = "network-name";  // a wireless service without one
inline constexpr const char *kItemDNSServers    = "dns-servers";   // IPv4 off
inline constexpr const char *kItemSearchDomains = "search-domains"; // IPv4 off
inline constexpr const char *kItemDHCPInform    = "dhcp-inform";    // what DHCP adds to INFORM
inline constexpr const char *kItemIPv4Method    = "ipv4-method";    // value: the method
inline constexpr const char *kItemIPv6Method    = "ipv6-method";    // value: the method
inline constexpr const char *kItemIPv4Address   = "ipv4-address";   // value: the text
inline constexpr const char *kItemNoAddress     = "no-address";     // manual IPv4 without one
inline constexpr const char *kItemSubnetMask    = "subnet-mask";    // value: the text
inline constexpr const char *kItemRouter        = "router";         // value: the text
inline constexpr const char *kItemDNSServer     = "dns-server";     // value: the text
inline constexpr const char *kItemPassword      = "password";       // not readable (as text)

// The item in words, for people: "the HTTP proxy of Ethernet".
std::string describe(const NotCarried &item);

struct DesiredProfile {
    std::string serviceID;
    // The password included: empty for a service without one, and left out
    // for one that cannot be read (said not carried), which the plan keeps
    // as NetworkManager holds it.
    Settings settings;
};

struct Mapping {
    std::string                 locationID; // empty: no current set
    std::vector<DesiredProfile> profiles;   // in service order
    std::vector<NotCarried>     notCarried;
};

// The profiles for the current set of a snapshot of the store, read through
// the preferences calls as any reader does (links followed, secrets
// included where the caller may read them). A store without a current set,
// or whose current set names no set, gives no profile. An SCError status:
// 1001 for a current set that is not text. May throw std::bad_alloc.
[[nodiscard]] int mapCurrentSet(SCPreferencesRef prefs, const PortFacts &ports, Mapping *mapping);

// The UUID of the profile of a service of a set: the same for the same two
// IDs every time, lower-case.
std::string profileUUID(std::string_view setID, std::string_view serviceID);

} // namespace vz::nm

#endif
