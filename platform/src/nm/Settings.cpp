// Settings.cpp: the keys we own in a profile and the comparison of two
// profiles over them.
#include "Settings.h"

namespace vz::nm {

namespace {

// What NetworkManager assumes for an absent key.
enum class DefaultKind {
    Empty,          // the empty value of the other side's type: "", 0, false, []
    True,           // connection.autoconnect
    NoRouteMetric,  // route-metric: -1, NetworkManager chooses
    Infrastructure, // 802-11-wireless.mode
};

struct OwnedKey {
    const char *setting;
    const char *key;
    DefaultKind absent;
};

// Every key a profile of ours may hold. A key not listed is not ours: it is
// neither compared nor kept by an update.
constexpr OwnedKey kOwnedKeys[] = {
    {kConnectionSetting, kIdKey, DefaultKind::Empty},
    {kConnectionSetting, kUUIDKey, DefaultKind::Empty},
    {kConnectionSetting, kTypeKey, DefaultKind::Empty},
    {kConnectionSetting, kAutoconnectKey, DefaultKind::True},
    {kConnectionSetting, kAutoconnectPriorityKey, DefaultKind::Empty},
    {kConnectionSetting, kInterfaceNameKey, DefaultKind::Empty},
    {kEthernetSetting, kMACAddressKey, DefaultKind::Empty},
    {kWirelessSetting, kSSIDKey, DefaultKind::Empty},
    {kWirelessSetting, kModeKey, DefaultKind::Infrastructure},
    {kPPPoESetting, kUsernameKey, DefaultKind::Empty},
    {kPPPoESetting, kPasswordKey, DefaultKind::Empty},
    {kPPPoESetting, kPasswordFlagsKey, DefaultKind::Empty},
    {kPPPoESetting, kParentKey, DefaultKind::Empty},
    {kGSMSetting, kAPNKey, DefaultKind::Empty},
    {kGSMSetting, kUsernameKey, DefaultKind::Empty},
    {kGSMSetting, kPasswordKey, DefaultKind::Empty},
    {kGSMSetting, kPasswordFlagsKey, DefaultKind::Empty},
    {kIPv4Setting, kMethodKey, DefaultKind::Empty},
    {kIPv4Setting, kAddressDataKey, DefaultKind::Empty},
    {kIPv4Setting, kGatewayKey, DefaultKind::Empty},
    {kIPv4Setting, kDNSKey, DefaultKind::Empty},
    {kIPv4Setting, kDNSSearchKey, DefaultKind::Empty},
    {kIPv4Setting, kIgnoreAutoDNSKey, DefaultKind::Empty},
    {kIPv4Setting, kRouteMetricKey, DefaultKind::NoRouteMetric},
    {kIPv6Setting, kMethodKey, DefaultKind::Empty},
    {kIPv6Setting, kRouteMetricKey, DefaultKind::NoRouteMetric},
    {kUserSetting, kDataKey, DefaultKind::Empty},
};

Value defaultFor(DefaultKind kind, const Value &other)
{
    switch (kind) {
    case DefaultKind::True:
        return true;
    case DefaultKind::NoRouteMetric:
        return kRouteMetricDefault;
    case DefaultKind::Infrastructure:
        return std::string(kWirelessModeDefault);
    case DefaultKind::Empty:
        break;
    }
    return std::visit([](const auto &value) -> Value { return std::decay_t<decltype(value)>{}; },
                      other);
}

bool sameValue(const Value *a, const Value *b, DefaultKind absent)
{
    if (a == nullptr && b == nullptr) return true;
    if (a == nullptr) return sameValue(b, a, absent);
    if (std::holds_alternative<std::monostate>(*a)) return false;
    if (b == nullptr) return *a == defaultFor(absent, *a);
    return *a == *b;
}

} // namespace

const Value *findValue(const Settings &settings, const char *setting, const char *key) noexcept
{
    auto group = settings.find(setting);
    if (group == settings.end()) return nullptr;
    auto value = group->second.find(key);
    return value == group->second.end() ? nullptr : &value->second;
}

std::string textValue(const Settings &settings, const char *setting, const char *key)
{
    const Value *value = findValue(settings, setting, key);
    if (value == nullptr || !std::holds_alternative<std::string>(*value)) return {};
    return std::get<std::string>(*value);
}

bool readMark(const Settings &settings, std::string *serviceID, std::string *locationID)
{
    const Value *data = findValue(settings, kUserSetting, kDataKey);
    if (data == nullptr || !std::holds_alternative<StringMap>(*data)) return false;
    const StringMap &marks    = std::get<StringMap>(*data);
    auto             service  = marks.find(kServiceMark);
    auto             location = marks.find(kLocationMark);
    if (service == marks.end() || location == marks.end()) return false;
    *serviceID  = service->second;
    *locationID = location->second;
    return true;
}

bool sameProfile(const Settings &desired, const Settings &existing)
{
    for (const OwnedKey &owned : kOwnedKeys)
        if (!sameValue(findValue(desired, owned.setting, owned.key),
                       findValue(existing, owned.setting, owned.key), owned.absent))
            return false;
    return true;
}

} // namespace vz::nm
