// NMProfileMappingTest.cpp: the profiles NetworkManager is given for the
// services of the current set, what is said not to be carried, and the plan
// that brings NetworkManager's profiles there.
#include "StoreTestSupport.h"

#include "Plan.h"
#include "ProfileMapping.h"

#include <arpa/inet.h>

#include <map>

using namespace vztest;
using namespace vz::nm;

namespace {

// The current set S1 holds one service per case below, in this order; S2
// only the Ethernet service.
const char *const kStore = R"(<dict>
	<key>CurrentSet</key><string>/Sets/S1</string>
	<key>NetworkServices</key><dict>
		<key>ETH</key><dict>
			<key>UserDefinedName</key><string>Ethernet</string>
			<key>Interface</key><dict><key>DeviceName</key><string>eth0</string>
				<key>Hardware</key><string>Ethernet</string><key>Type</key><string>Ethernet</string></dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>DHCP</string></dict>
			<key>IPv6</key><dict><key>ConfigMethod</key><string>Automatic</string></dict>
			<key>DNS</key><dict><key>ServerAddresses</key><array><string>192.0.2.53</string><string>2001:db8::1</string></array>
				<key>SearchDomains</key><array><string>example.org</string></array></dict>
			<key>Proxies</key><dict><key>HTTPEnable</key><integer>1</integer><key>FTPEnable</key><integer>0</integer></dict>
		</dict>
		<key>MAN</key><dict>
			<key>UserDefinedName</key><string>Office</string>
			<key>Interface</key><dict><key>DeviceName</key><string>eth1</string><key>Type</key><string>Ethernet</string></dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>INFORM</string>
				<key>Addresses</key><array><string>192.0.2.10</string><string>300.0.0.1</string><string>198.51.100.7</string></array>
				<key>SubnetMasks</key><array><string>255.255.255.0</string><string>255.0.0.0</string><string>255.0.255.0</string></array>
				<key>Router</key><string>192.0.2.1</string></dict>
		</dict>
		<key>OFF</key><dict>
			<key>UserDefinedName</key><string>Lab</string>
			<key>Interface</key><dict><key>DeviceName</key><string>eth2</string><key>Type</key><string>Ethernet</string></dict>
			<key>IPv4</key><dict><key>__INACTIVE__</key><integer>1</integer><key>ConfigMethod</key><string>DHCP</string></dict>
			<key>DNS</key><dict><key>ServerAddresses</key><array><string>192.0.2.53</string></array></dict>
		</dict>
		<key>WIFI</key><dict>
			<key>UserDefinedName</key><string>AirPort</string>
			<key>Interface</key><dict><key>DeviceName</key><string>wlan0</string>
				<key>Hardware</key><string>AirPort</string><key>Type</key><string>Ethernet</string></dict>
			<key>AirPort</key><dict><key>PreferredNetwork</key><string>Home</string></dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>DHCP</string></dict>
		</dict>
		<key>NONAME</key><dict>
			<key>UserDefinedName</key><string>Cafe</string>
			<key>Interface</key><dict><key>DeviceName</key><string>wlan0</string>
				<key>Hardware</key><string>AirPort</string><key>Type</key><string>Ethernet</string></dict>
		</dict>
		<key>PPPOE</key><dict>
			<key>UserDefinedName</key><string>DSL</string>
			<key>Interface</key><dict><key>DeviceName</key><string>eth0</string><key>Hardware</key><string>Ethernet</string>
				<key>Type</key><string>PPP</string><key>SubType</key><string>PPPoE</string></dict>
			<key>PPP</key><dict><key>AuthName</key><string>me</string><key>AuthPassword</key><data>cAB3AA==</data></dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>PPP</string></dict>
		</dict>
		<key>GSM</key><dict>
			<key>UserDefinedName</key><string>Mobile</string>
			<key>Interface</key><dict><key>DeviceName</key><string>ZORVEXMobile-Modem</string><key>Hardware</key><string>Modem</string>
				<key>Type</key><string>PPP</string><key>SubType</key><string>PPPSerial</string></dict>
			<key>PPP</key><dict><key>AuthName</key><string>web</string><key>AuthPassword</key><data>cAB3</data>
				<key>CommRemoteAddress</key><string>*99#</string>
				<key>VZAccessPointName</key><string>internet</string></dict>
			<key>IPv4</key><dict><key>ConfigMethod</key><string>PPP</string></dict>
		</dict>
		<key>SERIAL</key><dict>
			<key>UserDefinedName</key><string>Internal Modem</string>
			<key>Interface</key><dict><key>DeviceName</key><string>modem</string><key>Hardware</key><string>Modem</string>
				<key>Type</key><string>PPP</string><key>SubType</key><string>PPPSerial</string></dict>
		</dict>
		<key>FW</key><dict>
			<key>UserDefinedName</key><string>FireWire</string>
			<key>Interface</key><dict><key>DeviceName</key><string>fw0</string><key>Type</key><string>FireWire</string></dict>
		</dict>
		<key>INACTIVE</key><dict>
			<key>__INACTIVE__</key><integer>1</integer>
			<key>UserDefinedName</key><string>Spare</string>
			<key>Interface</key><dict><key>DeviceName</key><string>eth3</string><key>Type</key><string>Ethernet</string></dict>
			<key>Proxies</key><dict><key>HTTPEnable</key><integer>1</integer></dict>
		</dict>
	</dict>
	<key>Sets</key><dict>
		<key>S1</key><dict><key>Network</key><dict>
			<key>Global</key><dict><key>IPv4</key><dict><key>ServiceOrder</key><array>
				<string>ETH</string><string>MAN</string><string>OFF</string><string>WIFI</string>
				<string>NONAME</string><string>PPPOE</string><string>GSM</string><string>SERIAL</string>
				<string>FW</string></array></dict></dict>
			<key>Service</key><dict>
				<key>INACTIVE</key><dict><key>__LINK__</key><string>/NetworkServices/INACTIVE</string></dict>
				<key>FW</key><dict><key>__LINK__</key><string>/NetworkServices/FW</string></dict>
				<key>SERIAL</key><dict><key>__LINK__</key><string>/NetworkServices/SERIAL</string></dict>
				<key>GSM</key><dict><key>__LINK__</key><string>/NetworkServices/GSM</string></dict>
				<key>PPPOE</key><dict><key>__LINK__</key><string>/NetworkServices/PPPOE</string></dict>
				<key>NONAME</key><dict><key>__LINK__</key><string>/NetworkServices/NONAME</string></dict>
				<key>WIFI</key><dict><key>__LINK__</key><string>/NetworkServices/WIFI</string></dict>
				<key>OFF</key><dict><key>__LINK__</key><string>/NetworkServices/OFF</string></dict>
				<key>MAN</key><dict><key>__LINK__</key><string>/NetworkServices/MAN</string></dict>
				<key>ETH</key><dict><key>__LINK__</key><string>/NetworkServices/ETH</string></dict>
			</dict>
		</dict></dict>
		<key>S2</key><dict><key>Network</key><dict><key>Service</key><dict>
			<key>ETH</key><dict><key>__LINK__</key><string>/NetworkServices/ETH</string></dict>
		</dict></dict></dict>
	</dict>
</dict>)";

