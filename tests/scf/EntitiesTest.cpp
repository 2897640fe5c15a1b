// EntitiesTest.cpp: the entities of a service as a whole: listing them apart
// from the service's own properties, replacing them all, adding and removing
// one, through a shared service and in a set's globals, and the calls that
// are refused without changing anything.
#include "EditStore.h"
#include "Internal.h"
#include "VaviVAZ.h"
#include "VaviVAZDigest.h"

using namespace edit;
using namespace storetext;

namespace {

using Entities = EditTest;

TEST_F(Entities, ListingSkipsThePropertiesOfTheService)
{
    // D holds nothing but its name and its inactive mark.
    Entries services = StandardServices();
    services.push_back({"D", Dict({{"UserDefinedName", Str("Bare")}, {"__INACTIVE__", Int(1)}})});
    Entries sets = StandardSets();
    sets[0]      = {"S1", SetText("Home", {"A", "B", "D"})};
    Write(kStorePath, StoreText(services, sets));

    Out<CFArrayRef> protocols, values;
    ASSERT_EQ(MoreSCCopyEntities(NULL, CFSTR("B"), protocols.put(), values.put()), noErr);
    EXPECT_EQ(Strings(protocols.get()), (std::vector<std::string>{"Interface", "Modem", "PPP"}));
    ASSERT_EQ(CFArrayGetCount(values.get()), 3);
    for (CFIndex i = 0; i < 3; i++) {
        Out<CFDictionaryRef> entity;
        ASSERT_EQ(
            MoreSCCopyEntity(NULL, CFSTR("B"),
                             static_cast<CFStringRef>(CFArrayGetValueAtIndex(protocols.get(), i)),
                             entity.put()),
            noErr);
        EXPECT_TRUE(CFEqual(CFArrayGetValueAtIndex(values.get(), i), entity.get())) << i;
    }

    // Either list alone.
    Out<CFArrayRef> onlyProtocols, onlyValues;
    ASSERT_EQ(MoreSCCopyEntities(NULL, CFSTR("B"), onlyProtocols.put(), NULL), noErr);
    EXPECT_TRUE(CFEqual(onlyProtocols.get(), protocols.get()));
    ASSERT_EQ(MoreSCCopyEntities(NULL, CFSTR("B"), NULL, onlyValues.put()), noErr);
    EXPECT_TRUE(CFEqual(onlyValues.get(), values.get()));

    protocols.reset();
    values.reset();
    ASSERT_EQ(MoreSCCopyEntities(NULL, CFSTR("D"), protocols.put(), values.put()), noErr);
    EXPECT_EQ(CFArrayGetCount(protocols.get()), 0);
    EXPECT_EQ(CFArrayGetCount(values.get()), 0);
}

TEST_F(Entities, AServiceTheSetDoesNotHoldIsReportedAndNothingIsWritten)
{
    FileStamp                   before = Stamp();
    Plist                       entity(Dict({{"ConfigMethod", Str("Manual")}}));
    Out<CFArrayRef>             protocols, values;
    Out<CFDictionaryRef>        dict;
    Out<CFMutableDictionaryRef> mutableDict;

    // C is a service of S2, not of the current set S1.
    EXPECT_PRED1(IsPlatformMiss,
                 MoreSCCopyEntities(NULL, CFSTR("C"), protocols.put(), values.put()));
    EXPECT_EQ(protocols.get(), nullptr);
    EXPECT_EQ(values.get(), nullptr);
    // Either list alone fails the same way.
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyEntities(NULL, CFSTR("C"), protocols.put(), NULL));
    EXPECT_EQ(protocols.get(), nullptr);
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyEntities(NULL, CFSTR("C"), NULL, values.put()));
    EXPECT_EQ(values.get(), nullptr);
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyEntitiesDict(NULL, CFSTR("C"), dict.put()));
    EXPECT_EQ(dict.get(), nullptr);
    EXPECT_PRED1(IsPlatformMiss,
                 MoreSCCopyEntitiesDictMutable(NULL, CFSTR("C"), mutableDict.put()));
    EXPECT_EQ(mutableDict.get(), nullptr);
    EXPECT_PRED1(IsPlatformMiss,
                 MoreSCNewEntity(NULL, CFSTR("C"), kSCEntNetProxies, entity.dict()));
    EXPECT_PRED1(IsPlatformMiss, MoreSCDeleteEntity(NULL, CFSTR("C"), kSCEntNetIPv4));
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(Entities, ReplacingAllEntitiesKeepsTheServicesOwnProperties)
{
    Plist protocols(Array({Str("IPv4"), Str("Proxies")}));
    Plist values(Array({Dict({{"ConfigMethod", Str("PPP")}}), Dict({{"FTPPassive", Int(1)}})}));

    ASSERT_EQ(MoreSCSetEntities(NULL, CFSTR("B"), protocols.array(), values.array()), noErr);
    {
        Tree tree(StoreXML());
        EXPECT_EQ(tree.keys("NetworkServices/B"),
                  (std::vector<std::string>{"IPv4", "Proxies", "UserDefinedName", "__INACTIVE__"}));
        EXPECT_EQ(tree.text("NetworkServices/B/IPv4/ConfigMethod"), "PPP");
        EXPECT_EQ(tree.text("NetworkServices/B/UserDefinedName"), "Internal Modem");
    }

    Plist none(Array({}));
    ASSERT_EQ(MoreSCSetEntities(NULL, CFSTR("B"), none.array(), none.array()), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("NetworkServices/B"),
              (std::vector<std::string>{"UserDefinedName", "__INACTIVE__"}));
    EXPECT_EQ(tree.integer("NetworkServices/B/__INACTIVE__"), 1);
}

