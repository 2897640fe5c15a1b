// ServicesTest.cpp: editing services and their entities: inactive marks of
// services and entities, the services dictionary and order kept in step,
// mutable copies, one entity written whole, service names in the shared
// record, and stores whose content the editors must report, not trust.
#include "EditStore.h"
#include "Internal.h"
#include "VaviVAZ.h"

using namespace edit;
using namespace storetext;

namespace {

using Services = EditTest;

TEST_F(Services, InactiveMarkOfAServiceIsTheNumberOneAndIsRemovedToActivate)
{
    Boolean active = true;

    ASSERT_EQ(MoreSCSetServiceActive(NULL, CFSTR("A"), false), noErr);
    {
        Tree tree(StoreXML());
        EXPECT_EQ(tree.integer("NetworkServices/A/__INACTIVE__"), 1);
    }
    ASSERT_EQ(MoreSCIsServiceActive(CFSTR("S2"), CFSTR("A"), &active), noErr);
    EXPECT_FALSE(active);

    // The state already in force: nothing is written, nothing committed.
    FileStamp before = Stamp();
    ASSERT_EQ(MoreSCSetServiceActive(NULL, CFSTR("A"), false), noErr);
    EXPECT_TRUE(Stamp() == before);

    ASSERT_EQ(MoreSCSetServiceActive(NULL, CFSTR("A"), true), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("NetworkServices/A"),
              (std::vector<std::string>{"DNS", "IPv4", "Interface", "UserDefinedName"}));
}

TEST_F(Services, AnyInactiveMarkReadsAsInactive)
{
    for (const std::string &mark : {Int(0), Int(1), Str(""), Array({})}) {
        Entries services = StandardServices();
        services[0]      = {"A", Dict({{"UserDefinedName", Str("Ethernet")},
                                       {"Interface", Dict({{"__INACTIVE__", mark}})},
                                       {"__INACTIVE__", mark}})};
        Write(kStorePath, StoreText(services, StandardSets()));

        Boolean serviceActive = true, entityActive = true;
        EXPECT_EQ(MoreSCIsServiceActive(NULL, CFSTR("A"), &serviceActive), noErr);
        EXPECT_EQ(MoreSCIsEntityActive(NULL, CFSTR("A"), kSCEntNetInterface, &entityActive), noErr);
        EXPECT_FALSE(serviceActive) << mark;
        EXPECT_FALSE(entityActive) << mark;

        ASSERT_EQ(MoreSCSetServiceActive(NULL, CFSTR("A"), true), noErr);
        ASSERT_EQ(MoreSCSetEntityActive(NULL, CFSTR("A"), kSCEntNetInterface, true), noErr);
        Tree tree(StoreXML());
        EXPECT_FALSE(tree.has("NetworkServices/A/__INACTIVE__")) << mark;
        EXPECT_FALSE(tree.has("NetworkServices/A/Interface/__INACTIVE__")) << mark;
    }
}

TEST_F(Services, ServiceAndEntityMarksAreIndependent)
{
    // C is active, its IPv4 entity is not.
    Boolean active = false;
    ASSERT_EQ(MoreSCIsServiceActive(CFSTR("S2"), CFSTR("C"), &active), noErr);
    EXPECT_TRUE(active);
    ASSERT_EQ(MoreSCIsEntityActive(CFSTR("S2"), CFSTR("C"), kSCEntNetIPv4, &active), noErr);
    EXPECT_FALSE(active);
    ASSERT_EQ(MoreSCIsEntityActive(CFSTR("S2"), CFSTR("C"), kSCEntNetInterface, &active), noErr);
    EXPECT_TRUE(active);

    ASSERT_EQ(MoreSCSetEntityActive(CFSTR("S2"), CFSTR("C"), kSCEntNetIPv4, true), noErr);
    ASSERT_EQ(MoreSCSetEntityActive(CFSTR("S2"), CFSTR("C"), kSCEntNetInterface, false), noErr);
    // And the global entities of a set have marks too.
    ASSERT_EQ(MoreSCSetEntityActive(CFSTR("S1"), NULL, kSCEntNetNetInfo, false), noErr);
    Tree tree(StoreXML());
    EXPECT_FALSE(tree.has("NetworkServices/C/IPv4/__INACTIVE__"));
    EXPECT_EQ(tree.integer("NetworkServices/C/Interface/__INACTIVE__"), 1);
    EXPECT_FALSE(tree.has("NetworkServices/C/__INACTIVE__"));
    EXPECT_EQ(tree.integer("Sets/S1/Network/Global/NetInfo/__INACTIVE__"), 1);
    EXPECT_EQ(tree.text("NetworkServices/C/IPv4/ConfigMethod"), "DHCP");
}

TEST_F(Services, MarkingAnEntityTheServiceLacksCreatesNothing)
{
    FileStamp before = Stamp();
    Boolean   active = true;

    EXPECT_PRED1(IsPlatformMiss, MoreSCSetEntityActive(NULL, CFSTR("A"), kSCEntNetPPP, false));
    EXPECT_PRED1(IsPlatformMiss, MoreSCIsEntityActive(NULL, CFSTR("A"), kSCEntNetPPP, &active));
    EXPECT_PRED1(IsPlatformMiss, MoreSCSetServiceActive(NULL, CFSTR("C"), false));
    EXPECT_TRUE(active);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(Services, OrderAloneLeavesTheRestOfTheGlobalEntityAndTheServices)
{
    Plist order(Array({Str("B"), Str("A")}));

    ASSERT_EQ(MoreSCSetServicesDict(CFSTR("S1"), NULL, order.array()), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.order("S1"), (std::vector<std::string>{"B", "A"}));
    EXPECT_EQ(tree.integer("Sets/S1/Network/Global/IPv4/PPPOverridePrimary"), 0);
    EXPECT_EQ(tree.keys("Sets/S1/Network/Service"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(tree.text("Sets/S1/Network/Service/A/__LINK__"), "/NetworkServices/A");
}

TEST_F(Services, DictionaryAndOrderAreWrittenTogetherOrNotAtAll)
{
    // S3 has a services level but no global IPv4 entity to hold an order.
    Entries sets = StandardSets();
    sets.push_back({"S3", Dict({{"Network", Dict({{"Service", Dict({})}})},
                                {"UserDefinedName", Str("Bare")}})});
    Write(kStorePath, StoreText(StandardServices(), sets));
    Plist services(Dict({{"A", Link("A")}}));
    Plist order(Array({Str("A")}));

    // An enclosing caller that commits something else must not carry a
    // services dictionary without its order into the store.
    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    EXPECT_PRED1(IsPlatformMiss,
                 MoreSCSetServicesDict(CFSTR("S3"), services.dict(), order.array()));
    ASSERT_EQ(MoreSCRenameSet(CFSTR("S3"), CFSTR("Renamed")), noErr);
    MoreSCClose(&outer, false);
    ASSERT_EQ(outer, noErr);

    Tree tree(StoreXML());
    EXPECT_EQ(tree.text("Sets/S3/UserDefinedName"), "Renamed");
    EXPECT_EQ(tree.keys("Sets/S3/Network/Service"), (std::vector<std::string>{}));
    EXPECT_FALSE(tree.has("Sets/S3/Network/Global"));
}

TEST_F(Services, MutableCopiesBelongToTheCaller)
{
    Out<CFMutableDictionaryRef> dict;
    Out<CFMutableArrayRef>      order;
    Out<CFMutableDictionaryRef> entity;

    ASSERT_EQ(MoreSCCopyServicesDictMutable(NULL, dict.put(), order.put()), noErr);
    ASSERT_EQ(MoreSCCopyEntityMutable(NULL, CFSTR("A"), kSCEntNetIPv4, entity.put()), noErr);
    CFDictionaryRemoveAllValues(dict.get());
    CFArrayRemoveAllValues(order.get());
    CFDictionaryRemoveAllValues(entity.get());

    Out<CFDictionaryRef> storedDict, storedEntity;
    Out<CFArrayRef>      storedOrder;
    ASSERT_EQ(MoreSCCopyServicesDict(NULL, storedDict.put(), storedOrder.put()), noErr);
    ASSERT_EQ(MoreSCCopyEntity(NULL, CFSTR("A"), kSCEntNetIPv4, storedEntity.put()), noErr);
    EXPECT_EQ(CFDictionaryGetCount(storedDict.get()), 2);
    EXPECT_EQ(CFArrayGetCount(storedOrder.get()), 2);
    EXPECT_EQ(CFDictionaryGetCount(storedEntity.get()), 1);

    // Either alone.
    dict.reset();
    order.reset();
    ASSERT_EQ(MoreSCCopyServicesDictMutable(NULL, dict.put(), NULL), noErr);
    ASSERT_EQ(MoreSCCopyServicesDictMutable(NULL, NULL, order.put()), noErr);
    EXPECT_EQ(Strings(order.get()), (std::vector<std::string>{"A", "B"}));
}

TEST_F(Services, EditorsReportASetWhoseDictionaryAndOrderDisagree)
{
    // S1 links A and B but orders only A: a store this model never writes.
    Entries sets = StandardSets();
    sets[0]      = {
             "S1",
             Dict({{"Network",
                    Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", Array({Str("A")})}})}})},
                          {"Service", Dict({{"A", Link("A")}, {"B", Link("B")}})}})},
                   {"UserDefinedName", Str("Home")}})};
    Write(kStorePath, StoreText(StandardServices(), sets));
    FileStamp before = Stamp();

    Out<CFMutableDictionaryRef> dict;
    Out<CFMutableArrayRef>      order;
    EXPECT_EQ(MoreSCCopyServicesDictMutable(NULL, dict.put(), NULL), kMoreSCErrorStoreValue);
    EXPECT_EQ(MoreSCCopyServicesDictMutable(NULL, NULL, order.put()), kMoreSCErrorStoreValue);
    EXPECT_EQ(dict.get(), nullptr);
    EXPECT_EQ(order.get(), nullptr);
    EXPECT_EQ(MoreSCDeleteService(NULL, CFSTR("A")), kMoreSCErrorStoreValue);
    EXPECT_EQ(MoreSCDuplicateService(NULL, CFSTR("A"), NULL, NULL), kMoreSCErrorStoreValue);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(Services, EntityIsWrittenWhole)
{
    Plist manual(Dict({{"ConfigMethod", Str("Manual")}}));
    Plist dns(Dict({{"ServerAddresses", Array({Str("10.1.1.1")})}}));

    ASSERT_EQ(MoreSCSetEntity(NULL, CFSTR("A"), kSCEntNetIPv4, manual.dict()), noErr);
    ASSERT_EQ(MoreSCSetEntity(CFSTR("S2"), NULL, kSCEntNetDNS, dns.dict()), noErr);
    Tree tree(StoreXML());
    EXPECT_TRUE(CFEqual(tree.at("NetworkServices/A/IPv4"), manual.dict()));
    EXPECT_TRUE(CFEqual(tree.at("Sets/S2/Network/Global/DNS"), dns.dict()));
    EXPECT_EQ(tree.order("S2"), (std::vector<std::string>{"C", "A"}));
}

TEST_F(Services, RenamingASharedServiceIsSeenFromEverySet)
{
    ASSERT_EQ(MoreSCRenameService(CFSTR("S2"), CFSTR("A"), CFSTR("LAN")), noErr);

    Out<CFStringRef> name;
    ASSERT_EQ(MoreSCCopyUserVisibleNameOfService(CFSTR("S1"), CFSTR("A"), name.put()), noErr);
    EXPECT_EQ(vztest::Utf8(name.get()), "LAN");
    Tree tree(StoreXML());
    EXPECT_EQ(tree.text("NetworkServices/A/UserDefinedName"), "LAN");
    EXPECT_TRUE(tree.has("NetworkServices/A/DNS"));
}

TEST_F(Services, AServiceNameThatIsMissingOrNotAStringIsReported)
{
    for (const std::string &name : {std::string(), Int(7), Dict({})}) {
        Entries content = {{"Interface", Dict({{"DeviceName", Str("en0")}})}};
        if (!name.empty()) content.push_back({"UserDefinedName", name});
        Entries services = StandardServices();
        services[0]      = {"A", Dict(content)};
        Write(kStorePath, StoreText(services, StandardSets()));

        Out<CFStringRef> copied;
        EXPECT_EQ(MoreSCCopyUserVisibleNameOfService(NULL, CFSTR("A"), copied.put()),
                  kMoreSCErrorStoreValue)
            << name;
        EXPECT_EQ(copied.get(), nullptr);
    }
}

} // namespace