PortFacts Machine()
{
    return {[](std::string_view device) -> std::optional<Bytes> {
                if (device == "eth0") return Bytes{0x02, 0x5a, 0x4f, 0x10, 0x00, 0x01};
                return std::nullopt;
            },
            [](std::string_view device) { return device == "ZORVEXMobile-Modem"; }};
}

uint32_t NetworkOrder(const char *address)
{
    in_addr parsed{};
    inet_pton(AF_INET, address, &parsed);
    return parsed.s_addr;
}

// A value as the table below writes it.
std::string Show(const Value &value)
{
    struct Visitor {
        std::string operator()(std::monostate) const { return "?"; }
        std::string operator()(bool b) const { return b ? "true" : "false"; }
        std::string operator()(int32_t i) const { return std::to_string(i); }
        std::string operator()(uint32_t u) const { return std::to_string(u); }
        std::string operator()(int64_t x) const { return std::to_string(x); }
        std::string operator()(const std::string &s) const { return s; }
        // Text when it is printable (an SSID), else hexadecimal pairs.
        std::string operator()(const Bytes &bytes) const
        {
            std::string text(bytes.begin(), bytes.end()), hex;
            for (uint8_t byte : bytes) {
                if (byte < 0x20 || byte > 0x7e) text.clear();
                char pair[4];
                std::snprintf(pair, sizeof pair, "%s%02x", hex.empty() ? "" : ":", byte);
                hex += pair;
            }
            return text.empty() ? hex : text;
        }
        std::string operator()(const std::vector<uint32_t> &addresses) const
        {
            std::string text;
            for (uint32_t address : addresses) {
                char buffer[INET_ADDRSTRLEN];
                inet_ntop(AF_INET, &address, buffer, sizeof buffer);
                text += (text.empty() ? "" : ",") + std::string(buffer);
            }
            return text;
        }
        std::string operator()(const std::vector<std::string> &texts) const
        {
            std::string text;
            for (const std::string &entry : texts)
                text += (text.empty() ? "" : ",") + entry;
            return text;
        }
        std::string operator()(const std::vector<AddressData> &data) const
        {
            std::string text;
            for (const AddressData &entry : data)
                text +=
                    (text.empty() ? "" : ",") + entry.address + "/" + std::to_string(entry.prefix);
            return text;
        }
        std::string operator()(const StringMap &map) const
        {
            std::string text;
            for (const auto &[key, value] : map)
                text += (text.empty() ? "" : ",") + key + "=" + value;
            return text;
        }
    };
    return std::visit(Visitor{}, value);
}