TEST_F(Entities, ReplacementsThatWouldDropAnEntityAreRefused)
{
    struct Case {
        std::vector<std::string> protocols;
        const char              *why;
    };
    const Case kCases[] = {
        {{"IPv4", "IPv4"}, "a protocol named twice"},
        {{"DNS", "Proxies", "DNS"}, "a protocol named twice, apart"},
        {{"IPv4", "UserDefinedName"}, "the service's name"},
        {{"__INACTIVE__"}, "the service's inactive mark"},
    };
    FileStamp before = Stamp();
    for (const Case &c : kCases) {
        std::vector<std::string> protocolText, valueText;
        for (const auto &protocol : c.protocols) {
            protocolText.push_back(Str(protocol));
            valueText.push_back(Dict({{"Mark", Str(protocol)}}));
        }
        Plist protocols(Array(protocolText));
        Plist values(Array(valueText));

        // Inside a bracket the snapshot must be untouched as well.
        OSStatus outer = MoreSCOpen(false, false);
        ASSERT_EQ(outer, noErr);
        Out<CFDictionaryRef> was, is;
        ASSERT_EQ(MoreSCCopyEntitiesDict(NULL, CFSTR("B"), was.put()), noErr);
        EXPECT_EQ(MoreSCSetEntities(NULL, CFSTR("B"), protocols.array(), values.array()),
                  kMoreSCErrorBadRequest)
            << c.why;
        ASSERT_EQ(MoreSCCopyEntitiesDict(NULL, CFSTR("B"), is.put()), noErr);
        EXPECT_TRUE(CFEqual(was.get(), is.get())) << c.why;
        MoreSCClose(&outer, false);

        EXPECT_EQ(MoreSCSetEntities(NULL, CFSTR("B"), protocols.array(), values.array()),
                  kMoreSCErrorBadRequest)
            << c.why;
        EXPECT_TRUE(Stamp() == before) << c.why;
    }
}

TEST_F(Entities, OneEntityAddedOrRemovedThroughALinkIsSeenFromEverySet)
{
    Plist proxies(Dict({{"FTPPassive", Int(1)}}));

    // A is linked from both sets; the change is made through S2.
    ASSERT_EQ(MoreSCNewEntity(CFSTR("S2"), CFSTR("A"), kSCEntNetProxies, proxies.dict()), noErr);
    Out<CFDictionaryRef> seen;
    ASSERT_EQ(MoreSCCopyEntity(CFSTR("S1"), CFSTR("A"), kSCEntNetProxies, seen.put()), noErr);
    EXPECT_TRUE(CFEqual(seen.get(), proxies.dict()));

    ASSERT_EQ(MoreSCDeleteEntity(NULL, CFSTR("A"), kSCEntNetDNS), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("NetworkServices/A"),
              (std::vector<std::string>{"IPv4", "Interface", "Proxies", "UserDefinedName"}));
}

