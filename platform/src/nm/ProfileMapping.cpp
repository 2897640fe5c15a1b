// ProfileMapping.cpp: a service of the current set as a NetworkManager
// profile.
#include "ProfileMapping.h"

#include "Containers.h"
#include "StringStorage.h"
#include "UTF.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <arpa/inet.h>
#include <xxhash.h>

#include <algorithm>
#include <bit>
#include <cstdio>

namespace vz::nm {

namespace {

// The route metric of the first service in the order; each later one gets
// one more, so that the first service's routes win.
constexpr int64_t kFirstRouteMetric = 100;

// ---------------------------------------------------------------------------
// Reading the tree. What a store holds is input: a value of the wrong kind
// reads as absent.

CFTypeRef valueOf(CFDictionaryRef dict, CFStringRef key) noexcept
{
    return dict == nullptr ? nullptr : CFDictionaryGetValue(dict, key);
}

CFDictionaryRef dictionaryOf(CFDictionaryRef dict, CFStringRef key) noexcept
{
    CFTypeRef value = valueOf(dict, key);
    if (value == nullptr || CFGetTypeID(value) != CFDictionaryGetTypeID()) return nullptr;
    return static_cast<CFDictionaryRef>(value);
}

// Text for the bus, which carries no NUL: one would cut the text short, and
// the profile would never read back as it was written.
std::string busText(CFStringRef string)
{
    std::string text = toUTF8String(string);
    for (size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
        text.replace(at, 1, "\xEF\xBF\xBD");
    return text;
}

std::optional<std::string> textOf(CFDictionaryRef dict, CFStringRef key)
{
    CFTypeRef value = valueOf(dict, key);
    if (value == nullptr || CFGetTypeID(value) != CFStringGetTypeID()) return std::nullopt;
    return busText(static_cast<CFStringRef>(value));
}

bool textIs(CFDictionaryRef dict, CFStringRef key, CFStringRef text) noexcept
{
    CFTypeRef value = valueOf(dict, key);
    return value != nullptr && CFEqual(value, text);
}

// The texts of an array of strings; the entries that are not text are left out.
std::vector<std::string> textsOf(CFDictionaryRef dict, CFStringRef key)
{
    std::vector<std::string> texts;
    CFTypeRef                value = valueOf(dict, key);
    if (value == nullptr || CFGetTypeID(value) != CFArrayGetTypeID()) return texts;
    for (const void *entry : arrayValues(static_cast<CFArrayRef>(value)))
        if (CFGetTypeID(entry) == CFStringGetTypeID())
            texts.push_back(busText(static_cast<CFStringRef>(entry)));
    return texts;
}

bool flagOf(CFDictionaryRef dict, CFStringRef key) noexcept
{
    CFTypeRef value = valueOf(dict, key);
    if (value == nullptr || CFGetTypeID(value) != CFNumberGetTypeID()) return false;
    long long number = 0;
    return CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberLongLongType, &number) &&
           number != 0;
}

// An entity of the service that is there and not switched off.
CFDictionaryRef activeEntity(CFDictionaryRef service, CFStringRef protocol) noexcept
{
    CFDictionaryRef entity = dictionaryOf(service, protocol);
    if (entity == nullptr || CFDictionaryContainsKey(entity, kSCResvInactive)) return nullptr;
    return entity;
}

// The password of a PPP entity as text: stored as the UTF-16 code units of
// the host's byte order (or, in older stores, as a string). nullopt when the
// bytes cannot be text.
std::optional<std::string> passwordOf(CFDictionaryRef ppp)
{
    CFTypeRef value = valueOf(ppp, kSCPropNetPPPAuthPassword);
    if (value == nullptr) return std::string();
    if (CFGetTypeID(value) == CFStringGetTypeID()) {
        std::string text = toUTF8String(static_cast<CFStringRef>(value));
        if (text.find('\0') != std::string::npos) return std::nullopt;
        return text;
    }
    if (CFGetTypeID(value) != CFDataGetTypeID()) return std::nullopt;
    auto    data   = static_cast<CFDataRef>(value);
    CFIndex length = CFDataGetLength(data);
    if (length % 2 != 0) return std::nullopt;
    std::u16string units(static_cast<size_t>(length / 2), u'\0');
    std::copy_n(CFDataGetBytePtr(data), length, reinterpret_cast<uint8_t *>(units.data()));
    std::string text;
    for (size_t i = 0; i < units.size();) {
        char32_t c = nextUTF16(units.data(), i, units.size());
        // A lone surrogate has no UTF-8 form and the bus carries no NUL; a
        // stand-in would give NetworkManager a password that is not the one
        // stored.
        if (c == 0 || isSurrogate(c)) return std::nullopt;
        char bytes[4];
        text.append(bytes, encodeUTF8(c, bytes));
    }
    return text;
}

std::optional<in_addr> parseIPv4(const std::string &text) noexcept
{
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) return std::nullopt;
    return address;
}

// The prefix length of a subnet mask; nullopt for one whose bits are not
// contiguous.
std::optional<uint32_t> prefixOf(const std::string &mask) noexcept
{
    std::optional<in_addr> address = parseIPv4(mask);
    if (!address) return std::nullopt;
    uint32_t bits   = ntohl(address->s_addr);
    uint32_t prefix = static_cast<uint32_t>(std::countl_one(bits));
    if (prefix < 32 && (bits << prefix) != 0) return std::nullopt;
    return prefix;
}

// ---------------------------------------------------------------------------
// One service.

class ServiceMapper {
  public:
    ServiceMapper(const PortFacts &ports, Mapping *mapping) : ports_(ports), mapping_(mapping) {}

