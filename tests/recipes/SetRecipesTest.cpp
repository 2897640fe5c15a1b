// SetRecipesTest.cpp: the recipes that configure one port's service in the
// current set, with ready-made entities and from dial-up and PPPoE digests;
// what they activate, deactivate, replace, merge and leave alone; the changes
// a recipe that fails half-way keeps; finding sets by name and the first port
// of a kind.
#include "../ports/PortTestSupport.h"
#include "RecipeStore.h"
#include "VaviVAZHelpers.h"

using namespace edit;
using namespace recipes;
using namespace storetext;
using vztest::Utf8;

namespace {

using SetRecipes = RecipeTest;

bool Active(const Tree &tree, const std::string &serviceID)
{
    return tree.has("NetworkServices/" + serviceID) &&
           !tree.has("NetworkServices/" + serviceID + "/__INACTIVE__");
}

bool Same(const Tree &tree, const std::string &path, const std::string &xmlValue)
{
    Plist expected(xmlValue);
    return tree.at(path) != nullptr && CFEqual(tree.at(path), expected.dict());
}

TEST_F(SetRecipes, TheRequestedPortIsConfiguredAndTheAuxiliaryPortsSwitchedOff)
{
    const std::string ppp = Dict({{"CommRemoteAddress", Str("*99***1#")}});
    Plist settings(Dict({{"PPP", ppp}, {"Interface", Dict({{"UserDefinedName", Str("Mobile")}})}}));
    Tree  before(RecipeStore());
    Out<CFStringRef> setID;
    ASSERT_EQ(MoreSCMakeNewSingleServiceSet(CFSTR("ZORVEXMobile-Modem"), CFSTR("Ignored"),
                                            settings.dict(), setID.put()),
              noErr);
    EXPECT_EQ(Utf8(setID.get()), "S1");

    Tree tree(StoreXML());
    for (const std::string id : {"M", "M2"}) {
        EXPECT_TRUE(Active(tree, id)) << id;
        EXPECT_TRUE(Same(tree, "NetworkServices/" + id + "/PPP", ppp)) << id;
        // Merged: the new name wins, the rest of the interface stays.
        EXPECT_EQ(tree.text("NetworkServices/" + id + "/Interface/UserDefinedName"), "Mobile");
        EXPECT_EQ(tree.text("NetworkServices/" + id + "/Interface/DeviceName"),
                  "ZORVEXMobile-Modem");
        EXPECT_EQ(tree.text("NetworkServices/" + id + "/Interface/SubType"), "PPPSerial");
    }
    // Entities the settings do not name stay as they were.
    EXPECT_EQ(tree.text("NetworkServices/M/Modem/ConnectionScript"), "Old Script");
    EXPECT_FALSE(Active(tree, "D"));
    EXPECT_FALSE(Active(tree, "P"));
    EXPECT_TRUE(Active(tree, "E"));
    EXPECT_TRUE(CFEqual(tree.at("NetworkServices/E"), before.at("NetworkServices/E")));
    // Only the current set is touched, and it keeps its name.
    EXPECT_TRUE(Active(tree, "D2"));
    EXPECT_EQ(tree.text("Sets/S1/UserDefinedName"), "Home");
    EXPECT_EQ(tree.keys("Sets"), (std::vector<std::string>{"S1", "S2"}));
}

TEST_F(SetRecipes, WithoutAServiceOnThePortOnlyTheAuxiliaryPortsChange)
{
    Plist settings(Dict({{"PPP", Dict({})}}));
    ASSERT_EQ(MoreSCMakeNewSingleServiceSet(CFSTR("en5"), CFSTR("Name"), settings.dict(), NULL),
              noErr);
    Tree tree(StoreXML());
    EXPECT_FALSE(Active(tree, "D"));
    EXPECT_FALSE(Active(tree, "P"));
    EXPECT_FALSE(Active(tree, "M"));
    EXPECT_EQ(tree.text("NetworkServices/M/PPP/CommRemoteAddress"), "*99#");
    EXPECT_FALSE(tree.has("NetworkServices/E/PPP"));

    // An auxiliary port asked for is configured and active; the other one is not.
    ASSERT_EQ(MoreSCMakeNewSingleServiceSet(CFSTR("ZORVEXMobile-Diag"), CFSTR("Name"),
                                            settings.dict(), NULL),
              noErr);
    Tree again(StoreXML());
    EXPECT_TRUE(Active(again, "D"));
    EXPECT_TRUE(again.has("NetworkServices/D/PPP"));
    EXPECT_FALSE(Active(again, "P"));
}

TEST_F(SetRecipes, ServicesWithoutADeviceNameArePassedOver)
{
    // The current set orders, between the auxiliary ports' services, X, a VPN
    // service whose interface has no device, and G, whose link leads to no
    // record; M is the modem's.
    Entries all = {
        {"D", Dict({{"Interface", ModemInterface("ZORVEXMobile-Diag")},
                    {"UserDefinedName", Str("Diagnostics")}})},
        {"X", Dict({{"Interface", Dict({{"Type", Str("PPP")}, {"SubType", Str("PPTP")}})},
                    {"UserDefinedName", Str("VPN")}})},
        {"P", Dict({{"Interface", ModemInterface("ZORVEXMobile-Pcui")},
                    {"UserDefinedName", Str("Control")}})},
        {"M", Dict({{"Interface", ModemInterface("ZORVEXMobile-Modem")},
                    {"UserDefinedName", Str("Modem")}})},
    };
    Plist settings(Dict({{"PPP", Dict({})}}));
    struct Row {
        std::vector<std::string> order;
        const char              *port;
        bool                     fails; // a damaged service may have been on the port
    };
    const Row rows[] = {
        {{"D", "X", "G", "P", "M"}, "ZORVEXMobile-Modem", false},
        {{"D", "X", "P"}, "en9", false},
        {{"D", "X", "G", "P"}, "en9", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.order.size());
        Write(kStorePath, StoreText(all, {{"S1", SetText("Home", row.order)}}));
        Out<CFStringRef> setID;
        OSStatus         err = MoreSCMakeNewSingleServiceSet(vztest::Str(row.port), CFSTR("Name"),
                                                             settings.dict(), setID.put());
        EXPECT_EQ(err, row.fails ? OSStatus(kSCStatusNoKey) : OSStatus(noErr));
        EXPECT_EQ(setID.get() != nullptr, !row.fails);
        // Kept even by the failed recipe.
        Tree tree(StoreXML());
        EXPECT_FALSE(Active(tree, "D"));
        EXPECT_FALSE(Active(tree, "P"));
        EXPECT_EQ(tree.has("NetworkServices/M/PPP"), row.order.back() == "M");
    }
}

TEST_F(SetRecipes, DialUpReplacesOnlyTheEntitiesItIsGiven)
{
    MoreSCPPPDigest ppp   = {};
    ppp.active            = true;
    ppp.commRemoteAddress = CFSTR("*99#");
    ASSERT_EQ(MoreSCMakeNewDialupSet(CFSTR("ZORVEXMobile-Modem"), CFSTR("Mobile"), NULL, &ppp, NULL,
                                     NULL, NULL),
              noErr);
    Tree                        tree(StoreXML());
    Out<CFMutableDictionaryRef> pppEntity;
    ASSERT_EQ(MoreSCCreatePPPEntity(&ppp, pppEntity.put()), noErr);
    EXPECT_TRUE(CFEqual(tree.at("NetworkServices/M/PPP"), pppEntity.get()));
    EXPECT_TRUE(Active(tree, "M"));
    EXPECT_EQ(tree.text("NetworkServices/M/Modem/ConnectionScript"), "Old Script");
    EXPECT_TRUE(Same(tree, "NetworkServices/M/DNS",
                     Dict({{"ServerAddresses", Array({Str("10.0.0.53")})}})));
    EXPECT_TRUE(Same(tree, "NetworkServices/M/IPv4", Dict({{"ConfigMethod", Str("PPP")}})));
    EXPECT_TRUE(Same(tree, "NetworkServices/M/Interface", ModemInterface("ZORVEXMobile-Modem")));

    // With every digest given, every entity is replaced.
    MoreSCModemDigest modem  = kMoreSCModemDigestDefault;
    modem.connectionScript   = CFSTR("ZORVEX Mobile");
    MoreSCIPv4Digest ipv4    = {};
    ipv4.configMethod        = kSCValNetIPv4ConfigMethodPPP;
    struct in_addr server    = {};
    server.s_addr            = htonl(0x08080808);
    MoreSCDNSDigest dns      = {};
    dns.serverAddressesCount = 1;
    dns.serverAddresses      = &server;
    Out<CFStringRef> setID;
    ASSERT_EQ(MoreSCMakeNewDialupSet(CFSTR("ZORVEXMobile-Modem"), CFSTR("Mobile"), &modem, &ppp,
                                     &ipv4, &dns, setID.put()),
              noErr);
    EXPECT_EQ(Utf8(setID.get()), "S1");
    Tree full(StoreXML());
    EXPECT_EQ(full.text("NetworkServices/M/Modem/ConnectionScript"), "ZORVEX Mobile");
    EXPECT_EQ(full.text("NetworkServices/M2/Modem/ConnectionScript"), "ZORVEX Mobile");
    EXPECT_TRUE(
        Same(full, "NetworkServices/M/DNS", Dict({{"ServerAddresses", Array({Str("8.8.8.8")})}})));

    // Without a port nothing happens at all.
    FileStamp before = Stamp();
    EXPECT_EQ(MoreSCMakeNewDialupSet(NULL, CFSTR("Mobile"), NULL, &ppp, NULL, NULL, NULL),
              kMoreSCErrorBadRequest);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(SetRecipes, PPPoETurnsAnEthernetServiceIntoPPPOverEthernet)
{
    Machine({vztest::NetworkPort("en1", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 2})}}, {},
                                 "IO80211Interface"),
             vztest::NetworkPort("en0", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 1})}})});
    MoreSCPPPDigest ppp = {};
    ppp.active          = true;
    ppp.authName        = CFSTR("user");
    ppp.options         = MoreSCGetDefaultPPPOptions(true);
    // No port given: the first Ethernet port, en0 (not the AirPort card).
    ASSERT_EQ(MoreSCMakeNewPPPoESet(NULL, CFSTR("DSL"), &ppp, NULL, NULL, NULL), noErr);
    Tree tree(StoreXML());
    EXPECT_TRUE(Same(tree, "NetworkServices/E/IPv4", Dict({{"ConfigMethod", Str("PPP")}})));
    EXPECT_TRUE(Same(tree, "NetworkServices/E/Interface",
                     Dict({{"DeviceName", Str("en0")},
                           {"Hardware", Str("Ethernet")},
                           {"Type", Str("PPP")},
                           {"SubType", Str("PPPoE")},
                           {"UserDefinedName", Str("Ethernet")}})));
    EXPECT_EQ(tree.text("NetworkServices/E/PPP/AuthName"), "user");
    EXPECT_EQ(tree.integer("NetworkServices/E/PPP/DisconnectOnIdleTimer"), 1800);
    EXPECT_TRUE(Same(tree, "NetworkServices/E/DNS", Dict({})));
    EXPECT_FALSE(Active(tree, "D"));

    // A machine without Ethernet has no port for it.
    Machine({vztest::SerialPort(true, "modem", "modem")});
    Write(kStorePath, RecipeStore());
    FileStamp before = Stamp();
    EXPECT_EQ(MoreSCMakeNewPPPoESet(NULL, CFSTR("DSL"), &ppp, NULL, NULL, NULL),
              kMoreSCErrorBadRequest);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(SetRecipes, SetsAreFoundByTheirExactName)
{
    struct Case {
        const char *name;
        const char *setID; // NULL: none
    };
    const Case kCases[] = {{"Office", "S2"}, {"Home", "S1"}, {"home", NULL}, {"Away", NULL}};
    for (const Case &c : kCases) {
        Out<CFStringRef> setID;
        vztest::Str      name(c.name);
        EXPECT_EQ(VaviVAZindSetByUserVisibleNameAndCopyID(name, setID.put()), noErr) << c.name;
        EXPECT_EQ(Utf8(setID.get()), c.setID ? c.setID : "(null)") << c.name;
    }

    // A set without a name ends the search.
    Write(kStorePath, StoreText(StandardServices(), {{"S1", SetText("Home", {"A"})},
                                                     {"S3", Dict({{"Network", Dict({})}})}}));
    Out<CFStringRef> setID;
    EXPECT_EQ(VaviVAZindSetByUserVisibleNameAndCopyID(CFSTR("Nowhere"), setID.put()),
              kCFQErrorObjectNotMade);
    EXPECT_EQ(setID.get(), nullptr);
}

