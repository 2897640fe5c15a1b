// NetsetupTest.cpp: vz-netsetup as a whole process over copies of the demo
// machine: every command in both output forms (the JSON parsed), name and ID
// resolution, usage errors and failures with their exit statuses and one
// line on standard error, a busy and a damaged store, standard output that
// cannot be written, and two writers racing on one store.
#include "NetsetupFixture.h"

#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace nstest;

class Netsetup : public NetsetupRoot {};

// ---------------------------------------------------------------------------
// Reading.

TEST_F(Netsetup, ServicesInBothForms)
{
    Outcome text = Ns({"services"});
    ASSERT_EQ(text.status, 0) << text.err;
    std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 6u);
    // Aligned: every ID starts in the column of the header's "ID".
    size_t            idColumn = lines[0].find("ID");
    const std::string order[]  = {kEthernet, kAirPort, kDiag, kPcui, kModem};
    for (size_t i = 0; i < 5; i++) {
        EXPECT_EQ(lines[i + 1].find(order[i]), idColumn) << lines[i + 1];
        // The auxiliary ports' services are the inactive ones.
        EXPECT_EQ(lines[i + 1][0] == '-', i == 2 || i == 3) << lines[i + 1];
    }
    EXPECT_NE(lines[5].find("ZORVEX Mobile"), std::string::npos);
    EXPECT_NE(lines[5].find("ZORVEXMobile-Modem"), std::string::npos);

    Json doc = Doc({"services"});
    EXPECT_EQ(doc["location"]["id"], kAutomatic);
    EXPECT_EQ(doc["location"]["name"], "Automatic");
    EXPECT_EQ(doc["location"]["current"], true);
    EXPECT_EQ(doc["location"]["service_count"], 5);
    EXPECT_EQ(Ids(doc["services"]), std::vector<std::string>(order, order + 5));
    const Json &modem = doc["services"][4];
    EXPECT_EQ(modem["position"], 5);
    EXPECT_EQ(modem["active"], true);
    EXPECT_EQ(modem["device"], "ZORVEXMobile-Modem");
    EXPECT_EQ(modem["hardware"], "Modem");
    EXPECT_EQ(modem["type"], "PPP");
    EXPECT_EQ(modem["subtype"], "PPPSerial");
    EXPECT_EQ(modem["ipv4"]["method"], "PPP");
    EXPECT_EQ(modem["proxies"], nullptr);
    EXPECT_EQ(doc["services"][2]["active"], false);
    EXPECT_EQ(doc["services"][0]["proxies"]["ftp_passive"], true);
    EXPECT_EQ(doc["services"][0]["proxies"]["http"]["enabled"], false);

    // Another location, by name and by ID, with the option anywhere.
    for (const Args &args :
         {Args{"--location", "Office", "services"}, Args{"services", "--location=" + kOffice}}) {
        Json office = Doc(args);
        EXPECT_EQ(office["location"]["current"], false);
        EXPECT_EQ(Ids(office["services"]), std::vector<std::string>{kOfficeLAN});
        const Json &ipv4 = office["services"][0]["ipv4"];
        EXPECT_EQ(ipv4["method"], "Manual");
        EXPECT_EQ(ipv4["addresses"], Json::array({"192.168.7.20"}));
        EXPECT_EQ(ipv4["subnet_masks"], Json::array({"255.255.255.0"}));
        EXPECT_EQ(ipv4["router"], "192.168.7.1");
        EXPECT_EQ(office["services"][0]["dns"]["servers"], Json::array({"192.168.7.1"}));
    }
}

