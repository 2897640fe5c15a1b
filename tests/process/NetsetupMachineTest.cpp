// NetsetupMachineTest.cpp: vz-netsetup's commands over the machine's ports,
// modem scripts and running configuration, as whole processes over copies of
// the demo machine, in both output forms: ports, modem-scripts, service add,
// location create --from-ports, dialup, pppoe (passwords from a file and
// from standard input, never shown), dhcp list and release, appletalk.
#include "NetsetupFixture.h"

#include <string>
#include <vector>

namespace {

using namespace nstest;

class NetsetupMachine : public NetsetupRoot {};

// The column at which the header's word starts is where every row's cell
// starts.
void ExpectColumn(const std::vector<std::string> &lines, const std::string &heading,
                  const std::vector<std::string> &cells)
{
    ASSERT_EQ(lines.size(), cells.size() + 1);
    size_t column = lines[0].find(heading);
    for (size_t i = 0; i < cells.size(); i++)
        EXPECT_EQ(lines[i + 1].compare(column, cells[i].size(), cells[i]), 0) << lines[i + 1];
}

const std::string kRegistryPath = "var/run/SystemConfiguration/ioregistry.plist";

const std::vector<std::string> kPortDevices = {
    "modem", "ZORVEXMobile-Modem", "ZORVEXMobile-Diag", "ZORVEXMobile-Pcui", "en0", "en1", "en2"};

TEST_F(NetsetupMachine, PortsAndModemScriptsInBothForms)
{
    Outcome text = Ns({"ports"});
    ASSERT_EQ(text.status, 0) << text.err;
    ExpectColumn(Lines(text.out), "DEVICE", kPortDevices);
    EXPECT_NE(
        text.out.find("Built-in Ethernet       en0                 Ethernet  02:5a:4f:10:00:01"),
        std::string::npos)
        << text.out;
    Json ports = Doc({"ports"})["ports"];
    ASSERT_EQ(ports.size(), kPortDevices.size());
    for (size_t i = 0; i < ports.size(); i++)
        EXPECT_EQ(ports[i]["device"], kPortDevices[i]);
    EXPECT_EQ(ports[0], Json({{"name", "Internal Modem"},
                              {"device", "modem"},
                              {"hardware", "Modem"},
                              {"type", "PPP"},
                              {"subtype", "PPPSerial"},
                              {"mac_address", nullptr},
                              {"variant", nullptr},
                              {"modem_on_hold", true}}));
    EXPECT_EQ(ports[5]["hardware"], "AirPort");
    EXPECT_EQ(ports[5]["mac_address"], "02:5a:4f:10:00:02");

    text = Ns({"modem-scripts"});
    ASSERT_EQ(text.status, 0) << text.err;
    const std::vector<std::string> scripts = {"Internal 56K Modem (v.90)",
                                              "Internal 56K Modem (v.92)",
                                              "Serial Modem 9",
                                              "serial modem 9",
                                              "Serial Modem 10",
                                              "ZORVEX Mobile",
                                              "ZORVEX Mobile 2"};
    std::vector<std::string>       lines   = Lines(text.out);
    ExpectColumn(lines, "NAME", scripts);
    for (size_t i = 1; i < lines.size(); i++)
        EXPECT_EQ(lines[i][0], i == 1 ? '*' : ' ') << lines[i]; // the default, for 10.4.11
    Json list = Doc({"modem-scripts"})["scripts"];
    ASSERT_EQ(list.size(), scripts.size());
    for (size_t i = 0; i < list.size(); i++)
        EXPECT_EQ(list[i], Json({{"name", scripts[i]}, {"default", i == 0}}));

    // A machine without a registry has no ports, one without scripts none.
    fs::remove(Path(kRegistryPath));
    fs::remove_all(Path("System/Library/Modem Scripts"));
    fs::remove_all(Path("Library/Modem Scripts"));
    EXPECT_EQ(Doc({"ports"})["ports"], Json::array());
    EXPECT_EQ(Doc({"modem-scripts"})["scripts"], Json::array());
    // A damaged registry is a failure, with the registry's code.
    Write(kRegistryPath, "not a property list");
    Outcome run = Ns({"ports"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("the device registry is damaged (error 0xe00002bc)"), std::string::npos)
        << run.err;
}

TEST_F(NetsetupMachine, ServiceAddByDeviceOrPortName)
{
    Json added = Doc({"service", "add", "en0"});
    EXPECT_EQ(added["location"]["service_count"], 6);
    const Json &service = added["service"];
    EXPECT_EQ(service["name"], "Built-in Ethernet");
    EXPECT_EQ(service["position"], 6);
    EXPECT_EQ(service["device"], "en0");
    EXPECT_EQ(service["ipv4"]["method"], "DHCP");
    EXPECT_EQ(Doc({"services"})["services"][5], service);

    // By the port's name; a modem gets the catalogue's default script.
    Outcome text = Ns({"service", "add", "Internal Modem"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind("Added the service \"Internal Modem\" (", 0), 0u) << text.out;
    Json modem = Doc({"service", "show", "Internal Modem"})["service"];
    EXPECT_EQ(modem["device"], "modem");
    EXPECT_EQ(modem["modem"]["script"], "Internal 56K Modem (v.90)");
    EXPECT_EQ(modem["ppp"]["has_password"], false);

    // The port's name is taken in this location: another name is given.
    EXPECT_EQ(Ns({"service", "add", "en1"}).status, 1);
    EXPECT_EQ(Doc({"service", "add", "en1", "--name", "AirPort 2"})["service"]["name"],
              "AirPort 2");

    // A network port whose controller reports no MAC address cannot have a
    // service (the model would stop the process): refused, and passed over
    // by a location of every port.
    std::string registry = Read(kRegistryPath);
    size_t      mac      = registry.rfind("<key>IOMACAddress</key>", registry.find("AlpPEAAD"));
    registry.erase(mac, registry.find("</data>", mac) + 7 - mac);
    Write(kRegistryPath, registry);
    const std::string before = Store();
    Outcome           run    = Ns({"service", "add", "en2"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no service can be made for the port en2: its controller reports no "
                           "MAC address"),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(Store() == before);
    Json every = Doc({"location", "create", "Every port", "--from-ports"})["location"];
    EXPECT_EQ(every["service_count"], kPortDevices.size() - 1);
}

TEST_F(NetsetupMachine, LocationFromPortsAndAppleTalk)
{
    Outcome text = Ns({"location", "create", "Every port", "--from-ports"});
    ASSERT_EQ(text.status, 0) << text.err;
    EXPECT_NE(text.out.find(" with 7 services for the machine's ports."), std::string::npos)
        << text.out;
    Json location = Doc({"location", "create", "Second", "--from-ports"})["location"];
    EXPECT_EQ(location["service_count"], 7);
    EXPECT_EQ(location["current"], false);
    Json services = Doc({"--location", "Every port", "services"})["services"];
    ASSERT_EQ(services.size(), kPortDevices.size());
    for (size_t i = 0; i < services.size(); i++)
        EXPECT_EQ(services[i]["device"], kPortDevices[i]);

    // Its network services have AppleTalk entities, inactive.
    const Args at = {"--location", "Every port", "appletalk"};
    EXPECT_EQ(Doc(at)["appletalk"], false);
    Args on = at, off = at;
    on.push_back("on");
    off.push_back("off");
    text = Ns(on);
    EXPECT_EQ(text.out.rfind("AppleTalk is on in location \"Every port\"", 0), 0u) << text.out;
    Json doc = Doc(at);
    EXPECT_EQ(doc["appletalk"], true);
    EXPECT_EQ(doc["location"]["name"], "Every port");
    std::string before = Store();
    EXPECT_EQ(Doc(on)["appletalk"], true);
    EXPECT_TRUE(Store() == before); // on already: nothing written
    EXPECT_EQ(Doc(off)["appletalk"], false);
    EXPECT_EQ(Doc(at)["appletalk"], false);
}

TEST_F(NetsetupMachine, DialupAndPPPoEInBothForms)
{
    const std::string demo = Store();
    Write("password", "pw-in-a-file\nnot part of it\n");
    const Args dialup = {"dialup", "ZORVEXMobile-Modem", "--phone", "*99#", "--account", "web"};

    // The control port's service is on: the dial-up switches it off.
    ASSERT_EQ(Ns({"service", "enable", kPcui}).status, 0);
    Args fromInput = dialup;
    fromInput.insert(fromInput.end(), {"--password-file", "-", "--script", "ZORVEX Mobile 2"});
    fromInput.insert(fromInput.begin(), "--json");
    Outcome run = NsInput(fromInput, "s3cret\r\n");
    ASSERT_EQ(run.status, 0) << run.err;
    Json doc = Json::parse(run.out);
    ASSERT_EQ(Ids(doc["services"]), std::vector<std::string>{kModem});
    const Json &modem = doc["services"][0];
    EXPECT_EQ(modem["ppp"], Json({{"active", true},
                                  {"remote_address", "*99#"},
                                  {"account", "web"},
                                  {"apn", nullptr},
                                  {"has_password", true}}));
    EXPECT_EQ(modem["modem"]["script"], "ZORVEX Mobile 2");
    EXPECT_EQ(modem["ipv4"]["method"], "PPP"); // as it was
    EXPECT_EQ(Ids(doc["switched_off"]), std::vector<std::string>{kPcui});
    EXPECT_EQ(doc["switched_off"][0]["active"], false);
    // The password is stored (its UTF-16 bytes, without the line end) and
    // never shown.
    EXPECT_NE(Store().find("cwAzAGMAcgBlAHQA"), std::string::npos);
    EXPECT_EQ(Store().find("s3cret"), std::string::npos);
    EXPECT_EQ(run.out.find("s3cret"), std::string::npos);

    // From a file, in the text form: the script stays without --script.
    ResetStore(demo);
    Args fromFile = dialup;
    fromFile.insert(fromFile.end(), {"--password-file", Path("password")});
    run = Ns(fromFile);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Configured dial-up on ZORVEXMobile-Modem for the service \"ZORVEX Mobile\" (" +
                  kModem +
                  "): number *99#, account \"web\", password set, script \"ZORVEX "
                  "Mobile\".\n");
    EXPECT_EQ(run.out.find("pw-in-a-file"), std::string::npos);
    run = Ns({"service", "show", "ZORVEX Mobile"});
    EXPECT_NE(run.out.find("\nPPP:       number *99#, account \"web\", password set\n"),
              std::string::npos)
        << run.out;
    // Made anew: without an account and a password the service has neither.
    Json bare = Doc({"dialup", "ZORVEXMobile-Modem", "--phone", "555"})["services"][0]["ppp"];
    EXPECT_EQ(bare["account"], nullptr);
    EXPECT_EQ(bare["has_password"], false);

    // PPPoE on the first Ethernet port, and by the port's name.
    ResetStore(demo);
    doc = Doc({"pppoe", "--account", "joe", "--password-file", Path("password")});
    ASSERT_EQ(Ids(doc["services"]), std::vector<std::string>{kEthernet});
    const Json &pppoe = doc["services"][0];
    EXPECT_EQ(pppoe["type"], "PPP");
    EXPECT_EQ(pppoe["subtype"], "PPPoE");
    EXPECT_EQ(pppoe["hardware"], "Ethernet");
    EXPECT_EQ(pppoe["ipv4"]["method"], "PPP");
    EXPECT_EQ(pppoe["ppp"]["account"], "joe");
    EXPECT_EQ(pppoe["ppp"]["has_password"], true);
    // With the PPPoE option defaults, not the dial-up ones the recipe would
    // give it: an always-on link does not hang up when idle.
    const std::string store = Store();
    size_t            idle  = store.find("<key>DisconnectOnIdle</key>",
                                         store.find("<key>PPP</key>", store.find("<key>" + kEthernet)));
    ASSERT_NE(idle, std::string::npos);
    EXPECT_EQ(store.substr(store.find("<integer>", idle), 11), "<integer>0<");
    ResetStore(demo);
    run = Ns({"pppoe", "AirPort", "--account", "joe"});
    EXPECT_EQ(run.out.rfind("Configured PPPoE on en1 for the service \"AirPort\"", 0), 0u)
        << run.out << run.err;

    // A password that cannot be used changes nothing.
    ResetStore(demo);
    for (const char *input : {"\n", "", "tab\there\n"}) {
        Args args = dialup;
        args.insert(args.end(), {"--password-file", "-"});
        run = NsInput(args, input);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("the password in standard input "), std::string::npos) << run.err;
    }
    Write("password", std::string(2000, 'x'));
    fromFile.back() = Path("password");
    EXPECT_NE(Ns(fromFile).err.find("is longer than 1024 bytes"), std::string::npos);
    fromFile.back() = Path("no-such-file");
    EXPECT_NE(Ns(fromFile).err.find("cannot read the password file"), std::string::npos);
    EXPECT_TRUE(Store() == demo);
}

TEST_F(NetsetupMachine, DHCPListAndRelease)
{
    Outcome text = Ns({"dhcp", "list"});
    ASSERT_EQ(text.status, 0) << text.err;
    ExpectColumn(Lines(text.out), "ID", {kEthernet, kAirPort});
    Json list = Doc({"dhcp", "list"});
    EXPECT_EQ(list["location"]["id"], kAutomatic);
    EXPECT_EQ(Ids(list["services"]), (std::vector<std::string>{kEthernet, kAirPort}));

    const std::string demo = Store();
    text                   = Ns({"dhcp", "release", "Ethernet"});
    EXPECT_EQ(text.out.rfind("Released the DHCP lease of the service \"Ethernet\"", 0), 0u)
        << text.out << text.err;
    Json released = Doc({"dhcp", "release", kAirPort});
    EXPECT_EQ(released["service"], list["services"][1]);
    // Off and on again: the store ends as it was, and the running system
    // configures the service again.
    EXPECT_TRUE(Store() == demo);
    EXPECT_NE(Read(kDynamicStorePath).find("Setup:/Network/Service/" + kEthernet + "/IPv4"),
              std::string::npos);

    // IPv4 switched off in the store and not applied yet: the release, which
    // ends by switching IPv4 on, is refused and changes nothing.
    std::string off = demo;
    off.insert(off.find("<key>ConfigMethod</key>", off.find("<key>" + kEthernet + "</key>")),
               "<key>__INACTIVE__</key><integer>1</integer>");
    ResetStore(off);
    Outcome refused = Ns({"dhcp", "release", "Ethernet"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("has its IPv4 switched off in the store"), std::string::npos)
        << refused.err;
    EXPECT_TRUE(Store() == off);
    ResetStore(demo);

    // A service the running system has but the location does not list (the
    // store was changed and not applied) comes last, by its ID alone.
    std::string dynamic = Read(kDynamicStorePath);
    dynamic.insert(dynamic.find("<dict>\n") + 7,
                   "\t<key>Setup:/Network/Service/GONE/IPv4</key>\n\t<dict>\n\t\t<key>"
                   "ConfigMethod</key>\n\t\t<string>DHCP</string>\n\t</dict>\n");
    Write(kDynamicStorePath, dynamic);
    Json stale = Doc({"dhcp", "list"})["services"];
    ASSERT_EQ(Ids(stale), (std::vector<std::string>{kEthernet, kAirPort, "GONE"}));
    EXPECT_EQ(stale[2]["position"], 0);
    EXPECT_EQ(stale[2]["name"], nullptr);
    EXPECT_EQ(Lines(Ns({"dhcp", "list"}).out).at(3).rfind("  -  -", 0), 0u);
}

} // namespace
