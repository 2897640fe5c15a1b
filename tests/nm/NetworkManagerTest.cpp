// NetworkManagerTest.cpp: vz-netsetup on a live copy of the demo machine,
// with a fake NetworkManager on the tests' own bus: its profiles follow
// every change of the current location, a person's own profile is never
// touched, an apply with nothing changed calls nothing that changes, and a
// refusal or a failure half way is said and made good by the next apply.
#include "FakeModemManager.h"
#include "PrivateBus.h"
#include "Run.h"
#include "TestSupport.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

namespace {

namespace fs = std::filesystem;
using Json   = nlohmann::json;
using Args   = std::vector<std::string>;

const std::string kService          = "org.freedesktop.NetworkManager";
const std::string kSettings         = "/org/freedesktop/NetworkManager/Settings";
const std::string kProfileInterface = "org.freedesktop.NetworkManager.Settings.Connection";
const std::string kRefused          = "org.freedesktop.NetworkManager.PermissionDenied";

// A person's own profile, made before vavivaz ever ran.
const Args kOwnProfile = {"a{sa{sv}}",
                          "2",
                          "connection",
                          "3",
                          "id",
                          "s",
                          "Mine",
                          "uuid",
                          "s",
                          "3f2504e0-4f89-41d3-9a0c-0305e82c3301",
                          "type",
                          "s",
                          "802-3-ethernet",
                          "user",
                          "1",
                          "data",
                          "a{ss}",
                          "1",
                          "note",
                          "mine"};

using Names = std::vector<std::string>;
using Calls = std::map<std::string, int>;

struct Profile {
    std::string path;
    Json        settings; // as busctl shows them: setting -> key -> {type, data}

    std::string Text(const char *setting, const char *key) const
    {
        if (!settings.contains(setting) || !settings[setting].contains(key)) return "-";
        const Json &data = settings[setting][key]["data"];
        return data.is_string() ? data.get<std::string>() : data.dump();
    }
};

class NetworkManagerFollows : public vztest::TempRoot {
  protected:
    static void SetUpTestSuite()
    {
        bus_  = new vztest::PrivateBus;
        fake_ = new vztest::FakeService(*bus_, kService, "/org/freedesktop",
                                        vztest::FakeService::Template{VZ_FAKE_NETWORKMANAGER});
        mm_   = new vztest::FakeModemManager(*bus_);
    }
    static void TearDownTestSuite()
    {
        delete mm_;
        delete fake_;
        delete bus_;
    }