TEST_F(Netsetup, LocationsShowAndStatusInBothForms)
{
    Outcome text = Ns({"locations"});
    ASSERT_EQ(text.status, 0);
    std::vector<std::string> lines = Lines(text.out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("*", 0), 0u) << lines[1]; // Automatic, the current one
    EXPECT_NE(lines[1].find("Automatic"), std::string::npos);
    EXPECT_EQ(lines[2].rfind(" ", 0), 0u) << lines[2];
    Json locations = Doc({"locations"})["locations"];
    ASSERT_EQ(locations.size(), 2u);
    EXPECT_EQ(locations[0]["id"], kAutomatic);
    EXPECT_EQ(locations[0]["current"], true);
    EXPECT_EQ(locations[1]["name"], "Office");
    EXPECT_EQ(locations[1]["service_count"], 1);

    text = Ns({"service", "show", "AirPort"});
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(text.out.find("Name:      AirPort\n"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("Position:  2 of 5\n"), std::string::npos);
    EXPECT_NE(text.out.find("Entities:  AirPort, DNS, IPv4, Interface, Proxies\n"),
              std::string::npos);
    Json show = Doc({"service", "show", kAirPort});
    EXPECT_EQ(show["service"]["name"], "AirPort");
    EXPECT_EQ(show["service"]["entities"],
              Json::array({"AirPort", "DNS", "IPv4", "Interface", "Proxies"}));
    EXPECT_EQ(show["location"]["id"], kAutomatic);

    // Without SERVICE: the modem's service, as the probe finds it.
    text = Ns({"status"});
    ASSERT_EQ(text.status, 0);
    EXPECT_NE(Lines(text.out).at(1).find("connected"), std::string::npos) << text.out;
    Json status = Doc({"status"});
    EXPECT_EQ(status["service"]["id"], kModem);
    EXPECT_EQ(status["state"], "connected");
    EXPECT_EQ(status["status"], 2);
    // A service without a connection has no state.
    status = Doc({"status", "Ethernet"});
    EXPECT_EQ(status["state"], "invalid");
    EXPECT_EQ(status["status"], -1);
}

// ---------------------------------------------------------------------------
// Changes.

TEST_F(Netsetup, ServiceChangesInBothForms)
{
    struct Row {
        Args                              args;
        const char                       *sentence; // how the text form begins
        std::function<void(const Json &)> check;    // of the service after the change
    };
    const Row rows[] = {
        {{"service", "rename", "Ethernet", "LAN"},
         "Renamed the service \"Ethernet\"",
         [](const Json &s) { EXPECT_EQ(s["name"], "LAN"); }},
        {{"service", "disable", "AirPort"},
         "Disabled the service \"AirPort\"",
         [](const Json &s) { EXPECT_EQ(s["active"], false); }},
        {{"service", "enable", kPcui},
         "Enabled the service",
         [](const Json &s) { EXPECT_EQ(s["active"], true); }},
        {{"service", "ipv4", "Ethernet", "manual", "10.0.0.2", "255.255.255.0", "10.0.0.1"},
         "IPv4 of the service \"Ethernet\"",
         [](const Json &s) {
             EXPECT_EQ(s["ipv4"]["method"], "Manual");
             EXPECT_EQ(s["ipv4"]["addresses"], Json::array({"10.0.0.2"}));
             EXPECT_EQ(s["ipv4"]["subnet_masks"], Json::array({"255.255.255.0"}));
             EXPECT_EQ(s["ipv4"]["router"], "10.0.0.1");
         }},
        {{"service", "ipv4", "AirPort", "off"},
         "IPv4 of the service \"AirPort\" (",
         [](const Json &s) {
             EXPECT_EQ(s["ipv4"]["active"], false);
             EXPECT_EQ(s["ipv4"]["method"], "DHCP"); // kept for switching on again
         }},
        {{"--location", "Office", "service", "ipv4", "Ethernet", "DHCP"},
         "IPv4 of the service \"Ethernet\"",
         [](const Json &s) {
             EXPECT_EQ(s["ipv4"]["method"], "DHCP");
             EXPECT_EQ(s["ipv4"]["addresses"], Json::array());
             EXPECT_EQ(s["ipv4"]["router"], nullptr);
         }},
        {{"service", "dns", "Ethernet", "192.0.2.53", "198.51.100.53", "--search", "example.com"},
         "DNS of the service \"Ethernet\"",
         [](const Json &s) {
             EXPECT_EQ(s["dns"]["servers"], Json::array({"192.0.2.53", "198.51.100.53"}));
             EXPECT_EQ(s["dns"]["search_domains"], Json::array({"example.com"}));
         }},
        {{"--location", "Office", "service", "dns", "Ethernet"},
         "DNS of the service \"Ethernet\"",
         [](const Json &s) {
             EXPECT_EQ(s["id"], kOfficeLAN);
             EXPECT_EQ(s["dns"]["servers"], Json::array());
         }},
        {{"service", "proxy", "Ethernet", "http", "proxy.example.com", "8080"},
         "The http proxy of the service \"Ethernet\"",
         [](const Json &s) {
             EXPECT_EQ(s["proxies"]["http"],
                       Json({{"enabled", true}, {"host", "proxy.example.com"}, {"port", 8080}}));
             EXPECT_EQ(s["proxies"]["ftp_passive"], true); // the other settings stay
         }},
        // The modem's service has no proxies entity: it gets one.
        {{"service", "proxy", "ZORVEX Mobile", "SOCKS", "off"},
         "The socks proxy of the service",
         [](const Json &s) { EXPECT_EQ(s["proxies"]["socks"]["enabled"], false); }},
        {{"service", "duplicate", "Ethernet", "Ethernet 2"},
         "Duplicated the service \"Ethernet\"",
         [](const Json &s) {
             EXPECT_EQ(s["name"], "Ethernet 2");
             EXPECT_NE(s["id"], kEthernet);
             EXPECT_EQ(s["position"], 6);
             EXPECT_EQ(s["device"], "en0");
         }},
    };
    const std::string demo = Store();
    for (const Row &row : rows) {
        SCOPED_TRACE(Line(row.args));
        ResetStore(demo);
        Outcome text = Ns(row.args);
        EXPECT_EQ(text.status, 0) << text.err;
        EXPECT_EQ(text.out.rfind(row.sentence, 0), 0u) << text.out;
        EXPECT_FALSE(Store() == demo);

        ResetStore(demo);
        Json doc = Doc(row.args);
        row.check(doc["service"]);
        // What was reported is what was stored.
        Args show = {"service", "show", doc["service"]["id"]};
        if (row.args[0] == "--location") show.insert(show.begin(), {"--location", "Office"});
        EXPECT_EQ(Doc(show)["service"], doc["service"]);
    }

    // Off keeps the settings; a method switches IPv4 on again. Setting what
    // is set already writes nothing.
    ResetStore(demo);
    EXPECT_EQ(Doc({"service", "ipv4", "ZORVEX Mobile", "off"})["service"]["ipv4"]["active"], false);
    Json on = Doc({"service", "ipv4", "ZORVEX Mobile", "ppp"})["service"]["ipv4"];
    EXPECT_EQ(on["active"], true);
    EXPECT_EQ(on["method"], "PPP");
    EXPECT_TRUE(Store() == demo);
    for (const Args &args :
         {Args{"service", "ipv4", "Ethernet", "dhcp"}, Args{"service", "dns", "Ethernet"},
          Args{"service", "proxy", "Ethernet", "gopher", "off"}}) {
        EXPECT_EQ(Ns(args).status, 0) << Line(args);
        EXPECT_TRUE(Store() == demo) << Line(args);
    }
}

TEST_F(Netsetup, DeleteAndOrderServices)
{
    const std::string demo = Store();
    Outcome           text = Ns({"service", "delete", "AirPort"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind("Deleted the service \"AirPort\"", 0), 0u);
    ResetStore(demo);
    Json deleted = Doc({"service", "delete", "AirPort"});
    EXPECT_EQ(deleted["service"]["id"], kAirPort);
    EXPECT_EQ(deleted["location"]["service_count"], 4);
    EXPECT_EQ(Ids(Doc({"services"})["services"]),
              (std::vector<std::string>{kEthernet, kDiag, kPcui, kModem}));
    // The shared record went with the last link to it.
    EXPECT_EQ(Store().find(kAirPort), std::string::npos);

    // The services named come first; the others keep their order.
    Json order = Doc({"service", "order", "ZORVEX Mobile", kDiag});
    EXPECT_EQ(Ids(order["services"]), (std::vector<std::string>{kModem, kDiag, kEthernet, kPcui}));
    EXPECT_EQ(order["services"][0]["position"], 1);
    EXPECT_EQ(Doc({"services"})["services"], order["services"]);
    text = Ns({"service", "order", "Ethernet"});
    EXPECT_EQ(Lines(text.out).at(1).find(kEthernet) != std::string::npos, true) << text.out;
    // The order it has already: nothing is written.
    std::string before = Store();
    EXPECT_EQ(Ns({"service", "order", "Ethernet", kModem}).status, 0);
    EXPECT_TRUE(Store() == before);
}

TEST_F(Netsetup, LocationChangesInBothForms)
{
    Outcome text = Ns({"location", "create", "Home"});
    EXPECT_EQ(text.status, 0) << text.err;
    EXPECT_EQ(text.out.rfind("Created location \"Home\"", 0), 0u) << text.out;
    Json home = Doc({"location", "create", "Travel"})["location"];
    EXPECT_EQ(home["name"], "Travel");
    EXPECT_EQ(home["service_count"], 0);
    EXPECT_EQ(home["current"], false);
    EXPECT_EQ(Doc({"--location", "Travel", "services"})["services"], Json::array());

    Json copy = Doc({"location", "duplicate", "Automatic", "Automatic 2"})["location"];
    EXPECT_EQ(copy["service_count"], 5);
    Json copied = Doc({"--location", "Automatic 2", "services"})["services"];
    ASSERT_EQ(copied.size(), 5u);
    EXPECT_EQ(copied[4]["name"], "ZORVEX Mobile");
    EXPECT_NE(copied[4]["id"], kModem); // copies, not shared

    EXPECT_EQ(Doc({"location", "rename", "Office", "Work"})["location"]["name"], "Work");
    text = Ns({"location", "switch", "Work"});
    EXPECT_EQ(text.out.rfind("Switched to location \"Work\"", 0), 0u) << text.out;
    EXPECT_EQ(Doc({"services"})["location"]["id"], kOffice);
    EXPECT_EQ(Doc({"location", "switch", "Automatic"})["location"]["current"], true);
    EXPECT_EQ(Doc({"location", "delete", "Automatic 2"})["location"]["name"], "Automatic 2");
    text = Ns({"location", "delete", "Home"});
    EXPECT_EQ(text.out.rfind("Deleted location \"Home\"", 0), 0u) << text.out;

    Json                     all = Doc({"locations"})["locations"];
    std::vector<std::string> names;
    for (const Json &location : all)
        names.push_back(location["name"]);
    EXPECT_EQ(names, (std::vector<std::string>{"Automatic", "Travel", "Work"}));
    // The copies' services went with the copy.
    EXPECT_EQ(Store().find(copied[4]["id"].get<std::string>()), std::string::npos);
}

// ---------------------------------------------------------------------------
// Names and IDs.

TEST_F(Netsetup, AmbiguousNamesListTheirIDs)
{
    // Two services of the current set, and two sets, named alike.
    std::string text   = Store();
    auto        rename = [&text](const std::string &from, const std::string &to) {
        size_t at = text.find("<string>" + from + "</string>\n\t\t</dict>");
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at + 8, from.size(), to);
    };
    rename("AirPort", "Ethernet");
    rename("Office", "Automatic");
    ResetStore(text);

    Outcome run = Ns({"service", "show", "Ethernet"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("ambiguous"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find(kEthernet), std::string::npos);
    EXPECT_NE(run.err.find(kAirPort), std::string::npos);
    EXPECT_EQ(Doc({"service", "show", kAirPort})["service"]["name"], "Ethernet");

    run = Ns({"--location", "Automatic", "services"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(kAutomatic + ", " + kOffice), std::string::npos) << run.err;
    EXPECT_EQ(Doc({"--location", kOffice, "services"})["location"]["id"], kOffice);
}

// ---------------------------------------------------------------------------
// Errors.

TEST_F(Netsetup, UsageErrorsPointToTheCommandsHelp)
{
    struct Row {
        Args        args;
        const char *message;
        const char *help; // the command whose --help is named
    };
    const Row rows[] = {
        {{}, "a command is missing", "vz-netsetup"},
        {{"frobnicate"}, "unknown command \"frobnicate\"", "vz-netsetup"},
        {{"service"}, "a command is missing", "vz-netsetup service"},
        {{"services", "--bogus"}, "unknown option \"--bogus\"", "vz-netsetup services"},
        {{"services", "extra"}, "unexpected argument \"extra\"", "vz-netsetup services"},
        {{"service", "rename", "Ethernet"}, "NEW-NAME is required", "vz-netsetup service rename"},
        {{"service", "rename", "Ethernet", ""}, "the name is empty", "vz-netsetup service rename"},
        {{"location", "create", "a\nb"}, "control character", "vz-netsetup location create"},
        {{"service", "ipv4", "Ethernet", "static"}, "METHOD", "vz-netsetup service ipv4"},
        {{"service", "ipv4", "Ethernet", "manual", "10.0.0.2"},
         "manual needs ADDRESS and MASK",
         "vz-netsetup service ipv4"},
        {{"service", "ipv4", "Ethernet", "dhcp", "10.0.0.2"},
         "dhcp takes no addresses",
         "vz-netsetup service ipv4"},
        {{"service", "ipv4", "Ethernet", "manual", "10.0.0.256", "255.0.0.0"},
         "not an IPv4 address",
         "vz-netsetup service ipv4"},
        {{"service", "ipv4", "Ethernet", "manual", "10.0.0.2", "255.0.255.0"},
         "not a subnet mask",
         "vz-netsetup service ipv4"},
        {{"service", "dns", "Ethernet", "1.2.3"}, "not an IPv4 address", "vz-netsetup service dns"},
        {{"service", "proxy", "Ethernet", "http", "host", "65536"},
         "not a port number",
         "vz-netsetup service proxy"},
        {{"service", "proxy", "Ethernet", "http", "host"},
         "give HOST and PORT, or off",
         "vz-netsetup service proxy"},
        {{"--location"}, "--location needs a value (NAME|ID)", "vz-netsetup"},
        {{"pppoe", "--account"}, "--account needs a value (NAME)", "vz-netsetup pppoe"},
        {{"dialup", "ZORVEXMobile-Modem"}, "--phone is required", "vz-netsetup dialup"},
        {{"dialup", "ZORVEXMobile-Modem", "--phone", ""},
         "the phone number is empty",
         "vz-netsetup dialup"},
        // Passwords never come from the command line.
        {{"dialup", "ZORVEXMobile-Modem", "--phone", "1", "--password", "secret"},
         "unknown option \"--password\"",
         "vz-netsetup dialup"},
        {{"dialup", "ZORVEXMobile-Modem", "--phone", "1", "--password-file", ""},
         "the password file is empty",
         "vz-netsetup dialup"},
        {{"pppoe", "en0"}, "--account is required", "vz-netsetup pppoe"},
        {{"pppoe", "", "--account", "joe"}, "the port is empty", "vz-netsetup pppoe"},
        {{"service", "add", "en0", "--name", ""}, "the name is empty", "vz-netsetup service add"},
        {{"appletalk", "maybe"}, "STATE", "vz-netsetup appletalk"},
        {{"dhcp"}, "a command is missing", "vz-netsetup dhcp"},
        {{"dhcp", "release"}, "SERVICE is required", "vz-netsetup dhcp release"},
    };
    const std::string demo = Store();
    for (const Row &row : rows) {
        SCOPED_TRACE(Line(row.args));
        Outcome run = Ns(row.args);
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.out, "");
        ASSERT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("see '" + std::string(row.help) + " --help'\n"), std::string::npos)
            << run.err;
    }
    EXPECT_TRUE(Store() == demo);
}

TEST_F(Netsetup, FailuresSayWhyInOneLineAndChangeNothing)
{
    struct Row {
        Args        args;
        const char *message;
    };
    const Row rows[] = {
        {{"service", "show", "Token Ring"}, "no service is named \"Token Ring\" in location"},
        {{"--location", "Moon", "services"}, "no location is named \"Moon\""},
        {{"location", "delete", "Automatic"}, "current location \"Automatic\""},
        {{"service", "rename", "Ethernet", "AirPort"},
         "a service named \"AirPort\" exists already"},
        {{"service", "duplicate", "Ethernet", "AirPort"}, "exists already"},
        {{"location", "create", "Office"}, "a location named \"Office\" exists already"},
        {{"location", "rename", "Office", "Automatic"}, "exists already"},
        {{"service", "ipv4", "Ethernet", "ppp"}, "ppp needs a PPP service"},
        {{"service", "order", "Ethernet", kEthernet}, "is named twice"},
        {{"--location", "Office", "status"}, "uses the modem port ZORVEXMobile-Modem"},
        {{"service", "add", "Token Ring"}, "the machine has no port named \"Token Ring\""},
        {{"service", "add", "ZORVEX Mobile"},
         "the name \"ZORVEX Mobile\" is ambiguous: 3 ports have it (ZORVEXMobile-Modem, "
         "ZORVEXMobile-Diag, ZORVEXMobile-Pcui)"},
        {{"service", "add", "en1"}, "a service named \"AirPort\" exists already"},
        {{"dialup", "en0", "--phone", "1"}, "dial-up needs a modem port"},
        {{"dialup", "modem", "--phone", "1"}, "uses the port modem; add one with"},
        {{"dialup", "Token Ring", "--phone", "1"}, "no port named \"Token Ring\""},
        {{"dialup", "ZORVEXMobile-Modem", "--phone", "1", "--script", "zorvex mobile"},
         "no modem script named \"zorvex mobile\" is installed"},
        {{"--location", "Office", "dialup", "ZORVEXMobile-Modem", "--phone", "1"},
         "dialup works on the current location only"},
        {{"pppoe", "modem", "--account", "joe"}, "PPPoE needs an Ethernet or AirPort port"},
        {{"dhcp", "release", "ZORVEX Mobile"}, "holds no DHCP lease"},
        {{"dhcp", "release", "Token Ring"}, "no service is named \"Token Ring\""},
        {{"appletalk", "on"}, "none of its active services has an AppleTalk entity"},
    };
    const std::string demo = Store();
    for (const Row &row : rows) {
        SCOPED_TRACE(Line(row.args));
        Outcome run = Ns(row.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(Lines(run.err).size(), 1u) << run.err;
        EXPECT_EQ(run.err.rfind("vz-netsetup: ", 0), 0u);
        EXPECT_NE(run.err.find(row.message), std::string::npos) << run.err;
    }
    EXPECT_NE(Ns({"location", "delete", "Automatic"}).err.find("(error -50)"), std::string::npos);
    EXPECT_TRUE(Store() == demo);
}

TEST_F(Netsetup, DamagedAndMissingStores)
{
    const std::string damaged = Store().substr(0, 300);
    ResetStore(damaged);
    for (const Args &args : {Args{"services"}, Args{"locations"}, Args{"location", "create", "X"},
                             Args{"service", "disable", "Ethernet"}, Args{"service", "add", "en0"},
                             Args{"dialup", "ZORVEXMobile-Modem", "--phone", "1"},
                             Args{"dhcp", "list"}, Args{"appletalk", "off"}}) {
        SCOPED_TRACE(Line(args));
        Outcome run = Ns(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("(error 1001)"), std::string::npos) << run.err;
    }
    EXPECT_TRUE(Store() == damaged);

    // A machine without a store: no location, and one can be made.
    fs::remove(Path(kStorePath));
    EXPECT_EQ(Doc({"locations"})["locations"], Json::array());
    Outcome run = Ns({"services"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no current location is recorded"), std::string::npos) << run.err;
    EXPECT_EQ(Doc({"location", "create", "Home"})["location"]["name"], "Home");
    EXPECT_EQ(Doc({"location", "switch", "Home"})["location"]["current"], true);
    EXPECT_EQ(Doc({"services"})["services"], Json::array());

    run = Ns({"--root", Path("nowhere"), "services"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("is not a folder"), std::string::npos) << run.err;
}

TEST_F(Netsetup, BusyStore)
{
    // This process holds the store's lock, as another writer would.
    int lock =
        open(Path(std::string(kStorePath) + "-lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    const std::string demo = Store();

    for (const Args &args : {Args{"--no-wait", "service", "disable", "AirPort"},
                             Args{"--no-wait", "service", "add", "en0"},
                             Args{"--no-wait", "pppoe", "--account", "joe"}}) {
        Outcome run = Ns(args);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("busy"), std::string::npos) << run.err;
        EXPECT_NE(run.err.find("(error 3002)"), std::string::npos) << run.err;
    }
    EXPECT_EQ(Ns({"--no-wait", "services"}).status, 0); // readers take no lock

    // Without --no-wait a writer waits for the lock, then makes its change.
    pid_t writer = Start({"service", "disable", "AirPort"});
    usleep(200 * 1000);
    int wstatus = 0;
    EXPECT_EQ(waitpid(writer, &wstatus, WNOHANG), 0) << "the writer did not wait";
    EXPECT_TRUE(Store() == demo);
    close(lock);
    EXPECT_EQ(Wait(writer).status, 0);
    EXPECT_EQ(Doc({"service", "show", "AirPort"})["service"]["active"], false);
}

TEST_F(Netsetup, RacingWritersLoseNoChange)
{
    // Each writer makes its own locations and renames its own service; every
    // change is a read-modify-write of the same store file.
    constexpr int kRounds = 6;
    auto          writer  = [this](const std::string &tag, const std::string &service) {
        pid_t pid = fork();
        if (pid != 0) return pid;
        std::string scratch  = root_ + "." + tag;
        int         failures = 0;
        for (int i = 0; i < kRounds; i++) {
            std::string n = std::to_string(i);
            failures += Ns({"location", "create", tag + n}, scratch).status != 0;
            failures +=
                Ns({"service", "rename", service, tag + "-service-" + n}, scratch).status != 0;
        }
        _exit(failures);
    };
    // A third releases a DHCP lease over and over: its two commits are not
    // under one lock, so another writer may slip in between its reading and
    // its writing. It must wait its turn, not fail, and leave IPv4 on.
    pid_t release = fork();
    if (release == 0) {
        std::string scratch  = root_ + ".C";
        int         failures = 0;
        for (int i = 0; i < 2 * kRounds; i++)
            failures += Ns({"dhcp", "release", kEthernet}, scratch).status != 0;
        _exit(failures);
    }
    pid_t a = writer("A", kEthernet), b = writer("B", kAirPort);
    for (pid_t pid : {a, b, release}) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0) << (pid == release ? "release" : "writer");
    }

    Json locations = Doc({"locations"})["locations"];
    EXPECT_EQ(locations.size(), 2u + 2 * kRounds);
    Json services = Doc({"services"})["services"];
    EXPECT_EQ(services[0]["name"], "A-service-" + std::to_string(kRounds - 1));
    EXPECT_EQ(services[1]["name"], "B-service-" + std::to_string(kRounds - 1));
    EXPECT_EQ(services[0]["ipv4"]["active"], true);
}

// ---------------------------------------------------------------------------
// The command line and standard output.

TEST_F(Netsetup, HelpOnEveryLevelAndVersion)
{
    // The usage line comes first, as in the other tools' help.
    vztest::ExpectHelpAndVersion({VZ_VZ_NETSETUP_PATH}, "vz-netsetup", root_, {"--help", "-h"});
    const Args levels[] = {
        {"service", "--help"},
        {"service", "ipv4", "-h"},
        {"location", "create", "--help"},
        {"status", "--json", "--help"},
        {"dhcp", "release", "--help"},
        {"dialup", "--phone", "1", "--help"},
    };
    for (const Args &args : levels) {
        SCOPED_TRACE(Line(args));
        Outcome run = Ns(args);
        EXPECT_EQ(run.status, 0);
        std::string usage = "usage: vz-netsetup";
        for (size_t i = 0; i < args.size() && args[i][0] != '-'; i++)
            usage += " " + args[i];
        EXPECT_EQ(run.out.rfind(usage + " ", 0), 0u) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

TEST_F(Netsetup, OptionsAnywhereAndDoubleDash)
{
    EXPECT_EQ(Doc({"services"}), Json::parse(Ns({"--json", "services"}).out));
    Json renamed = Doc({"service", "rename", "--", "Ethernet", "-dash-"});
    EXPECT_EQ(renamed["service"]["name"], "-dash-");
    EXPECT_EQ(Doc({"service", "show", "--", "-dash-"})["service"]["id"], kEthernet);
}

TEST_F(Netsetup, UnwritableStandardOutputIsAFailure)
{
    for (Stdout mode : {Stdout::Full, Stdout::Closed}) {
        for (const Args &args : {Args{"services"}, Args{"--help"}}) {
            SCOPED_TRACE(Line(args));
            Outcome run = Ns(args, mode);
            EXPECT_EQ(run.status, 1);
            EXPECT_NE(run.err.find("cannot write to standard output"), std::string::npos)
                << run.err;
        }
    }
}

} // namespace