class NMProfileMappingTest : public StoreTest {
  protected:
    Mapping Map(const char *store = kStore, int status = 0)
    {
        WriteStore(store);
        Mapping mapping;
        EXPECT_EQ(mapCurrentSet(Open().get(), Machine(), &mapping), status);
        return mapping;
    }
};

const DesiredProfile *Find(const Mapping &mapping, const std::string &serviceID)
{
    for (const DesiredProfile &profile : mapping.profiles)
        if (profile.serviceID == serviceID) return &profile;
    return nullptr;
}

TEST_F(NMProfileMappingTest, EachCarriedServiceGivesOneProfile)
{
    // service, "setting.key", the value ("-": the key is absent).
    const struct {
        const char *service, *key, *value;
    } kCases[] = {
        {"ETH", "connection.id", "Ethernet"},
        {"ETH", "connection.type", "802-3-ethernet"},
        {"ETH", "connection.interface-name", "eth0"},
        {"ETH", "connection.autoconnect", "true"},
        {"ETH", "connection.autoconnect-priority", "999"},
        {"ETH", "802-3-ethernet.mac-address", "02:5a:4f:10:00:01"},
        {"ETH", "ipv4.method", "auto"},
        {"ETH", "ipv4.dns", "192.0.2.53"},
        {"ETH", "ipv4.ignore-auto-dns", "true"},
        {"ETH", "ipv4.dns-search", "example.org"},
        {"ETH", "ipv4.route-metric", "100"},
        {"ETH", "ipv6.method", "auto"},
        {"ETH", "ipv6.route-metric", "100"},
        {"ETH", "user.data", "org.vavivaz.location=S1,org.vavivaz.service=ETH"},
        {"MAN", "ipv4.method", "manual"},
        {"MAN", "ipv4.address-data", "192.0.2.10/24,198.51.100.7/32"},
        {"MAN", "ipv4.gateway", "192.0.2.1"},
        {"MAN", "ipv4.route-metric", "101"},
        {"MAN", "connection.autoconnect-priority", "998"},
        {"MAN", "802-3-ethernet.mac-address", "-"},
        {"MAN", "ipv6.method", "disabled"},
        {"OFF", "ipv4.method", "disabled"},
        {"OFF", "ipv4.dns", "-"},
        {"WIFI", "connection.type", "802-11-wireless"},
        {"WIFI", "802-11-wireless.ssid", "Home"},
        {"WIFI", "connection.interface-name", "wlan0"},
        {"WIFI", "ipv4.route-metric", "103"},
        {"PPPOE", "connection.type", "pppoe"},
        {"PPPOE", "pppoe.parent", "eth0"},
        {"PPPOE", "pppoe.username", "me"},
        {"PPPOE", "pppoe.password", "pw"},
        {"PPPOE", "pppoe.password-flags", "0"},
        {"PPPOE", "ipv4.method", "auto"},
        {"PPPOE", "connection.interface-name", "-"},
        {"GSM", "connection.type", "gsm"},
        {"GSM", "gsm.username", "web"},
        {"GSM", "gsm.password", "-"}, // not text: left out
        {"GSM", "gsm.apn", "internet"},
    };
    Mapping mapping = Map();
    EXPECT_EQ(mapping.locationID, "S1");
    for (const auto &c : kCases) {
        SCOPED_TRACE(std::string(c.service) + " " + c.key);
        const DesiredProfile *profile = Find(mapping, c.service);
        ASSERT_NE(profile, nullptr);
        std::string  key(c.key);
        std::string  setting = key.substr(0, key.find('.')), name = key.substr(key.find('.') + 1);
        const Value *value = findValue(profile->settings, setting.c_str(), name.c_str());
        EXPECT_EQ(value != nullptr ? Show(*value) : "-", c.value);
    }
    std::vector<std::string> carried;
    for (const DesiredProfile &profile : mapping.profiles)
        carried.push_back(profile.serviceID);
    EXPECT_EQ(carried, (std::vector<std::string>{"ETH", "MAN", "OFF", "WIFI", "PPPOE", "GSM"}));
    EXPECT_EQ(
        std::get<std::vector<uint32_t>>(*findValue(Find(mapping, "ETH")->settings, "ipv4", "dns")),
        std::vector<uint32_t>{NetworkOrder("192.0.2.53")});
}

