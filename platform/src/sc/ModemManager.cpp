// ModemManager.cpp: finding the modem of a name, its status, connecting and
// disconnecting, over the system bus.
#include "ModemManager.h"

#include <vector>

namespace vz::mm {

namespace {

constexpr std::string_view kService         = "org.freedesktop.ModemManager1";
constexpr std::string_view kManagerPath     = "/org/freedesktop/ModemManager1";
constexpr std::string_view kModemInterface  = "org.freedesktop.ModemManager1.Modem";
constexpr std::string_view kBearerInterface = "org.freedesktop.ModemManager1.Bearer";
constexpr std::string_view kSimpleInterface = "org.freedesktop.ModemManager1.Modem.Simple";
constexpr const char      *kAllBearers      = "/";

using bus::PropertyMap;
using bus::Value;

bool holdsPort(const PropertyMap &modem, std::string_view name)
{
    if (auto ports = bus::property(modem, "Ports", &Value::asStringUInt32Pairs))
        for (const auto &port : *ports)
            if (port.first == name) return true;
    const std::string *primary = bus::property(modem, "PrimaryPort", &Value::asString);
    return primary != nullptr && *primary == name;
}

SCNetworkConnectionStatus statusOfState(const PropertyMap &modem)
{
    std::optional<int32_t> state = bus::property(modem, "State", &Value::asInt32);
    if (!state || *state < kStateFailed || *state > kStateConnected)
        return kSCNetworkConnectionInvalid;
    switch (*state) {
    case kStateConnected:
        return kSCNetworkConnectionConnected;
    case kStateConnecting:
        return kSCNetworkConnectionConnecting;
    case kStateDisconnecting:
        return kSCNetworkConnectionDisconnecting;
    default:
        return kSCNetworkConnectionDisconnected;
    }
}

struct Bearer {
    std::string path, interface;
    bool        connected = false;
};

bus::Result<std::vector<Bearer>> readBearers(const PropertyMap   &modem,
                                             const bus::Deadline &deadline)
{
    std::vector<Bearer> bearers;
    auto                paths = bus::property(modem, "Bearers", &Value::asObjectPaths);
    if (!paths) return bearers;
    for (const std::string &path : *paths) {
        auto properties = bus::getAllProperties(kService, path, kBearerInterface, deadline);
        if (!properties) {
            // Gone since the modem listed it (a disconnect removes bearers).
            if (properties.error().isObjectMissing()) continue;
            return properties.error();
        }
        Bearer bearer;
        bearer.path = path;
        if (const std::string *name = bus::property(*properties, "Interface", &Value::asString))
            bearer.interface = *name;
        bearer.connected =
            bus::property(*properties, "Connected", &Value::asBoolean).value_or(false);
        bearers.push_back(std::move(bearer));
    }
    return bearers;
}

// The modem's bearer on name, when it has one; a connected bearer there
// makes the name connected, whatever the modem's state says.
bus::Result<bool> readBearerOn(const PropertyMap &properties, std::string_view name, Modem *modem,
                               const bus::Deadline &deadline)
{
    auto bearers = readBearers(properties, deadline);
    if (!bearers) return bearers.error();
    bool found = false;
    for (const Bearer &bearer : *bearers) {
        if (bearer.interface != name) continue;
        found = true;
        if (modem->bearerPath.empty() || bearer.connected) modem->bearerPath = bearer.path;
        if (bearer.connected) modem->status = kSCNetworkConnectionConnected;
    }
    return found;
}

} // namespace

bus::Result<std::optional<Modem>> findModem(std::string_view name, const bus::Deadline &deadline)
{
    auto objects = bus::getManagedObjects(kService, kManagerPath, deadline);
    if (!objects) return objects.error();
    // In the order of their paths: of two modems that claim one name, the
    // first always answers.
    std::vector<std::pair<const std::string *, const PropertyMap *>> modems;
    for (const auto &[path, interfaces] : *objects)
        if (auto modem = interfaces.find(std::string(kModemInterface)); modem != interfaces.end())
            modems.emplace_back(&path, &modem->second);

    for (const auto &[path, properties] : modems) {
        if (!holdsPort(*properties, name)) continue;
        Modem modem{*path, "", statusOfState(*properties)};
        // A connected modem is connected on every port: no bearer can say
        // more.
        if (modem.status != kSCNetworkConnectionConnected) {
            auto bearer = readBearerOn(*properties, name, &modem, deadline);
            if (!bearer) return bearer.error();
        }
        return std::optional<Modem>(std::move(modem));
    }
    // A network interface that no modem lists as a port: a bearer's.
    for (const auto &[path, properties] : modems) {
        Modem modem{*path, "", statusOfState(*properties)};
        auto  bearer = readBearerOn(*properties, name, &modem, deadline);
        if (!bearer) return bearer.error();
        if (*bearer) return std::optional<Modem>(std::move(modem));
    }
    return std::optional<Modem>();
}

bus::Result<std::string> connect(const std::string &modemPath, const ConnectSettings &settings,
                                 const bus::Deadline &deadline)
{
    std::vector<std::pair<std::string, Value>> properties;
    if (!settings.apn.empty()) properties.emplace_back("apn", Value::string(settings.apn));
    if (!settings.user.empty()) properties.emplace_back("user", Value::string(settings.user));
    if (!settings.password.empty())
        properties.emplace_back("password", Value::string(settings.password));
    auto reply = bus::callSystemBus({kService, modemPath, kSimpleInterface, "Connect"},
                                    {Value::propertyMap(std::move(properties))}, "o", deadline);
    if (!reply) return reply.error();
    return *reply->front().asObjectPath();
}

bus::Result<bool> disconnect(const std::string &modemPath, const std::string &bearerPath,
                             const bus::Deadline &deadline)
{
    auto reply = bus::callSystemBus(
        {kService, modemPath, kSimpleInterface, "Disconnect"},
        {Value::objectPath(bearerPath.empty() ? kAllBearers : bearerPath)}, "", deadline);
    if (!reply) return reply.error();
    return true;
}

} // namespace vz::mm