    void map(CFDictionaryRef service, const std::string &serviceID, size_t position);

  private:
    void skip(const char *item, std::string value = std::string())
    {
        mapping_->notCarried.push_back({serviceID_, name_, item, std::move(value)});
    }
    // The link of the service: its connection type, false when none fits.
    bool                       mapPort(CFDictionaryRef service, Settings *settings);
    void                       mapIPv4(CFDictionaryRef service, Settings *settings);
    void                       mapIPv6(CFDictionaryRef service, Settings *settings);
    void                       mapProxies(CFDictionaryRef service);
    std::optional<std::string> secretOf(CFDictionaryRef ppp);

    const PortFacts &ports_;
    Mapping         *mapping_;
    std::string      serviceID_, name_;
};

// The password to give NetworkManager, or nullopt (said not carried) when
// there is one this process cannot read: bytes that are not text, or a
// marker in place of the password, left by a reader that may not see the
// store's secrets. The profile then holds no password, and the plan keeps
// the one NetworkManager has; an empty one would replace it.
std::optional<std::string> ServiceMapper::secretOf(CFDictionaryRef ppp)
{
    std::optional<std::string> password;
    if (valueOf(ppp, kSCPropNetPPPAuthPassword) != nullptr ||
        valueOf(ppp, kVZPropNetPPPAuthPasswordSecret) == nullptr)
        password = passwordOf(ppp);
    if (!password) skip(kItemPassword);
    return password;
}

bool ServiceMapper::mapPort(CFDictionaryRef service, Settings *settings)
{
    CFDictionaryRef            interface  = dictionaryOf(service, kSCEntNetInterface);
    std::optional<std::string> device     = textOf(interface, kSCPropNetInterfaceDeviceName);
    Setting                   &connection = (*settings)[kConnectionSetting];
    if (!device || device->empty()) {
        skip(kItemOtherPort);
        return false;
    }
    CFDictionaryRef ppp = dictionaryOf(service, kSCEntNetPPP);
    if (textIs(interface, kSCPropNetInterfaceType, kSCValNetInterfaceTypePPP)) {
        if (textIs(interface, kSCPropNetInterfaceSubType, kSCValNetInterfaceSubTypePPPoE)) {
            connection[kTypeKey] = std::string(kPPPoESetting);
            Setting &pppoe       = (*settings)[kPPPoESetting];
            pppoe[kParentKey]    = *device;
            pppoe[kUsernameKey]  = textOf(ppp, kSCPropNetPPPAuthName).value_or("");
            if (std::optional<std::string> password = secretOf(ppp))
                pppoe[kPasswordKey] = *password;
            pppoe[kPasswordFlagsKey] = kPasswordFlagsNone;
            return true;
        }
        if (!ports_.isManagedModem(*device)) {
            skip(kItemSerialPort);
            return false;
        }
        connection[kTypeKey] = std::string(kGSMSetting);
        Setting &gsm         = (*settings)[kGSMSetting];
        gsm[kAPNKey]         = textOf(ppp, kVZPropNetPPPAccessPointName).value_or("");
        gsm[kUsernameKey]    = textOf(ppp, kSCPropNetPPPAuthName).value_or("");
        if (std::optional<std::string> password = secretOf(ppp)) gsm[kPasswordKey] = *password;
        gsm[kPasswordFlagsKey] = kPasswordFlagsNone;
        if (!textOf(ppp, kSCPropNetPPPCommRemoteAddress).value_or("").empty())
            skip(kItemPhoneNumber);
        return true;
    }
    if (textIs(interface, kSCPropNetInterfaceType, kSCValNetInterfaceTypeFireWire) ||
        textIs(interface, kSCPropNetInterfaceHardware, kSCValNetInterfaceTypeFireWire)) {
        skip(kItemFireWirePort);
        return false;
    }
    if (!textIs(interface, kSCPropNetInterfaceType, kSCValNetInterfaceTypeEthernet)) {
        skip(kItemOtherPort);
        return false;
    }
    connection[kInterfaceNameKey] = *device;
    if (textIs(interface, kSCPropNetInterfaceHardware, kSCEntNetAirPort)) {
        std::string network =
            textOf(dictionaryOf(service, kSCEntNetAirPort), kSCPropNetAirPortPreferredNetwork)
                .value_or("");
        if (network.empty()) {
            skip(kItemNetworkName);
            return false;
        }
        connection[kTypeKey] = std::string(kWirelessSetting);
        Setting &wireless    = (*settings)[kWirelessSetting];
        wireless[kSSIDKey]   = Bytes(network.begin(), network.end());
        wireless[kModeKey]   = std::string(kWirelessModeDefault);
        return true;
    }
    connection[kTypeKey] = std::string(kEthernetSetting);
    Setting &ethernet    = (*settings)[kEthernetSetting];
    if (std::optional<Bytes> mac = ports_.macAddress(*device)) ethernet[kMACAddressKey] = *mac;
    return true;
}

void ServiceMapper::mapIPv4(CFDictionaryRef service, Settings *settings)
{
    Setting        &ipv4   = (*settings)[kIPv4Setting];
    CFDictionaryRef entity = activeEntity(service, kSCEntNetIPv4);
    std::string     method = textOf(entity, kSCPropNetIPv4ConfigMethod).value_or("");
    ipv4[kMethodKey]       = std::string(kMethodDisabled);
    if (entity == nullptr) {
        // Switched off or missing: nothing of it is meant to run.
    } else if (method == "DHCP" || method == "BOOTP" || method == "PPP") {
        ipv4[kMethodKey] = std::string(kMethodAuto);
    } else if (method == "Manual" || method == "INFORM") {
        std::vector<std::string> addresses = textsOf(entity, kSCPropNetIPv4Addresses);
        std::vector<std::string> masks     = textsOf(entity, kSCPropNetIPv4SubnetMasks);
        std::vector<AddressData> data;
        for (size_t i = 0; i < addresses.size(); i++) {
            if (!parseIPv4(addresses[i])) {
                skip(kItemIPv4Address, addresses[i]);
                continue;
            }
            std::optional<uint32_t> prefix = i < masks.size() ? prefixOf(masks[i]) : std::nullopt;
            if (!prefix) {
                // Without its mask the address is still the host's own; a
                // host route is all that can be said of it.
                skip(kItemSubnetMask, i < masks.size() ? masks[i] : std::string());
                prefix = 32;
            }
            data.push_back({addresses[i], *prefix});
        }
        if (!data.empty()) {
            ipv4[kMethodKey]      = std::string(kMethodManual);
            ipv4[kAddressDataKey] = std::move(data);
            if (std::optional<std::string> router = textOf(entity, kSCPropNetIPv4Router)) {
                if (parseIPv4(*router))
                    ipv4[kGatewayKey] = *router;
                else
                    skip(kItemRouter, *router);
            }
            if (method == "INFORM") skip(kItemDHCPInform);
        } else {
            // Without an address the profile runs no IPv4 at all, and what
            // the setting holds besides is not carried either.
            skip(kItemNoAddress, method);
            if (std::optional<std::string> router = textOf(entity, kSCPropNetIPv4Router))
                skip(kItemRouter, *router);
        }
    } else {
        skip(kItemIPv4Method, method);
    }

    CFDictionaryRef dns     = activeEntity(service, kSCEntNetDNS);
    auto            servers = textsOf(dns, kSCPropNetDNSServerAddresses);
    auto            search  = textsOf(dns, kSCPropNetDNSSearchDomains);
    if (std::get<std::string>(ipv4[kMethodKey]) == kMethodDisabled) {
        // NetworkManager refuses DNS settings on a profile without IPv4.
        if (!servers.empty()) skip(kItemDNSServers);
        if (!search.empty()) skip(kItemSearchDomains);
        return;
    }
    std::vector<uint32_t> carried;
    for (const std::string &server : servers) {
        if (std::optional<in_addr> address = parseIPv4(server))
            carried.push_back(address->s_addr); // network byte order, as NetworkManager wants
        else
            skip(kItemDNSServer, server);
    }
    if (!carried.empty()) {
        ipv4[kDNSKey]           = std::move(carried);
        ipv4[kIgnoreAutoDNSKey] = true;
    }
    if (!search.empty()) ipv4[kDNSSearchKey] = std::move(search);
}

void ServiceMapper::mapIPv6(CFDictionaryRef service, Settings *settings)
{
    Setting        &ipv6   = (*settings)[kIPv6Setting];
    CFDictionaryRef entity = activeEntity(service, kSCEntNetIPv6);
    if (entity == nullptr) {
        ipv6[kMethodKey] = std::string(kMethodDisabled);
        return;
    }
    ipv6[kMethodKey]   = std::string(kMethodAuto);
    std::string method = textOf(entity, kSCPropNetIPv6ConfigMethod).value_or("");
    // Any other method keeps IPv6 on, the closest NetworkManager can come.
    if (method != "Automatic") skip(kItemIPv6Method, method);
}

void ServiceMapper::mapProxies(CFDictionaryRef service)
{
    static const struct {
        const char *kind;
        CFStringRef enable;
    } kProxies[] = {
        {"FTP", kSCPropNetProxiesFTPEnable},   {"Gopher", kSCPropNetProxiesGopherEnable},
        {"HTTP", kSCPropNetProxiesHTTPEnable}, {"HTTPS", kSCPropNetProxiesHTTPSEnable},
        {"RTSP", kSCPropNetProxiesRTSPEnable}, {"SOCKS", kSCPropNetProxiesSOCKSEnable},
    };
    CFDictionaryRef proxies = activeEntity(service, kSCEntNetProxies);
    for (const auto &proxy : kProxies)
        if (flagOf(proxies, proxy.enable)) skip(kItemProxy, proxy.kind);
}

void ServiceMapper::map(CFDictionaryRef service, const std::string &serviceID, size_t position)
{
    serviceID_ = serviceID;
    name_      = textOf(service, kSCPropUserDefinedName)
                .value_or(
                    textOf(dictionaryOf(service, kSCEntNetInterface), kSCPropNetInterfaceDeviceName)
                        .value_or(serviceID));
    Settings settings;
    if (mapPort(service, &settings)) {
        Setting &connection                 = settings[kConnectionSetting];
        connection[kIdKey]                  = name_;
        connection[kUUIDKey]                = profileUUID(mapping_->locationID, serviceID);
        connection[kAutoconnectKey]         = true;
        auto rank                           = static_cast<int64_t>(position);
        connection[kAutoconnectPriorityKey] = static_cast<int32_t>(
            std::max<int64_t>(kAutoconnectPriorityMin, kAutoconnectPriorityMax - rank));
        mapIPv4(service, &settings);
        mapIPv6(service, &settings);
        settings[kIPv4Setting][kRouteMetricKey] = kFirstRouteMetric + rank;
        settings[kIPv6Setting][kRouteMetricKey] = kFirstRouteMetric + rank;
        settings[kUserSetting][kDataKey] =
            StringMap{{kServiceMark, serviceID}, {kLocationMark, mapping_->locationID}};
        mapping_->profiles.push_back({serviceID, std::move(settings)});
    }
    mapProxies(service);
}

// A path of the store, "prefix/component...".
CFRef<CFStringRef> pathOf(CFStringRef prefix, std::initializer_list<CFStringRef> components)
{
    CFRef<CFStringRef> path = CFRef<CFStringRef>::retain(prefix);
    for (CFStringRef component : components) {
        path.reset(
            CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@/%@"), path.get(), component));
        if (!path) throw std::bad_alloc();
    }
    return path;
}

// The set's services: those of its service order first, in that order, then
// any the order leaves out, as the set lists them.
std::vector<CFStringRef> servicesInOrder(CFDictionaryRef global, CFDictionaryRef services)
{
    std::vector<CFStringRef> ids;
    if (services == nullptr) return ids; // a set without services
    auto listed = [&](CFTypeRef id) {
        return std::find_if(ids.begin(), ids.end(),
                            [&](CFStringRef seen) { return CFEqual(seen, id); }) != ids.end();
    };
    CFTypeRef order = valueOf(dictionaryOf(global, kSCEntNetIPv4), kSCPropNetServiceOrder);
    if (order != nullptr && CFGetTypeID(order) == CFArrayGetTypeID())
        for (const void *id : arrayValues(static_cast<CFArrayRef>(order)))
            if (CFGetTypeID(id) == CFStringGetTypeID() && CFDictionaryContainsKey(services, id) &&
                !listed(id))
                ids.push_back(static_cast<CFStringRef>(id));
    for (const DictionaryEntry &entry : dictionaryEntries(services))
        if (CFGetTypeID(entry.key) == CFStringGetTypeID() && !listed(entry.key))
            ids.push_back(static_cast<CFStringRef>(entry.key));
    return ids;
}

} // namespace

std::string profileUUID(std::string_view setID, std::string_view serviceID)
{
    std::string key(setID);
    key.push_back('\0');
    key.append(serviceID);
    XXH128_hash_t hash = XXH3_128bits(key.data(), key.size());
    // Version 8 (a UUID laid out by its maker) and the standard variant.
    uint64_t high = (hash.high64 & ~0xF000ULL) | 0x8000ULL;
    uint64_t low  = (hash.low64 & ~(0x3ULL << 62)) | (0x2ULL << 62);
    char     text[37];
    std::snprintf(text, sizeof text, "%08llx-%04llx-%04llx-%04llx-%012llx",
                  static_cast<unsigned long long>(high >> 32),
                  static_cast<unsigned long long>((high >> 16) & 0xFFFF),
                  static_cast<unsigned long long>(high & 0xFFFF),
                  static_cast<unsigned long long>(low >> 48),
                  static_cast<unsigned long long>(low & 0xFFFFFFFFFFFFULL));
    return text;
}

int mapCurrentSet(SCPreferencesRef prefs, const PortFacts &ports, Mapping *mapping)
{
    Mapping   result;
    CFTypeRef current = SCPreferencesGetValue(prefs, kSCPrefCurrentSet);
    if (current != nullptr && CFGetTypeID(current) != CFStringGetTypeID()) return kSCStatusFailed;
    auto setPath = static_cast<CFStringRef>(current);
    // No current set, or one that names no set, runs nothing (as the dynamic
    // store sees it too): every profile of ours goes.
    if (setPath != nullptr && SCPreferencesPathGetValue(prefs, setPath) != nullptr) {
        // The set's ID is the last key of its path ("/Sets/ID").
        std::string path = busText(setPath);
        while (!path.empty() && path.back() == '/')
            path.pop_back();
        result.locationID               = path.substr(path.rfind('/') + 1);
        CFRef<CFStringRef> servicesPath = pathOf(setPath, {kSCCompNetwork, kSCCompService});
        CFRef<CFStringRef> globalPath   = pathOf(setPath, {kSCCompNetwork, kSCCompGlobal});
        CFDictionaryRef    services     = SCPreferencesPathGetValue(prefs, servicesPath.get());
        ServiceMapper      mapper(ports, &result);
        size_t             position = 0;
        for (CFStringRef id :
             servicesInOrder(SCPreferencesPathGetValue(prefs, globalPath.get()), services)) {
            // Read through the set's link, as every reader of a service does.
            CFDictionaryRef service =
                SCPreferencesPathGetValue(prefs, pathOf(servicesPath.get(), {id}).get());
            if (service != nullptr && !CFDictionaryContainsKey(service, kSCResvInactive))
                mapper.map(service, busText(id), position);
            position++;
        }
    }
    *mapping = std::move(result);
    return kSCStatusOK;
}

std::string describe(const NotCarried &item)
{
    const std::string &name = item.serviceName;
    const std::string &what = item.item;
    if (what == kItemProxy) return "the " + item.value + " proxy of " + name;
    if (what == kItemPhoneNumber) return "the phone number of " + name;
    if (what == kItemSerialPort) return name + " (a serial port)";
    if (what == kItemFireWirePort) return name + " (a FireWire port)";
    if (what == kItemOtherPort) return name + " (no port NetworkManager can use)";
    if (what == kItemNetworkName) return name + " (no wireless network chosen)";
    if (what == kItemDNSServers) return "the DNS servers of " + name + " (IPv4 is off)";
    if (what == kItemSearchDomains) return "the search domains of " + name + " (IPv4 is off)";
    if (what == kItemDHCPInform) return "what DHCP adds to the address of " + name;
    if (what == kItemIPv4Method) return "the IPv4 method \"" + item.value + "\" of " + name;
    if (what == kItemIPv6Method) return "the IPv6 method \"" + item.value + "\" of " + name;
    if (what == kItemIPv4Address) return "the IPv4 address \"" + item.value + "\" of " + name;
    if (what == kItemNoAddress)
        return "the IPv4 method \"" + item.value + "\" of " + name + " (no usable address)";
    if (what == kItemSubnetMask) return "the subnet mask \"" + item.value + "\" of " + name;
    if (what == kItemRouter) return "the router \"" + item.value + "\" of " + name;
    if (what == kItemDNSServer) return "the DNS server \"" + item.value + "\" of " + name;
    if (what == kItemPassword) return "the password of " + name;
    return what + " of " + name;
}

} // namespace vz::nm
