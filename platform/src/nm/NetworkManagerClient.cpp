// NetworkManagerClient.cpp: NetworkManager's profile calls, and settings in
// the bus's types.
#include "NetworkManagerClient.h"

namespace vz::nm {

namespace {

constexpr std::string_view kManagerPath       = "/org/freedesktop/NetworkManager";
constexpr std::string_view kManagerInterface  = "org.freedesktop.NetworkManager";
constexpr std::string_view kSettingsPath      = "/org/freedesktop/NetworkManager/Settings";
constexpr std::string_view kSettingsInterface = "org.freedesktop.NetworkManager.Settings";
constexpr std::string_view kProfileInterface = "org.freedesktop.NetworkManager.Settings.Connection";
constexpr std::string_view kActiveInterface  = "org.freedesktop.NetworkManager.Connection.Active";
constexpr std::string_view kSettingsSignature = "a{sa{sv}}";
// AddConnection2 and Update2: keep the profile on disk, so that the machine
// starts with it before anything of ours runs.
constexpr uint32_t kToDisk = 0x1;

bus::Value toBus(const Value &value)
{
    struct Visitor {
        bus::Value operator()(std::monostate) const { return bus::Value(); }
        bus::Value operator()(bool b) const { return bus::Value::boolean(b); }
        bus::Value operator()(int32_t i) const { return bus::Value::int32(i); }
        bus::Value operator()(uint32_t u) const { return bus::Value::uint32(u); }
        bus::Value operator()(int64_t x) const { return bus::Value::int64(x); }
        bus::Value operator()(const std::string &s) const { return bus::Value::string(s); }
        bus::Value operator()(const Bytes &bytes) const
        {
            std::vector<bus::Value> items;
            for (uint8_t byte : bytes)
                items.push_back(bus::Value::byte(byte));
            return bus::Value::array("y", std::move(items));
        }
        bus::Value operator()(const std::vector<uint32_t> &numbers) const
        {
            std::vector<bus::Value> items;
            for (uint32_t number : numbers)
                items.push_back(bus::Value::uint32(number));
            return bus::Value::array("u", std::move(items));
        }
        bus::Value operator()(const std::vector<std::string> &texts) const
        {
            std::vector<bus::Value> items;
            for (const std::string &text : texts)
                items.push_back(bus::Value::string(text));
            return bus::Value::array("s", std::move(items));
        }
        bus::Value operator()(const std::vector<AddressData> &data) const
        {
            std::vector<bus::Value> items;
            for (const AddressData &entry : data)
                items.push_back(
                    bus::Value::propertyMap({{kAddressKey, bus::Value::string(entry.address)},
                                             {kPrefixKey, bus::Value::uint32(entry.prefix)}}));
            return bus::Value::array("a{sv}", std::move(items));
        }
        bus::Value operator()(const StringMap &map) const
        {
            std::vector<bus::Value> items;
            for (const auto &[key, text] : map)
                items.push_back(
                    bus::Value::entry(bus::Value::string(key), bus::Value::string(text)));
            return bus::Value::array("{ss}", std::move(items));
        }
    };
    return std::visit(Visitor{}, value);
}

Value fromBus(const bus::Value &value)
{
    const std::string &signature = value.signature();
    if (signature == "b") return *value.asBoolean();
    if (signature == "i") return *value.asInt32();
    if (signature == "u") return *value.asUInt32();
    if (signature == "x") return *value.asInt64();
    if (signature == "s") return *value.asString();
    if (signature == "ay") return *value.asBytes();
    if (signature == "as") return *value.asStrings();
    if (signature == "au") {
        std::vector<uint32_t> numbers;
        for (const bus::Value &item : value.items())
            numbers.push_back(*item.asUInt32());
        return numbers;
    }
    if (signature == "aa{sv}") {
        std::vector<AddressData> data;
        for (const bus::Value &item : value.items()) {
            std::optional<bus::PropertyMap> entry   = bus::toPropertyMap(item);
            const std::string              *address = nullptr;
            std::optional<uint32_t>         prefix;
            if (entry) {
                address = bus::property(*entry, kAddressKey, &bus::Value::asString);
                prefix  = bus::property(*entry, kPrefixKey, &bus::Value::asUInt32);
            }
            if (address == nullptr || !prefix) return std::monostate{};
            data.push_back({*address, *prefix});
        }
        return data;
    }
    if (signature == "a{ss}") {
        StringMap map;
        for (const bus::Value &entry : value.items())
            map.emplace(*entry.items()[0].asString(), *entry.items()[1].asString());
        return map;
    }
    return std::monostate{};
}

} // namespace

bus::Value toBusValue(const Settings &settings)
{
    std::vector<bus::Value> groups;
    for (const auto &[name, setting] : settings) {
        std::vector<std::pair<std::string, bus::Value>> keys;
        for (const auto &[key, value] : setting)
            if (!std::holds_alternative<std::monostate>(value))
                keys.emplace_back(key, toBus(value));
        groups.push_back(
            bus::Value::entry(bus::Value::string(name), bus::Value::propertyMap(std::move(keys))));
    }
    return bus::Value::array("{sa{sv}}", std::move(groups));
}

std::optional<Settings> fromBusValue(const bus::Value &value)
{
    const std::vector<bus::Value> *groups = value.asArrayOf("{sa{sv}}");
    if (groups == nullptr) return std::nullopt;
    Settings settings;
    for (const bus::Value &group : *groups) {
        std::optional<bus::PropertyMap> keys = bus::toPropertyMap(group.items()[1]);
        if (!keys) return std::nullopt;
        Setting &setting = settings[*group.items()[0].asString()];
        for (const auto &[key, inner] : *keys)
            setting.emplace(key, fromBus(inner));
    }
    return settings;
}

bus::Result<bus::Body> NetworkManagerClient::call(std::string_view path, std::string_view interface,
                                                  std::string_view               member,
                                                  const std::vector<bus::Value> &arguments,
                                                  std::string_view               replySignature)
{
    return bus::callSystemBus({kNetworkManagerService, path, interface, member}, arguments,
                              replySignature, deadline_);
}

bus::Result<std::vector<std::string>> NetworkManagerClient::listProfiles()
{
    bus::Result<bus::Body> reply =
        call(kSettingsPath, kSettingsInterface, "ListConnections", {}, "ao");
    if (!reply) return reply.error();
    return *(*reply)[0].asObjectPaths();
}

bus::Result<Settings> NetworkManagerClient::readSettings(const std::string &path)
{
    bus::Result<bus::Body> reply =
        call(path, kProfileInterface, "GetSettings", {}, kSettingsSignature);
    if (!reply) return reply.error();
    std::optional<Settings> settings = fromBusValue((*reply)[0]);
    if (!settings) return bus::Error{EBADMSG, {}, "GetSettings: not a profile's settings"};
    return std::move(*settings);
}

bus::Result<bool> NetworkManagerClient::readSecrets(const std::string &path, const char *setting,
                                                    Settings *settings)
{
    bus::Result<bus::Body> reply = call(path, kProfileInterface, "GetSecrets",
                                        {bus::Value::string(setting)}, kSettingsSignature);
    if (!reply) return reply.error();
    std::optional<Settings> secrets = fromBusValue((*reply)[0]);
    if (!secrets) return bus::Error{EBADMSG, {}, "GetSecrets: not a profile's settings"};
    for (auto &group : *secrets)
        for (auto &entry : group.second)
            (*settings)[group.first][entry.first] = std::move(entry.second);
    return true;
}

bus::Result<std::string> NetworkManagerClient::addProfile(const Settings &settings)
{
    bus::Result<bus::Body> reply = call(
        kSettingsPath, kSettingsInterface, "AddConnection2",
        {toBusValue(settings), bus::Value::uint32(kToDisk), bus::Value::propertyMap({})}, "oa{sv}");
    if (!reply) return reply.error();
    return *(*reply)[0].asObjectPath();
}

bus::Result<bool> NetworkManagerClient::updateProfile(const std::string &path,
                                                      const Settings    &settings)
{
    bus::Result<bus::Body> reply = call(
        path, kProfileInterface, "Update2",
        {toBusValue(settings), bus::Value::uint32(kToDisk), bus::Value::propertyMap({})}, "a{sv}");
    if (!reply) return reply.error();
    return true;
}

bus::Result<bool> NetworkManagerClient::deleteProfile(const std::string &path)
{
    bus::Result<bus::Body> reply = call(path, kProfileInterface, "Delete", {}, "");
    if (!reply) return reply.error();
    return true;
}

bus::Result<std::vector<std::string>> NetworkManagerClient::activeProfiles()
{
    bus::Result<bus::Value> active = bus::getProperty(
        kNetworkManagerService, kManagerPath, kManagerInterface, "ActiveConnections", deadline_);
    if (!active) return active.error();
    std::optional<std::vector<std::string>> paths = active->asObjectPaths();
    if (!paths) return bus::Error{EBADMSG, {}, "ActiveConnections is not a list of objects"};
    std::vector<std::string> profiles;
    for (const std::string &path : *paths) {
        bus::Result<bus::Value> profile = bus::getProperty(
            kNetworkManagerService, path, kActiveInterface, "Connection", deadline_);
        // One that ended meanwhile is not active.
        if (!profile && profile.error().isObjectMissing()) continue;
        if (!profile) return profile.error();
        if (const std::string *object = profile->asObjectPath()) profiles.push_back(*object);
    }
    return profiles;
}

bus::Result<bool> NetworkManagerClient::activateProfile(const std::string &path)
{
    bus::Result<bus::Body> reply = call(
        kManagerPath, kManagerInterface, "ActivateConnection",
        {bus::Value::objectPath(path), bus::Value::objectPath("/"), bus::Value::objectPath("/")},
        "o");
    if (!reply) return reply.error();
    return true;
}

} // namespace vz::nm