    void SetUp() override
    {
        TempRoot::SetUp();
        fs::copy(vztest::TestDataPath("../../examples/root"), root_,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        setenv("VAVIVAZ_LIVE", "1", 1);
        fake_->Reset();
        mm_->Reset();
        fake_->Mock("AddEthernetDevice", "ssi", {"eth0", "en0", "100"});
        fake_->Mock("AddWiFiDevice", "ssi", {"wlan0", "en1", "30"});
    }
    void TearDown() override
    {
        unsetenv("VAVIVAZ_LIVE");
        TempRoot::TearDown();
    }

    netsetup::Outcome Ns(const Args &args) const
    {
        std::vector<const char *> argv{"vz-netsetup"};
        for (const std::string &arg : args)
            argv.push_back(arg.c_str());
        return netsetup::Run(static_cast<int>(argv.size()), argv.data());
    }
    // A change that must succeed: its output.
    std::string Change(const Args &args) const
    {
        netsetup::Outcome outcome = Ns(args);
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return outcome.out;
    }
    // vz-netsetup apply: what it says of NetworkManager (after its first
    // line, the location applied).
    std::string Apply() const
    {
        std::string out = Change({"apply"});
        return out.substr(out.find('\n') + 1);
    }

    static Json Reply(const std::string &text) { return Json::parse(text)["data"]; }

    static std::vector<Profile> Profiles()
    {
        std::vector<Profile> profiles;
        Json paths = Reply(fake_->Call(kSettings, kService + ".Settings", "ListConnections"))[0];
        for (const Json &path : paths) {
            Profile profile{path, Reply(fake_->Call(path, kProfileInterface, "GetSettings"))[0]};
            profiles.push_back(std::move(profile));
        }
        return profiles;
    }
    // The profiles of ours, as "name type" in NetworkManager's order.
    static std::vector<std::string> Ours()
    {
        std::vector<std::string> names;
        for (const Profile &profile : Profiles())
            if (profile.Text("user", "data").find("org.vavivaz.service") != std::string::npos)
                names.push_back(profile.Text("connection", "id") + " " +
                                profile.Text("connection", "type"));
        std::sort(names.begin(), names.end());
        return names;
    }
    static Profile Named(const std::string &name)
    {
        for (const Profile &profile : Profiles())
            if (profile.Text("connection", "id") == name) return profile;
        ADD_FAILURE() << "no profile named " << name;
        return {};
    }
    // The calls made on profiles since the last look, by method name.
    static std::map<std::string, int> NewCalls()
    {
        static size_t seen  = 0;
        Json          calls = Reply(fake_->Mock("GetProfileCalls", "", {}))[0];
        if (calls.size() < seen) seen = 0; // the fake was reset
        std::map<std::string, int> counts;
        for (size_t i = seen; i < calls.size(); i++) {
            std::string call = calls[i];
            counts[call.substr(0, call.find(' '))]++;
        }
        seen = calls.size();
        return counts;
    }
    static std::string Secrets(const Profile &profile, const std::string &setting)
    {
        return Reply(fake_->Call(profile.path, kProfileInterface, "GetSecrets", "s", {setting}))[0]
            .dump();
    }
    static void Fail(const std::string &error, int after)
    {
        fake_->Mock("SetFailure", "si", {error, std::to_string(after)});
    }

    static vztest::PrivateBus       *bus_;
    static vztest::FakeService      *fake_;
    static vztest::FakeModemManager *mm_;
};
vztest::PrivateBus       *NetworkManagerFollows::bus_  = nullptr;
vztest::FakeService      *NetworkManagerFollows::fake_ = nullptr;
vztest::FakeModemManager *NetworkManagerFollows::mm_   = nullptr;

TEST_F(NetworkManagerFollows, LocationsAndEditsReachTheProfiles)
{
    fake_->Call(kSettings, kService + ".Settings", "AddConnection", kOwnProfile[0],
                Args(kOwnProfile.begin() + 1, kOwnProfile.end()));
    const Json own = Named("Mine").settings;

    EXPECT_EQ(Apply(), "NetworkManager: 2 profiles added; not carried: ZORVEX Mobile (a serial "
                       "port)\n");
    EXPECT_EQ(Ours(), (Names{"AirPort 802-11-wireless", "Ethernet 802-3-ethernet"}));
    Profile ethernet = Named("Ethernet");
    EXPECT_EQ(ethernet.Text("connection", "interface-name"), "en0");
    EXPECT_EQ(ethernet.Text("802-3-ethernet", "mac-address"), "[2,90,79,16,0,1]");
    EXPECT_EQ(ethernet.Text("ipv4", "route-metric"), "100");
    EXPECT_EQ(Named("AirPort").Text("ipv4", "route-metric"), "101");

    // A location made beside the current one changes nothing there.
    NewCalls();
    Change({"location", "create", "Home", "--from-ports"});
    EXPECT_EQ(NewCalls(), (Calls{{"GetSettings", 3}, {"ListConnections", 1}}));

    std::string out = Change({"location", "switch", "Home"});
    EXPECT_NE(out.find("\nNetworkManager: 2 profiles added, 2 profiles removed; not carried: "
                       "Internal Modem (a serial port), ZORVEX Mobile (a serial port), AirPort "
                       "(no wireless network chosen)\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(Ours(),
              (Names{"Built-in Ethernet 802-3-ethernet", "Ethernet Adaptor (en2) 802-3-ethernet"}));

    out = Change({"service", "dns", "Built-in Ethernet", "192.0.2.53", "--search", "example.org"});
    EXPECT_NE(out.find("\nNetworkManager: 1 profile updated;"), std::string::npos) << out;
    EXPECT_EQ(Named("Built-in Ethernet").Text("ipv4", "dns"), "[889323712]"); // 192.0.2.53
    Change({"service", "ipv4", "Built-in Ethernet", "manual", "192.0.2.10", "255.255.255.0",
            "192.0.2.1"});
    EXPECT_EQ(Named("Built-in Ethernet").Text("ipv4", "gateway"), "192.0.2.1");
    out = Change({"service", "order", "Ethernet Adaptor (en2)"});
    EXPECT_NE(out.find("\nNetworkManager: 2 profiles updated;"), std::string::npos) << out;
    EXPECT_EQ(Named("Ethernet Adaptor (en2)").Text("ipv4", "route-metric"), "100");

    Change({"service", "disable", "Built-in Ethernet"});
    Change({"service", "delete", "Ethernet Adaptor (en2)"});
    EXPECT_EQ(Ours(), Names{});
    Change({"service", "enable", "Built-in Ethernet"});
    NewCalls();
    Change({"location", "delete", "Automatic"});
    EXPECT_EQ(NewCalls(), (Calls{{"GetSettings", 2}, {"ListConnections", 1}}));

    // Nothing changed since: an apply only reads.
    EXPECT_EQ(Apply().rfind("NetworkManager: no profile changed;", 0), 0u);
    EXPECT_EQ(NewCalls(), (Calls{{"GetSettings", 2}, {"ListConnections", 1}}));
    EXPECT_EQ(Named("Mine").settings, own);
}

// An update reaches a running profile only when it is activated again; one
// that is not running is only updated.
TEST_F(NetworkManagerFollows, AnUpdatedRunningProfileIsActivatedAgain)
{
    Apply();
    // The fake starts each profile that connects by itself as it is added:
    // only Ethernet's is to run.
    const std::string manager = "/org/freedesktop/NetworkManager";
    for (const Json &active : Reply(fake_->Busctl(
             {"--json=short", "get-property", kService, manager, kService, "ActiveConnections"})))
        fake_->Call(manager, kService, "DeactivateConnection", "o", {active.get<std::string>()});
    const std::string ethernet = Named("Ethernet").path;
    fake_->Call(manager, kService, "ActivateConnection", "ooo", {ethernet, "/", "/"});
    auto changes = [this](const Args &args) {
        size_t seen = Reply(fake_->Mock("GetProfileCalls", "", {}))[0].size();
        Change(args);
        Json  calls = Reply(fake_->Mock("GetProfileCalls", "", {}))[0];
        Names made;
        for (size_t i = seen; i < calls.size(); i++) {
            std::string call = calls[i];
            if (call.rfind("Get", 0) != 0 && call.rfind("List", 0) != 0) made.push_back(call);
        }
        return made;
    };
    EXPECT_EQ(changes({"service", "dns", "Ethernet", "192.0.2.53"}),
              (Names{"Update2 " + ethernet, "ActivateConnection " + ethernet}));
    EXPECT_EQ(changes({"service", "dns", "AirPort", "192.0.2.53"}),
              Names{"Update2 " + Named("AirPort").path});
}

TEST_F(NetworkManagerFollows, PasswordsAreSecretsOfTheProfile)
{
    Apply();
    Write("password", "s3cret\n");
    std::string out =
        Change({"pppoe", "en0", "--account", "joe", "--password-file", Path("password")});
    // The Ethernet profile could not become a PPPoE one in place.
    EXPECT_NE(out.find("NetworkManager: 1 profile added, 1 profile removed"), std::string::npos)
        << out;
    Profile pppoe = Named("Ethernet");
    EXPECT_EQ(pppoe.Text("pppoe", "username"), "joe");
    EXPECT_EQ(pppoe.Text("pppoe", "parent"), "en0");
    EXPECT_EQ(pppoe.Text("pppoe", "password"), "-");
    EXPECT_EQ(Secrets(pppoe, "pppoe"), R"({"pppoe":{"password":{"data":"s3cret","type":"s"}}})");

    // The modem's service becomes a mobile broadband profile once
    // ModemManager manages its port (the demo's registry names its terminal).
    mm_->AddModem(0, {"cu.ZORVEXMobile-Modem"}, 8);
    out += Change({"dialup", "ZORVEXMobile-Modem", "--phone", "*99#", "--account", "web",
                   "--password-file", Path("password")});
    EXPECT_NE(out.find("NetworkManager: 1 profile added; not carried: the phone number of "
                       "ZORVEX Mobile\n"),
              std::string::npos)
        << out;
    Profile gsm = Named("ZORVEX Mobile");
    EXPECT_EQ(gsm.Text("connection", "type"), "gsm");
    EXPECT_EQ(gsm.Text("gsm", "username"), "web");
    EXPECT_EQ(Secrets(gsm, "gsm"), R"({"gsm":{"password":{"data":"s3cret","type":"s"}}})");

    NewCalls();
    out += Apply() + Change({"--json", "apply"}) + Change({"apply", "--dry-run"});
    EXPECT_EQ(out.find("s3cret"), std::string::npos) << out;
    EXPECT_EQ(NewCalls(), (Calls{{"GetSecrets", 6}, {"GetSettings", 9}, {"ListConnections", 3}}));
}

TEST_F(NetworkManagerFollows, ARefusalOrAFailureIsMadeGoodByTheNextApply)
{
    Apply();
    Fail(kRefused, 0);
    netsetup::Outcome refused = Ns({"service", "dns", "Ethernet", "192.0.2.53"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vz-netsetup: the change was saved, but the running system could not "
                           "be told of it: NetworkManager refused the change: " +
                               kRefused + ": the change is refused (error 1003)\n");
    EXPECT_NE(Change({"service", "show", "Ethernet"}).find("DNS:       192.0.2.53"),
              std::string::npos); // saved, as the message says
    EXPECT_EQ(Named("Ethernet").Text("ipv4", "dns"), "-");
    Fail("", -1);
    // The plan says what the next apply will do, and does nothing.
    NewCalls();
    std::string plan = Change({"apply", "--dry-run"});
    EXPECT_EQ(plan.substr(0, plan.find('\n')),
              "NetworkManager: 1 profile to update; not carried: ZORVEX Mobile (a serial port)");
    EXPECT_NE(plan.find("\nupdate     Ethernet  802-3-ethernet   en0        "), std::string::npos)
        << plan;
    Json json = Json::parse(Change({"--json", "apply", "--dry-run"}))["networkmanager"];
    EXPECT_EQ(json["state"], "planned");
    EXPECT_EQ(json["updated"], 1);
    EXPECT_EQ(json["profiles"].size(), 2u);
    EXPECT_EQ(json["not_carried"][0]["item"], "serial-port");
    EXPECT_EQ(NewCalls(), (Calls{{"GetSettings", 4}, {"ListConnections", 2}}));
    EXPECT_EQ(Apply().rfind("NetworkManager: 1 profile updated;", 0), 0u);
    EXPECT_EQ(Named("Ethernet").Text("ipv4", "dns"), "[889323712]");

    // Switching to Office removes two profiles and adds one; the second
    // change fails.
    Fail("org.freedesktop.NetworkManager.Failed", 1);
    netsetup::Outcome halfWay = Ns({"location", "switch", "Office"});
    EXPECT_EQ(halfWay.status, 1);
    EXPECT_NE(halfWay.err.find(": NetworkManager failed after 1 of 3 profile changes: "),
              std::string::npos)
        << halfWay.err;
    Fail("", -1);
    EXPECT_EQ(Apply().rfind("NetworkManager: 1 profile added, 1 profile removed", 0), 0u);
    EXPECT_EQ(Ours(), Names{"Ethernet 802-3-ethernet"});
    EXPECT_NE(Named("Ethernet").Text("user", "data").find("B83C1D04-27E6-4A9F-8D15-C4F0E9A2763B"),
              std::string::npos);
}

TEST_F(NetworkManagerFollows, WithoutNetworkManagerTheChangeIsSavedAndSaidSo)
{
    fake_->Stop();
    std::string out = Change({"service", "dns", "Ethernet", "192.0.2.53"});
    fake_->Start();
    EXPECT_EQ(out.substr(out.find('\n') + 1),
              "NetworkManager is not running: the network was not changed.\n");
}

} // namespace