TEST_F(NMProfileMappingTest, WhatNoProfileHoldsIsSaid)
{
    std::vector<std::string> said;
    for (const NotCarried &item : Map().notCarried)
        said.push_back(item.serviceID + ": " + describe(item));
    EXPECT_EQ(said, (std::vector<std::string>{
                        "ETH: the DNS server \"2001:db8::1\" of Ethernet",
                        "ETH: the HTTP proxy of Ethernet",
                        "MAN: the IPv4 address \"300.0.0.1\" of Office",
                        "MAN: the subnet mask \"255.0.255.0\" of Office",
                        "MAN: what DHCP adds to the address of Office",
                        "OFF: the DNS servers of Lab (IPv4 is off)",
                        "NONAME: Cafe (no wireless network chosen)",
                        "GSM: the password of Mobile",
                        "GSM: the phone number of Mobile",
                        "SERIAL: Internal Modem (a serial port)",
                        "FW: FireWire (a FireWire port)",
                    }));
}

// A manual setting whose addresses are all unusable leaves IPv4 off, and says
// so of its router and DNS servers too.
TEST_F(NMProfileMappingTest, AManualSettingWithoutAnAddressIsSaid)
{
    Mapping                  mapping = Map(R"(<dict><key>CurrentSet</key><string>/Sets/S</string>
	<key>NetworkServices</key><dict><key>M</key><dict><key>UserDefinedName</key><string>Lab</string>
		<key>Interface</key><dict><key>DeviceName</key><string>eth1</string><key>Type</key><string>Ethernet</string></dict>
		<key>IPv4</key><dict><key>ConfigMethod</key><string>Manual</string>
			<key>Addresses</key><array><string>lab-host</string></array><key>Router</key><string>192.0.2.1</string></dict>
		<key>DNS</key><dict><key>ServerAddresses</key><array><string>192.0.2.53</string></array></dict></dict></dict>
	<key>Sets</key><dict><key>S</key><dict><key>Network</key><dict><key>Service</key><dict>
		<key>M</key><dict><key>__LINK__</key><string>/NetworkServices/M</string></dict></dict></dict></dict></dict></dict>)");
    std::vector<std::string> said;
    for (const NotCarried &item : mapping.notCarried)
        said.push_back(describe(item));
    EXPECT_EQ(said, (std::vector<std::string>{
                        "the IPv4 address \"lab-host\" of Lab",
                        "the IPv4 method \"Manual\" of Lab (no usable address)",
                        "the router \"192.0.2.1\" of Lab",
                        "the DNS servers of Lab (IPv4 is off)",
                    }));
}

TEST_F(NMProfileMappingTest, ProfileUUIDsAreStablePerSetAndService)
{
    Mapping     mapping = Map();
    std::string uuid    = textValue(Find(mapping, "ETH")->settings, "connection", "uuid");
    EXPECT_EQ(uuid, profileUUID("S1", "ETH"));
    EXPECT_NE(uuid, profileUUID("S2", "ETH"));
    EXPECT_NE(profileUUID("S1E", "TH"), profileUUID("S1", "ETH"));
    EXPECT_EQ(uuid.size(), 36u);
    EXPECT_EQ(uuid[14], '8');
    EXPECT_EQ(uuid.find_first_not_of("0123456789abcdef-"), std::string::npos);
}

TEST_F(NMProfileMappingTest, NoCurrentSetHoldsNoProfile)
{
    for (const char *store :
         {"<dict/>", "<dict><key>CurrentSet</key><string>/Sets/X</string></dict>"})
        EXPECT_TRUE(Map(store).profiles.empty()) << store;
    Map("<dict><key>CurrentSet</key><integer>1</integer></dict>", 1001);
}

