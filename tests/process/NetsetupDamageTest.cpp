// NetsetupDamageTest.cpp: vz-netsetup over stores that other programs wrote
// or damaged, as whole processes over copies of the demo machine: a location
// whose service order is no list, a service order that leaves out, repeats or
// invents services, a link that leads nowhere and a VPN service without a
// device. Each costs only itself: listings show the rest and say what they
// could not read (exit 1), every service is reached, and the tool repairs
// what it cannot read.
#include "NetsetupFixture.h"

#include <string>
#include <vector>

namespace {

using namespace nstest;

class NetsetupDamage : public NetsetupRoot {
  protected:
    // Replaces the first from after the first after (or from the start).
    static void Edit(std::string *text, const std::string &from, const std::string &to,
                     const std::string &after = "")
    {
        size_t start = after.empty() ? 0 : text->find(after);
        ASSERT_NE(start, std::string::npos) << after;
        size_t at = text->find(from, start);
        ASSERT_NE(at, std::string::npos) << from;
        text->replace(at, from.size(), to);
    }

    // The JSON document of a command and its exit status.
    Json DocOf(Args args, int status) const
    {
        args.insert(args.begin(), "--json");
        Outcome run = Ns(args);
        EXPECT_EQ(run.status, status) << Line(args) << run.err;
        return Json::parse(run.out.empty() ? "null" : run.out);
    }
};

const std::string kOrder = "<key>ServiceOrder</key>";

std::vector<size_t> Positions(const Json &services)
{
    std::vector<size_t> positions;
    for (const Json &service : services)
        positions.push_back(service["position"]);
    return positions;
}

TEST_F(NetsetupDamage, ALocationWhoseOrderIsNoListCostsOnlyItself)
{
    std::string text = Store();
    // Office's order, a string.
    Edit(&text, "<array>\n\t\t\t\t\t\t\t<string>" + kOfficeLAN + "</string>\n\t\t\t\t\t\t</array>",
         "<string>" + kOfficeLAN + "</string>");
    ResetStore(text);

    EXPECT_EQ(Ids(Doc({"services"})["services"]).size(), 5u);
    Outcome run = Ns({"locations"});
    EXPECT_EQ(Lines(run.out).size(), 3u) << run.out;
    EXPECT_NE(run.err.find("\"Office\""), std::string::npos) << run.err;
    Json locations = DocOf({"locations"}, 1)["locations"];
    EXPECT_EQ(locations[1]["damaged"], true);
    EXPECT_EQ(locations[1]["service_count"], 1);
    // Its service is listed all the same, outside the order.
    Json office = DocOf({"--location", "Office", "services"}, 1);
    EXPECT_EQ(Ids(office["services"]), std::vector<std::string>{kOfficeLAN});
    EXPECT_EQ(office["services"][0]["position"], 0);

    // Deletes elsewhere, and the repairs, go through.
    EXPECT_EQ(Doc({"service", "delete", "AirPort"})["location"]["service_count"], 4);
    EXPECT_EQ(Doc({"location", "rename", "Office", "Work"})["location"]["name"], "Work");
    EXPECT_EQ(Doc({"location", "delete", "Work"})["location"]["id"], kOffice);
    EXPECT_EQ(Ns({"locations"}).status, 0);
}

TEST_F(NetsetupDamage, EveryLinkedServiceIsListedOnceAndReached)
{
    std::string text = Store();
    // Automatic's order leaves out the modem's service, names Ethernet twice
    // and an ID it does not link, and starts with a VPN service; AirPort's
    // link leads to no record.
    Edit(&text, "<string>" + kModem + "</string>", "", kOrder);
    Edit(&text, "<array>", "<array><string>VPN1</string>", kOrder);
    Edit(&text, "</array>", "<string>" + kEthernet + "</string><string>NOWHERE</string></array>",
         kOrder);
    Edit(&text, "<string>/NetworkServices/" + kAirPort + "</string>",
         "<string>/NetworkServices/GONE</string>");
    Edit(&text, "<key>Service</key>\n\t\t\t\t<dict>",
         "<key>Service</key><dict><key>VPN1</key><dict><key>__LINK__</key>"
         "<string>/NetworkServices/VPN1</string></dict>");
    Edit(&text, "<key>NetworkServices</key>\n\t<dict>",
         "<key>NetworkServices</key><dict><key>VPN1</key><dict><key>Interface</key><dict>"
         "<key>SubType</key><string>PPTP</string><key>Type</key><string>PPP</string></dict>"
         "<key>UserDefinedName</key><string>VPN</string></dict>");
    ResetStore(text);

    const std::vector<std::string> listed = {"VPN1", kEthernet, kAirPort, kDiag, kPcui, kModem};
    Outcome                        run    = Ns({"services"});
    EXPECT_EQ(Lines(run.out).size(), 7u) << run.out;
    for (const char *problem : {"more than once", "NOWHERE", "leaves out " /* the modem */})
        EXPECT_NE(run.err.find(problem), std::string::npos) << problem << ": " << run.err;
    EXPECT_NE(run.err.find("the service " + kAirPort), std::string::npos) << run.err;
    Json services = DocOf({"services"}, 1);
    EXPECT_EQ(Ids(services["services"]), listed);
    EXPECT_EQ(Positions(services["services"]), (std::vector<size_t>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(services["services"][2]["damaged"], true);
    EXPECT_EQ(services["location"]["service_count"], 6);

    // Reached by name, and by the probe's road.
    EXPECT_EQ(Doc({"service", "show", "ZORVEX Mobile"})["service"]["id"], kModem);
    EXPECT_EQ(Doc({"status"})["state"], "connected");

    // The one-port recipes pass over the VPN service and the damaged one; a
    // change that walks the order mends it first.
    run = Ns({"dialup", "ZORVEXMobile-Modem", "--phone", "*99#"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("mended the service order"), std::string::npos) << run.err;
    EXPECT_EQ(Doc({"service", "show", kModem})["service"]["ppp"]["remote_address"], "*99#");
    // The damaged service can be deleted, which repairs the location.
    EXPECT_EQ(Doc({"service", "delete", kAirPort})["service"]["damaged"], true);
    EXPECT_EQ(Positions(Doc({"services"})["services"]), (std::vector<size_t>{1, 2, 3, 4, 5}));

    // 'service order' mends an order that repeats and leaves out services,
    // even when the services named are first already.
    ResetStore(text);
    Json order = DocOf({"service", "order", "VPN"}, 0);
    EXPECT_EQ(Ids(order["services"]), listed);
    EXPECT_EQ(Positions(order["services"]), (std::vector<size_t>{1, 2, 3, 4, 5, 6}));
}

} // namespace
