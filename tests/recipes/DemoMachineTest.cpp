// DemoMachineTest.cpp: the demo machine of examples/ configured end to end,
// as examples/README.md shows it: a new set with a service for every port of
// its registry, the dial-up recipe on the maker's modem, and a DHCP lease
// released over two applies. What the running system was given is also
// checked as the platform's vz-scutil and the status probe see it.
#include "../process/RunTool.h"
#include "RecipeStore.h"
#include "VaviVAZHelpers.h"
#include "VaviVAZPortScanner.h"

using namespace edit;
using namespace recipes;
using vztest::Utf8;

namespace {

// The current set's services on the maker's modem ports, and on Ethernet.
const std::string kModemService       = "E5A03C19-7B64-4E2F-A8D0-93F1B6C2574E";
const std::string kDiagnosticsService = "C2E91B47-6F08-4D3A-8E5C-A17B2F40D963";
const std::string kControlService     = "4B7F0E93-A2D1-4C86-95B3-E0C64A1F8D27";
const std::string kEthernetService    = "1F6C2A80-3D4E-4B19-9A07-6E52D8C1B3F4";
const std::string kAirPortService     = "8A4D7E21-C5B3-4F60-B219-3E7A0D9C5F82";

class DemoMachine : public RecipeTest {
  protected:
    void SetUp() override
    {
        RecipeTest::SetUp();
        UseDemoMachine();
    }

    bool Published(const std::string &key) const
    {
        return DynamicStoreWrites::Holds(Read(kDynamicStorePath), key);
    }
};

bool Active(const Tree &tree, const std::string &serviceID)
{
    return !tree.has("NetworkServices/" + serviceID + "/__INACTIVE__");
}

TEST_F(DemoMachine, ANewSetHasAServiceForEveryPortInPortOrder)
{
    const std::string current = Tree(StoreXML()).text("CurrentSet");
    Out<CFStringRef>  setID, found;
    ASSERT_EQ(MoreSCNewSet(CFSTR("Every port"), setID.put()), noErr);
    ASSERT_EQ(VaviVAZindSetByUserVisibleNameAndCopyID(CFSTR("Every port"), found.put()), noErr);
    EXPECT_TRUE(CFEqual(found.get(), setID.get()));

    Tree                     tree(StoreXML());
    std::vector<std::string> names, devices, scripts, links;
    for (const std::string &id : tree.order(Utf8(setID.get()))) {
        std::string service = "NetworkServices/" + id;
        names.push_back(tree.text(service + "/UserDefinedName"));
        devices.push_back(tree.text(service + "/Interface/DeviceName"));
        if (tree.has(service + "/Modem")) {
            scripts.push_back(tree.text(service + "/Modem/ConnectionScript"));
            links.push_back(tree.has(service + "/Modem/HoldEnabled") ? "Modem, hold" : "Modem");
        } else if (tree.has(service + "/Ethernet")) {
            links.push_back("Ethernet " + tree.text(service + "/Ethernet/MACAddress"));
        } else {
            links.push_back(tree.has(service + "/AirPort") ? "AirPort" : "none");
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Internal Modem", "ZORVEX Mobile", "ZORVEX Mobile",
                                               "ZORVEX Mobile", "Built-in Ethernet", "AirPort",
                                               "Ethernet Adaptor (en2)"}));
    EXPECT_EQ(devices, (std::vector<std::string>{"modem", "ZORVEXMobile-Modem", "ZORVEXMobile-Diag",
                                                 "ZORVEXMobile-Pcui", "en0", "en1", "en2"}));
    EXPECT_EQ(links, (std::vector<std::string>{"Modem, hold", "Modem", "Modem", "Modem",
                                               "Ethernet 02:5a:4f:10:00:01", "AirPort",
                                               "Ethernet 02:5a:4f:10:00:03"}));
    EXPECT_EQ(scripts, std::vector<std::string>(4, "Internal 56K Modem (v.90)"));
    // The new set is not made current.
    EXPECT_EQ(tree.text("CurrentSet"), current);
}