TEST_F(SetRecipes, TheFirstPortOfAKindInPortOrder)
{
    Machine({vztest::NetworkPort("en2", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 3})}}),
             vztest::NetworkPort("en1", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 2})}}, {},
                                 "IO80211Interface"),
             vztest::NetworkPort("en0", {{"IOMACAddress", vztest::Data({2, 0, 0, 0, 0, 1})}}),
             vztest::SerialPort(true, "usbmodem", "usbmodem1",
                                {{"Product Name", vztest::String("USB Modem")}}),
             vztest::SerialPort(true, "modem", "modem")});
    struct Case {
        CFStringRef hardware;
        const char *bsdName;
    };
    const Case kCases[] = {{kSCEntNetEthernet, "en0"},
                           {kSCEntNetAirPort, "en1"},
                           {kSCEntNetModem, "modem"},
                           {kSCEntNetFireWire, "(null)"}};
    for (const Case &c : kCases) {
        Out<CFStringRef> bsdName;
        EXPECT_EQ(VaviVAZCopyDefaultPortBSDName(c.hardware, bsdName.put()), noErr);
        EXPECT_EQ(Utf8(bsdName.get()), c.bsdName) << Utf8(c.hardware);
    }

    // A registry that cannot be read is the scan's error.
    Write(vztest::kRegistryPath, "not a property list");
    Out<CFStringRef> bsdName;
    EXPECT_NE(VaviVAZCopyDefaultPortBSDName(kSCEntNetEthernet, bsdName.put()), noErr);
    EXPECT_EQ(bsdName.get(), nullptr);
}

} // namespace