// The plan, over the profiles of the mapping above as NetworkManager would
// hold them.
TEST_F(NMProfileMappingTest, PlanChangesOnlyWhatDiffers)
{
    Mapping                      mapping = Map();
    std::vector<ExistingProfile> existing;
    auto                         add = [&](const std::string &path, Settings settings) {
        existing.push_back({path, std::move(settings)});
    };
    // ETH as NetworkManager hands it back: defaults left out, keys of its own.
    Settings eth = Find(mapping, "ETH")->settings;
    eth["connection"].erase("autoconnect");
    eth["connection"]["timestamp"] = uint32_t{1700000000};
    eth["proxy"]["method"]         = std::string("none");
    add("/eth", eth);
    // MAN with another router: updated.
    Settings man           = Find(mapping, "MAN")->settings;
    man["ipv4"]["gateway"] = std::string("192.0.2.254");
    add("/man", man);
    // WIFI as ours, but under another UUID: replaced.
    Settings wifi              = Find(mapping, "WIFI")->settings;
    wifi["connection"]["uuid"] = std::string("00000000-0000-4000-8000-000000000000");
    add("/wifi-old", wifi);
    // PPPOE whose secret is another: updated.
    Settings pppoe             = Find(mapping, "PPPOE")->settings;
    pppoe["pppoe"]["password"] = std::string("old");
    add("/pppoe", pppoe);
    // OFF as ours, but of another type: replaced.
    Settings off              = Find(mapping, "OFF")->settings;
    off["connection"]["type"] = std::string("pppoe");
    add("/off", off);
    // Ours for a set that is not current, and a person's own: the first goes.
    Settings other              = eth;
    other["user"]["data"]       = StringMap{{kServiceMark, "ETH"}, {kLocationMark, "S2"}};
    other["connection"]["uuid"] = profileUUID("S2", "ETH");
    add("/other-set", other);
    Settings person        = eth;
    person["user"]["data"] = StringMap{{"note", "mine"}};
    add("/person", person);
    // A value of a type NetworkManager should not hand back: rewritten.
    Settings gsm      = Find(mapping, "GSM")->settings;
    gsm["gsm"]["apn"] = std::monostate{};
    add("/gsm", gsm);

    std::vector<std::string> plan;
    for (const Action &action : makePlan(mapping.profiles, existing)) {
        static const char *const kKinds[] = {"delete", "update", "add", "unchanged"};
        std::string              service, location;
        (void)readMark(action.settings, &service, &location);
        plan.push_back(std::string(kKinds[static_cast<int>(action.kind)]) + " " + location + "/" +
                       service + " " + action.path);
    }
    EXPECT_EQ(plan, (std::vector<std::string>{
                        "delete S1/WIFI /wifi-old",
                        "delete S1/OFF /off",
                        "delete S2/ETH /other-set",
                        "update S1/MAN /man",
                        "update S1/PPPOE /pppoe",
                        "update S1/GSM /gsm",
                        "add S1/OFF ",
                        "add S1/WIFI ",
                        "unchanged S1/ETH /eth",
                    }));
}

// A password that cannot be read (PPPOE's as a user who may not read the
// secrets sees it: the marker alone; GSM's, not text) is left out of the
// profile, never sent empty, and NetworkManager's own is kept.
TEST_F(NMProfileMappingTest, UnreadablePasswordsKeepNetworkManagersOwn)
{
    std::string store  = kStore;
    std::string stored = "<key>AuthPassword</key><data>cAB3AA==</data>";
    store.replace(store.find(stored), stored.size(),
                  "<key>VZAuthPasswordSecret</key><string>0C3E</string>");
    Mapping                      mapping = Map(store.c_str());
    std::vector<ExistingProfile> existing;
    for (const char *service : {"PPPOE", "GSM"}) {
        const DesiredProfile *desired = Find(mapping, service);
        ASSERT_NE(desired, nullptr) << service;
        Settings held = desired->settings;
        for (const char *setting : kSecretSettings) {
            EXPECT_EQ(findValue(held, setting, kPasswordKey), nullptr) << service;
            if (held.contains(setting)) held[setting][kPasswordKey] = std::string("held");
        }
        existing.push_back({service, held});
    }
    existing.back().settings["gsm"]["username"] = std::string("old");
    int said                                    = 0;
    for (const NotCarried &item : mapping.notCarried)
        said += item.item == std::string(kItemPassword);
    EXPECT_EQ(said, 2);

    std::vector<std::string> plan;
    for (const Action &action : makePlan(mapping.profiles, existing))
        if (!action.path.empty() && action.kind != ActionKind::Delete)
            plan.push_back(action.path +
                           (action.kind == ActionKind::Update ? " updated " : " kept ") +
                           textValue(action.settings, "pppoe", "password") +
                           textValue(action.settings, "gsm", "password"));
    EXPECT_EQ(plan, (std::vector<std::string>{"GSM updated held", "PPPOE kept held"}));
}

} // namespace