TEST_F(DemoMachine, DialUpOnTheModemSwitchesItsOtherPortsOff)
{
    // The other way round first: the data port's service off, the others on.
    vztest::Str modem(kModemService.c_str()), diagnostics(kDiagnosticsService.c_str()),
        control(kControlService.c_str());
    ASSERT_EQ(MoreSCSetServiceActive(NULL, modem, false), noErr);
    ASSERT_EQ(MoreSCSetServiceActive(NULL, diagnostics, true), noErr);
    ASSERT_EQ(MoreSCSetServiceActive(NULL, control, true), noErr);
    ASSERT_TRUE(Published("Setup:/Network/Service/" + kDiagnosticsService + "/Interface"));

    MoreSCPPPDigest ppp      = {};
    ppp.active               = true;
    ppp.commRemoteAddress    = CFSTR("*99#");
    MoreSCModemDigest script = kMoreSCModemDigestDefault;
    script.connectionScript  = CFSTR("ZORVEX Mobile");
    Out<CFStringRef> setID, currentSetID;
    ASSERT_EQ(MoreSCMakeNewDialupSet(CFSTR("ZORVEXMobile-Modem"), CFSTR("Mobile"), &script, &ppp,
                                     NULL, NULL, setID.put()),
              noErr);
    ASSERT_EQ(MoreSCCopyCurrentSet(currentSetID.put()), noErr);
    EXPECT_TRUE(CFEqual(setID.get(), currentSetID.get()));

    Tree tree(StoreXML());
    EXPECT_TRUE(Active(tree, kModemService));
    EXPECT_FALSE(Active(tree, kDiagnosticsService));
    EXPECT_FALSE(Active(tree, kControlService));
    EXPECT_TRUE(Active(tree, kEthernetService));
    EXPECT_EQ(tree.text("NetworkServices/" + kModemService + "/PPP/CommRemoteAddress"), "*99#");
    EXPECT_EQ(tree.text("NetworkServices/" + kModemService + "/Modem/ConnectionScript"),
              "ZORVEX Mobile");
    // What the running system was given, as another program lists it; and
    // the probe still finds the modem's service, connected.
    vztest::ToolOutcome listed = vztest::RunTool(
        {VZ_VZ_SCUTIL_PATH, "--root", root_, "list", "Setup:/Network/Service/.*"}, Path("scutil"));
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_NE(listed.out.find("Setup:/Network/Service/" + kModemService + "/PPP\n"),
              std::string::npos);
    EXPECT_EQ(listed.out.find(kDiagnosticsService), std::string::npos);
    EXPECT_EQ(listed.out.find(kControlService), std::string::npos);
    EXPECT_EQ(vztest::RunTool({VZ_ZORVEX_MODEM_STATUS_PATH}, Path("probe")).status, 0);
}

TEST_F(DemoMachine, ADHCPReleaseAppliesTwice)
{
    Out<CFArrayRef> dhcp;
    ASSERT_EQ(MoreSCCreateActiveDHCPServicesArray(dhcp.put()), noErr);
    EXPECT_EQ(Sorted(Strings(dhcp.get())), Sorted({kEthernetService, kAirPortService}));

    std::vector<bool> ipv4;
    {
        DynamicStoreWrites writes;
        vztest::Str        ethernet(kEthernetService.c_str());
        ASSERT_EQ(MoreSCDHCPRelease(ethernet), noErr);
        ipv4 = writes.Holding(IPv4Key(kEthernetService));
    }
    EXPECT_EQ(ipv4, (std::vector<bool>{false, true}));
    dhcp.reset();
    ASSERT_EQ(MoreSCCreateActiveDHCPServicesArray(dhcp.put()), noErr);
    EXPECT_EQ(Sorted(Strings(dhcp.get())), Sorted({kEthernetService, kAirPortService}));
}

} // namespace