TEST_F(Entities, AddingAnEntityThatExistsOrRemovingOneThatDoesNotChangesNothing)
{
    Plist     ipv4(Dict({{"ConfigMethod", Str("Manual")}}));
    FileStamp before = Stamp();

    EXPECT_EQ(MoreSCNewEntity(NULL, CFSTR("A"), kSCEntNetIPv4, ipv4.dict()),
              kMoreSCErrorBadRequest);
    EXPECT_EQ(MoreSCDeleteEntity(NULL, CFSTR("A"), kSCEntNetProxies), kMoreSCErrorBadRequest);
    EXPECT_EQ(MoreSCDeleteEntity(CFSTR("S1"), NULL, kSCEntNetDNS), kMoreSCErrorBadRequest);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(Entities, NoServiceMeansTheSetsGlobals)
{
    Plist netInfo(Dict({{"BindingMethods", Array({Str("DHCP")})}}));

    ASSERT_EQ(MoreSCNewEntity(CFSTR("S2"), NULL, kSCEntNetNetInfo, netInfo.dict()), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("Sets/S2/Network/Global"), (std::vector<std::string>{"IPv4", "NetInfo"}));

    Out<CFArrayRef> protocols;
    ASSERT_EQ(MoreSCCopyEntities(CFSTR("S2"), NULL, protocols.put(), NULL), noErr);
    EXPECT_EQ(Strings(protocols.get()), (std::vector<std::string>{"IPv4", "NetInfo"}));

    ASSERT_EQ(MoreSCDeleteEntity(CFSTR("S2"), NULL, kSCEntNetNetInfo), noErr);
    Tree after(StoreXML());
    EXPECT_EQ(after.keys("Sets/S2/Network/Global"), (std::vector<std::string>{"IPv4"}));
}

TEST_F(Entities, EntitiesBuiltFromDigestsAreAddedInsideTheCallersBracket)
{
    MoreSCProxiesDigest    proxiesDigest = {};
    MoreSCGlobalDigest     globalDigest  = {};
    CFMutableDictionaryRef built         = NULL;
    ASSERT_EQ(MoreSCCreateEntity(kSCEntNetProxies, &proxiesDigest, &built), noErr);
    FileStamp before = Stamp();

    // They leave committing to the caller's bracket.
    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(AddEntityToService(NULL, CFSTR("A"), kSCEntNetProxies, &proxiesDigest), noErr);
    EXPECT_EQ(AddGlobalEntityToSet(CFSTR("S2"), kSCEntNetNetInfo, &globalDigest), noErr);
    MoreSCClose(&err, false);
    EXPECT_TRUE(Stamp() == before);

    err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(AddEntityToService(NULL, CFSTR("A"), kSCEntNetProxies, &proxiesDigest), noErr);
    EXPECT_EQ(AddEntityToService(NULL, CFSTR("A"), kSCEntNetProxies, &proxiesDigest),
              kMoreSCErrorBadRequest);
    EXPECT_EQ(AddGlobalEntityToSet(CFSTR("S2"), kSCEntNetNetInfo, &globalDigest), noErr);
    EXPECT_EQ(AddGlobalEntityToSet(CFSTR("S2"), kSCEntNetIPv4, &globalDigest),
              kMoreSCErrorBadRequest);
    MoreSCClose(&err, true);
    ASSERT_EQ(err, noErr);

    Tree tree(StoreXML());
    EXPECT_TRUE(CFEqual(tree.at("NetworkServices/A/Proxies"), built));
    EXPECT_TRUE(tree.has("Sets/S2/Network/Global/NetInfo"));
    EXPECT_EQ(tree.order("S2"), (std::vector<std::string>{"C", "A"}));
    CFRelease(built);
}

} // namespace
