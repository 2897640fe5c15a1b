// CreateDeleteTest.cpp: deleting services and sets with the sweep of shared
// services no set reaches, duplicating sets and services, numbered new
// children on 10.2 systems, and the store as another program reads it.
#include "EditStore.h"
#include "Internal.h"
#include "VaviVAZ.h"

#include <cstdio>
#include <map>
#include <sys/wait.h>

using namespace edit;
using namespace storetext;
using vztest::Utf8;

namespace {

class CreateDelete : public EditTest {
  protected:
    // The standard store plus a shared service that no set reaches.
    void WriteWithOrphan(Entries sets = StandardSets())
    {
        Entries services = StandardServices();
        services.push_back({"ORPHAN", Dict({{"UserDefinedName", Str("Left over")}})});
        Write(kStorePath, StoreText(services, sets));
    }

    // The keys of a top-level dictionary in the open bracket's snapshot.
    static std::vector<std::string> SnapshotKeys(CFStringRef topLevelKey)
    {
        std::vector<std::string> keys;
        CFTypeRef value = SCPreferencesGetValue(MoreSCGetSCPreferencesRef(), topLevelKey);
        if (value == NULL || CFGetTypeID(value) != CFDictionaryGetTypeID()) return keys;
        CFArrayRef array = NULL;
        if (CFQArrayCreateWithDictionaryKeys(static_cast<CFDictionaryRef>(value), &array) ==
            noErr) {
            keys = Sorted(Strings(array));
            CFRelease(array);
        }
        return keys;
    }
};

const std::vector<std::string> kStandardServiceIDs = {"A", "B", "C"};

TEST_F(CreateDelete, ASharedServiceStaysUntilTheLastSetLetsGoOfIt)
{
    ASSERT_EQ(MoreSCDeleteService(NULL, CFSTR("A")), noErr);
    {
        Tree tree(StoreXML());
        EXPECT_EQ(tree.order("S1"), (std::vector<std::string>{"B"}));
        EXPECT_EQ(tree.keys("Sets/S1/Network/Service"), (std::vector<std::string>{"B"}));
        EXPECT_EQ(tree.keys("NetworkServices"), kStandardServiceIDs);
    }

    ASSERT_EQ(MoreSCDeleteService(CFSTR("S2"), CFSTR("A")), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.order("S2"), (std::vector<std::string>{"C"}));
    EXPECT_EQ(tree.keys("NetworkServices"), (std::vector<std::string>{"B", "C"}));
}

TEST_F(CreateDelete, DeletingAServiceTheSetDoesNotListChangesNothing)
{
    WriteWithOrphan();
    FileStamp before = Stamp();

    // Not even the sweep runs: the left-over service survives in the snapshot.
    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    EXPECT_EQ(MoreSCDeleteService(NULL, CFSTR("C")), kMoreSCErrorBadRequest);
    EXPECT_EQ(MoreSCDeleteService(NULL, CFSTR("ORPHAN")), kMoreSCErrorBadRequest);
    EXPECT_EQ(SnapshotKeys(kSCPrefNetworkServices),
              (std::vector<std::string>{"A", "B", "C", "ORPHAN"}));
    MoreSCClose(&outer, false);

    EXPECT_EQ(MoreSCDeleteService(NULL, CFSTR("C")), kMoreSCErrorBadRequest);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(CreateDelete, DeletingTheCurrentSetIsRefusedAndStillSweeps)
{
    WriteWithOrphan();
    FileStamp before = Stamp();

    // The sweep is in the caller's snapshot, but the refused delete is no
    // successful writer: a caller that reads only, or fails itself, commits
    // nothing.
    for (OSStatus callersOwn : {OSStatus(noErr), OSStatus(kMoreSCErrorBadRequest)}) {
        OSStatus outer = MoreSCOpen(false, false);
        ASSERT_EQ(outer, noErr);
        EXPECT_EQ(MoreSCDeleteSet(CFSTR("S1")), kMoreSCErrorBadRequest);
        EXPECT_EQ(MoreSCDeleteSet(NULL), kMoreSCErrorBadRequest);
        EXPECT_EQ(SnapshotKeys(kSCPrefSets), (std::vector<std::string>{"S1", "S2"}));
        EXPECT_EQ(SnapshotKeys(kSCPrefNetworkServices), kStandardServiceIDs);
        outer = callersOwn;
        MoreSCClose(&outer, callersOwn != noErr);
        EXPECT_EQ(outer, callersOwn);
        EXPECT_TRUE(Stamp() == before) << "caller's own error " << callersOwn;
    }

    // Inside a caller's bracket the sweep is kept, and reaches the store with
    // the caller's own change.
    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    EXPECT_EQ(MoreSCDeleteSet(NULL), kMoreSCErrorBadRequest);
    EXPECT_EQ(MoreSCRenameSet(CFSTR("S2"), CFSTR("Renamed")), noErr);
    MoreSCClose(&outer, false);
    EXPECT_EQ(Tree(StoreXML()).keys("NetworkServices"), kStandardServiceIDs);
    WriteWithOrphan();
    before = Stamp();

    // A failed outermost delete commits nothing, the sweep included.
    EXPECT_EQ(MoreSCDeleteSet(CFSTR("S1")), kMoreSCErrorBadRequest);
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(CreateDelete, DeletingASetSweepsTheServicesOnlyItReached)
{
    WriteWithOrphan();
    ASSERT_EQ(MoreSCDeleteSet(CFSTR("S2")), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("Sets"), (std::vector<std::string>{"S1"}));
    EXPECT_EQ(tree.keys("NetworkServices"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(tree.text("CurrentSet"), "/Sets/S1");

    EXPECT_PRED1(IsPlatformMiss, MoreSCDeleteSet(CFSTR("S2")));
}

TEST_F(CreateDelete, ALinkTheOrderMissesStillHoldsOnToItsService)
{
    // S2 links D without listing it in its order, as a store written by
    // another program may.
    Entries services = StandardServices();
    services.push_back({"D", Dict({{"UserDefinedName", Str("Linked only")}})});
    services.push_back({"ORPHAN", Dict({{"UserDefinedName", Str("Left over")}})});
    Entries sets = StandardSets();
    sets[1]      = {
             "S2",
             Dict({{"Network",
                    Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", Array({Str("C")})}})}})},
                          {"Service", Dict({{"C", Link("C")}, {"X", Link("D")}})}})},
                   {"UserDefinedName", Str("Office")}})};
    Write(kStorePath, StoreText(services, sets));

    ASSERT_EQ(MoreSCDeleteService(NULL, CFSTR("B")), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("NetworkServices"), (std::vector<std::string>{"A", "C", "D"}));
}

TEST_F(CreateDelete, ASetWhoseLinksCannotBeReadStopsEverySweep)
{
    WriteWithOrphan(SetsThatNoSweepGetsThrough());
    FileStamp before = Stamp();

    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    EXPECT_EQ(MoreSCDeleteService(NULL, CFSTR("B")), kCFQErrorObjectNotMade);
    EXPECT_EQ(MoreSCDeleteSet(CFSTR("S2")), kCFQErrorObjectNotMade);
    // Nothing was swept, not even the service nothing reaches.
    EXPECT_EQ(SnapshotKeys(kSCPrefNetworkServices),
              (std::vector<std::string>{"A", "B", "C", "ORPHAN"}));
    MoreSCClose(&outer, false);

    EXPECT_EQ(MoreSCDeleteSet(CFSTR("S2")), kCFQErrorObjectNotMade);
    EXPECT_TRUE(Stamp() == before);
}

// Another set's order says nothing the sweep needs: one that names an ID it
// does not link, or that is no array at all, stops no delete elsewhere, and
// the services its links lead to stay.
TEST_F(CreateDelete, AnotherSetsDamagedOrderStopsNoSweep)
{
    Entries sets = StandardSets();
    for (const auto &[id, order] :
         {std::pair<std::string, std::string>{"S3", Array({Str("X")})}, {"S4", Str("C")}}) {
        sets.push_back(
            {id,
             Dict({{"Network", Dict({{"Global", Dict({{"IPv4", Dict({{"ServiceOrder", order}})}})},
                                     {"Service", Dict({{"C", Link("C")}})}})}})});
    }
    WriteWithOrphan(sets);
    ASSERT_EQ(MoreSCDeleteService(NULL, CFSTR("B")), noErr);
    ASSERT_EQ(MoreSCDeleteSet(CFSTR("S2")), noErr);
    EXPECT_EQ(Tree(StoreXML()).keys("NetworkServices"), (std::vector<std::string>{"A", "C"}));
}

TEST_F(CreateDelete, WithoutAServicesLevelDeletesFail)
{
    Write(kStorePath,
          Document(Dict({{"CurrentSet", Str("/Sets/S1")}, {"Sets", Dict(StandardSets())}})));
    FileStamp before = Stamp();
    EXPECT_PRED1(IsPlatformMiss, MoreSCDeleteSet(CFSTR("S2")));
    EXPECT_PRED1(IsPlatformMiss, MoreSCDeleteService(NULL, CFSTR("A")));
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(CreateDelete, AServiceKeyThatIsNoPathIsLeftToTheSweep)
{
    // Keys holding "/" name no service a link can reach, and as paths they
    // would name an entity of another service, or nothing.
    Entries services = StandardServices();
    services.push_back({"A/DNS", Dict({{"UserDefinedName", Str("Odd")}})});
    services.push_back({"Z/Q", Dict({{"UserDefinedName", Str("Odder")}})});
    services.push_back({"ORPHAN", Dict({{"UserDefinedName", Str("Left over")}})});
    Write(kStorePath, StoreText(services, StandardSets()));

    ASSERT_EQ(MoreSCDeleteSet(CFSTR("S2")), noErr);
    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("NetworkServices"), (std::vector<std::string>{"A", "A/DNS", "B", "Z/Q"}));
    EXPECT_EQ(tree.strings("NetworkServices/A/DNS/ServerAddresses"),
              (std::vector<std::string>{"10.0.0.1"}));
}

TEST_F(CreateDelete, ADuplicatedSetHasItsOwnCopyOfEveryService)
{
    Out<CFStringRef> copyID, namedID;
    ASSERT_EQ(MoreSCDuplicateSet(CFSTR("S1"), NULL, copyID.put()), noErr);
    ASSERT_EQ(MoreSCDuplicateSet(NULL, CFSTR("Travel"), namedID.put()), noErr);
    std::string copy = Utf8(copyID.get()), named = Utf8(namedID.get());

    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("Sets").size(), 4u);
    EXPECT_EQ(tree.text("CurrentSet"), "/Sets/S1");
    EXPECT_EQ(tree.text("Sets/" + copy + "/UserDefinedName"), "Home");
    EXPECT_EQ(tree.text("Sets/" + named + "/UserDefinedName"), "Travel");
    EXPECT_TRUE(CFEqual(tree.at("Sets/" + copy + "/Network/Global/NetInfo"),
                        tree.at("Sets/S1/Network/Global/NetInfo")));
    EXPECT_EQ(tree.integer("Sets/" + copy + "/Network/Global/IPv4/PPPOverridePrimary"), 0);
    EXPECT_EQ(tree.order("S1"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(tree.keys("NetworkServices").size(), 3u + 2u + 2u);

    for (const std::string &setID : {copy, named}) {
        std::vector<std::string> order = tree.order(setID);
        ASSERT_EQ(order.size(), 2u) << setID;
        EXPECT_EQ(tree.keys("Sets/" + setID + "/Network/Service"), Sorted(order));
        for (size_t i = 0; i < order.size(); i++) {
            const std::string &source = kStandardServiceIDs[i]; // A, then B
            EXPECT_EQ(std::count(kStandardServiceIDs.begin(), kStandardServiceIDs.end(), order[i]),
                      0);
            EXPECT_EQ(tree.text("Sets/" + setID + "/Network/Service/" + order[i] + "/__LINK__"),
                      "/NetworkServices/" + order[i]);
            EXPECT_TRUE(CFEqual(tree.at("NetworkServices/" + order[i]),
                                tree.at("NetworkServices/" + source)))
                << source;
        }
    }
}

TEST_F(CreateDelete, ASetWithoutServicesDuplicatesToAnEmptySet)
{
    Entries sets = StandardSets();
    sets.push_back({"S3", SetText("Empty", {})});
    Write(kStorePath, StoreText(StandardServices(), sets));

    Out<CFStringRef> copyID;
    ASSERT_EQ(MoreSCDuplicateSet(CFSTR("S3"), NULL, copyID.put()), noErr);
    Tree        tree(StoreXML());
    std::string copy = Utf8(copyID.get());
    EXPECT_EQ(tree.order(copy), (std::vector<std::string>{}));
    EXPECT_TRUE(tree.has("Sets/" + copy + "/Network/Service"));
    EXPECT_EQ(tree.keys("Sets/" + copy + "/Network/Service"), (std::vector<std::string>{}));
    EXPECT_EQ(tree.keys("NetworkServices"), kStandardServiceIDs);
}

TEST_F(CreateDelete, ADuplicatedServiceIsAppendedToTheSet)
{
    Out<CFStringRef> plainID, namedID;
    ASSERT_EQ(MoreSCDuplicateService(CFSTR("S2"), CFSTR("B"), NULL, plainID.put()), noErr);
    ASSERT_EQ(MoreSCDuplicateService(CFSTR("S2"), CFSTR("A"), CFSTR("Second LAN"), namedID.put()),
              noErr);
    std::string plain = Utf8(plainID.get()), named = Utf8(namedID.get());

    Tree tree(StoreXML());
    EXPECT_EQ(tree.order("S2"), (std::vector<std::string>{"C", "A", plain, named}));
    EXPECT_EQ(tree.text("Sets/S2/Network/Service/" + named + "/__LINK__"),
              "/NetworkServices/" + named);
    EXPECT_TRUE(CFEqual(tree.at("NetworkServices/" + plain), tree.at("NetworkServices/B")));
    EXPECT_EQ(tree.text("NetworkServices/" + named + "/UserDefinedName"), "Second LAN");
    EXPECT_TRUE(
        CFEqual(tree.at("NetworkServices/" + named + "/DNS"), tree.at("NetworkServices/A/DNS")));
    EXPECT_EQ(tree.text("NetworkServices/A/UserDefinedName"), "Built-in Ethernet");
    EXPECT_EQ(tree.order("S1"), (std::vector<std::string>{"A", "B"}));

    // Without an out-parameter the copy is made all the same.
    ASSERT_EQ(MoreSCDuplicateService(CFSTR("S2"), CFSTR("B"), NULL, NULL), noErr);
    EXPECT_EQ(Tree(StoreXML()).order("S2").size(), 5u);
}

TEST_F(CreateDelete, NewChildrenOnTenTwoAreNumberedAboveTheLargestNumericKey)
{
    SetSystemVersion("10.2.8");
    struct Case {
        std::vector<std::string> keys; // of the sets level; absent when {"-"}
        OSStatus                 err;  // kSCStatusFailed: the store's status or 1001
        std::string              id;
    };
    const Case kCases[] = {
        {{"-"}, noErr, "0"},
        {{}, noErr, "0"},
        {{"0", "1", "7"}, noErr, "8"},
        {{"3", "12"}, noErr, "13"},
        {{"abc", "1x", "x1", "-5", " 4", "4 ", "+6"}, noErr, "0"},
        {{"07", "2"}, noErr, "8"},
        {{"000000000000009", "0000000000000019"}, noErr, "10"}, // 15 and 16 characters
        {{"2147483646"}, noErr, "2147483647"},
        {{"99999999999", "5"}, noErr, "6"}, // beyond 32 bits
        {{"2147483647"}, kSCStatusFailed, ""},
    };
    for (const Case &c : kCases) {
        Entries sets;
        for (const auto &key : c.keys)
            sets.push_back({key, Dict({})});
        std::vector<std::pair<std::string, std::string>> root = {
            {"NetworkServices", Dict(StandardServices())}};
        if (c.keys != std::vector<std::string>{"-"}) root.push_back({"Sets", Dict(sets)});
        Write(kStorePath, Document(Dict(root)));

        OSStatus err = MoreSCOpen(false, false);
        ASSERT_EQ(err, noErr);
        CFStringRef id = NULL, path = NULL;
        OSStatus    made = MakeNewSeAndCopyIDAndPath(kSCPrefSets, &id, &path);
        if (c.err == noErr) {
            EXPECT_EQ(made, noErr) << c.id;
            EXPECT_EQ(Utf8(id), c.id);
            EXPECT_EQ(Utf8(path), "/Sets/" + c.id);
            EXPECT_EQ(SnapshotKeys(kSCPrefSets).size(),
                      c.keys == std::vector<std::string>{"-"} ? 1u : c.keys.size() + 1);
        } else {
            EXPECT_PRED1(IsPlatformMiss, made);
            EXPECT_EQ(id, nullptr);
            EXPECT_EQ(path, nullptr);
        }
        if (id != NULL) CFRelease(id);
        if (path != NULL) CFRelease(path);
        MoreSCClose(&err, false);
    }
}

TEST_F(CreateDelete, DuplicatesOnTenTwoAreNumberedOneAfterAnother)
{
    SetSystemVersion("10.2");
    Out<CFStringRef> copyID;
    ASSERT_EQ(MoreSCDuplicateSet(CFSTR("S1"), CFSTR("Copy"), copyID.put()), noErr);
    EXPECT_EQ(Utf8(copyID.get()), "0");
    Tree tree(StoreXML());
    EXPECT_EQ(tree.order("0"), (std::vector<std::string>{"0", "1"}));
    EXPECT_EQ(tree.keys("NetworkServices"), (std::vector<std::string>{"0", "1", "A", "B", "C"}));

    // On later systems the store chooses the keys.
    SetSystemVersion("10.4.11");
    Out<CFStringRef> laterID;
    ASSERT_EQ(MoreSCDuplicateService(NULL, CFSTR("A"), NULL, laterID.put()), noErr);
    EXPECT_GT(Utf8(laterID.get()).size(), 8u);
}

// ---------------------------------------------------------------------------
// What another program sees.

std::string Joined(std::vector<std::string> items)
{
    std::string out;
    for (size_t i = 0; i < items.size(); i++)
        out += (i ? "," : "") + items[i];
    return out;
}

// The entities of a service or of a set's globals, sorted, inactive ones
// marked with "*".
std::string EntityNames(CFStringRef setID, CFStringRef serviceID)
{
    Out<CFArrayRef>                           protocols, values;
    std::vector<std::pair<std::string, bool>> entities;
    std::vector<std::string>                  names;
    if (MoreSCCopyEntities(setID, serviceID, protocols.put(), values.put()) != noErr) return "?";
    for (CFIndex i = 0; i < CFArrayGetCount(protocols.get()); i++) {
        CFDictionaryRef entity =
            static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(values.get(), i));
        entities.push_back(
            {Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(protocols.get(), i))),
             CFDictionaryContainsKey(entity, kSCResvInactive)});
    }
    std::sort(entities.begin(), entities.end());
    for (const auto &[name, inactive] : entities)
        names.push_back(name + (inactive ? "*" : ""));
    return Joined(names);
}

// The lines the plistlib script prints, made from the library's readers.
std::string LibrarySummary()
{
    std::string                                                out;
    std::map<std::string, std::pair<std::string, std::string>> services; // resolved -> set, local
    Out<CFStringRef>                                           current;
    Out<CFArrayRef>                                            setIDs;
    EXPECT_EQ(MoreSCCopyCurrentSet(current.put()), noErr);
    EXPECT_EQ(MoreSCCopySetIDs(setIDs.put(), NULL), noErr);
    out += "current " + Utf8(current.get()) + "\n";
    for (const std::string &setID : Sorted(Strings(setIDs.get()))) {
        vztest::Str      set(setID.c_str());
        Out<CFStringRef> name;
        Out<CFArrayRef>  local, resolved;
        EXPECT_EQ(MoreSCCopyUserVisibleNameOfSet(set, name.put()), noErr);
        EXPECT_EQ(MoreSCCopyServiceIDs(set, local.put(), resolved.put()), noErr);
        std::vector<std::string> localIDs    = Strings(local.get()),
                                 resolvedIDs = Strings(resolved.get());
        for (size_t i = 0; i < resolvedIDs.size(); i++) {
            services.emplace(resolvedIDs[i], std::make_pair(setID, localIDs[i]));
        }
        out += "set " + setID + " " + Utf8(name.get()) + " globals=" + EntityNames(set, NULL) +
               " services=" + Joined(resolvedIDs) + "\n";
    }
    for (const auto &[serviceID, where] : services) {
        vztest::Str      set(where.first.c_str()), local(where.second.c_str());
        Out<CFStringRef> name;
        Boolean          active = false;
        EXPECT_EQ(MoreSCCopyUserVisibleNameOfService(set, local, name.put()), noErr);
        EXPECT_EQ(MoreSCIsServiceActive(set, local, &active), noErr);
        out += "service " + serviceID + " " + Utf8(name.get()) +
               (active ? " active" : " inactive") + " entities=" + EntityNames(set, local) + "\n";
    }
    return out;
}

TEST_F(CreateDelete, AnotherProgramReadsTheStoreAsTheLibraryDoes)
{
#if defined(VZ_PYTHON3) && defined(VZ_STORE_SUMMARY_SCRIPT)
    Out<CFStringRef> copyID, serviceCopyID;
    ASSERT_EQ(MoreSCDuplicateSet(CFSTR("S1"), CFSTR("Copy of Home"), copyID.put()), noErr);
    ASSERT_EQ(MoreSCDuplicateService(CFSTR("S2"), CFSTR("A"), CFSTR("LAN 2"), serviceCopyID.put()),
              noErr);
    ASSERT_EQ(MoreSCSetServiceActive(CFSTR("S2"), serviceCopyID.get(), false), noErr);
    ASSERT_EQ(MoreSCSetEntityActive(CFSTR("S2"), CFSTR("C"), kSCEntNetInterface, false), noErr);
    ASSERT_EQ(MoreSCRenameService(NULL, CFSTR("A"), CFSTR("Ethernet")), noErr);
    ASSERT_EQ(MoreSCDeleteService(CFSTR("S2"), CFSTR("C")), noErr);
    ASSERT_EQ(MoreSCSetCurrentSet(copyID.get()), noErr);
    ASSERT_EQ(MoreSCDeleteSet(CFSTR("S1")), noErr);

    std::string library = LibrarySummary();
    std::string command =
        std::string(VZ_PYTHON3) + " '" + VZ_STORE_SUMMARY_SCRIPT + "' '" + StorePath() + "' 2>&1";
    FILE *pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string python;
    char        buffer[4096];
    size_t      got = 0;
    while ((got = fread(buffer, 1, sizeof(buffer), pipe)) > 0)
        python.append(buffer, got);
    int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << python;
    EXPECT_EQ(python, library);
    EXPECT_NE(library.find(" inactive "), std::string::npos);
#else
    GTEST_SKIP() << "no Python 3 interpreter was found when the tests were configured";
#endif
}

} // namespace
