// Settings.h: a connection profile of NetworkManager as this platform holds
// it: settings by name, each a dictionary of keys to values, as the bus
// carries them (a{sa{sv}}), with only the value types our profiles use.
//
// Every setting and key name we write is defined here once. NetworkManager
// leaves a key at its default out of what it hands back, so two profiles are
// compared key by key over the keys we own, an absent key standing for
// NetworkManager's default; keys we do not own (a person's additions,
// NetworkManager's own) never make a difference.
#ifndef VZ_PLATFORM_NM_SETTINGS_H
#define VZ_PLATFORM_NM_SETTINGS_H

#include <compare>
#include <cstdint>
#include <map>
#include <string>
#include <variant>
#include <vector>

namespace vz::nm {

using Bytes     = std::vector<uint8_t>;
using StringMap = std::map<std::string, std::string>;

// One entry of ipv4.address-data (aa{sv}: "address" s, "prefix" u).
struct AddressData {
    std::string address;
    uint32_t    prefix                                 = 0;
    auto        operator<=>(const AddressData &) const = default;
};

// std::monostate stands for a value of a type none of our keys has; it is
// never equal to anything, so such a key is always written again.
using Value    = std::variant<std::monostate, bool, int32_t, uint32_t, int64_t, std::string, Bytes,
                           std::vector<uint32_t>, std::vector<std::string>,
                           std::vector<AddressData>, StringMap>;
using Setting  = std::map<std::string, Value>;
using Settings = std::map<std::string, Setting>;

// Setting names.
inline constexpr const char *kConnectionSetting = "connection";
inline constexpr const char *kEthernetSetting   = "802-3-ethernet";
inline constexpr const char *kWirelessSetting   = "802-11-wireless";
inline constexpr const char *kPPPoESetting      = "pppoe";
inline constexpr const char *kGSMSetting        = "gsm";
inline constexpr const char *kIPv4Setting       = "ipv4";
inline constexpr const char *kIPv6Setting       = "ipv6";
inline constexpr const char *kUserSetting       = "user";

// Keys.
inline constexpr const char *kIdKey                  = "id";
inline constexpr const char *kUUIDKey                = "uuid";
inline constexpr const char *kTypeKey                = "type";
inline constexpr const char *kAutoconnectKey         = "autoconnect";
inline constexpr const char *kAutoconnectPriorityKey = "autoconnect-priority";
inline constexpr const char *kInterfaceNameKey       = "interface-name";
inline constexpr const char *kMACAddressKey          = "mac-address";
inline constexpr const char *kSSIDKey                = "ssid";
inline constexpr const char *kModeKey                = "mode";
inline constexpr const char *kUsernameKey            = "username";
inline constexpr const char *kPasswordKey            = "password";
inline constexpr const char *kPasswordFlagsKey       = "password-flags";
inline constexpr const char *kParentKey              = "parent";
inline constexpr const char *kAPNKey                 = "apn";
inline constexpr const char *kMethodKey              = "method";
inline constexpr const char *kAddressDataKey         = "address-data";
inline constexpr const char *kAddressKey             = "address"; // in address-data
inline constexpr const char *kPrefixKey              = "prefix";  // in address-data
inline constexpr const char *kGatewayKey             = "gateway";
inline constexpr const char *kDNSKey                 = "dns";
inline constexpr const char *kDNSSearchKey           = "dns-search";
inline constexpr const char *kIgnoreAutoDNSKey       = "ignore-auto-dns";
inline constexpr const char *kRouteMetricKey         = "route-metric";
inline constexpr const char *kDataKey                = "data";

// Values.
inline constexpr const char *kMethodAuto             = "auto";
inline constexpr const char *kMethodManual           = "manual";
inline constexpr const char *kMethodDisabled         = "disabled";
inline constexpr const char *kWirelessModeDefault    = "infrastructure";
inline constexpr uint32_t    kPasswordFlagsNone      = 0; // NetworkManager keeps the secret
inline constexpr int64_t     kRouteMetricDefault     = -1;
inline constexpr int32_t     kAutoconnectPriorityMax = 999;
inline constexpr int32_t     kAutoconnectPriorityMin = -999;

// Our mark, in the user setting's data: a profile holding both is ours.
inline constexpr const char *kServiceMark  = "org.vavivaz.service";
inline constexpr const char *kLocationMark = "org.vavivaz.location";

// The settings whose password NetworkManager keeps as a secret: they never
// come back with the settings, only from GetSecrets.
inline constexpr const char *kSecretSettings[] = {kPPPoESetting, kGSMSetting};

// A value of settings, or nullptr.
const Value *findValue(const Settings &settings, const char *setting, const char *key) noexcept;
// The text at setting.key, or empty when there is none (or not text).
std::string textValue(const Settings &settings, const char *setting, const char *key);

// The marks of a profile: true with both IDs when it is ours.
bool readMark(const Settings &settings, std::string *serviceID, std::string *locationID);

// Whether NetworkManager, given desired, would hold a profile that differs
// from existing in a key we own (existing with its secrets merged in).
bool sameProfile(const Settings &desired, const Settings &existing);

} // namespace vz::nm

#endif
