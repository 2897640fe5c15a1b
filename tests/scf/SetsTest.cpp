// SetsTest.cpp: the set registry: set IDs and the current set's position,
// recording the current set, set names, the sets dictionary as a whole,
// wrong kinds in the store, and readers that never write the store file.
#include "EditStore.h"
#include "Internal.h"
#include "VaviVAZ.h"

using namespace edit;
using namespace storetext;

namespace {

using Sets = EditTest;

TEST_F(Sets, SetIDsComeWithThePositionOfTheCurrentSet)
{
    Entries sets = StandardSets();
    sets.push_back({"S3", SetText("Travel", {})});
    struct Case {
        std::string current; // "" records none
        bool        askIndex;
        OSStatus    err;
        CFIndex     index; // of the current set in the returned array; -7: left alone
    };
    const Case kCases[] = {
        {"S2", true, noErr, 1},
        {"S3", true, noErr, 2},
        {"GONE", true, noErr, -7},
        {"", false, noErr, -7},
    };
    for (const Case &c : kCases) {
        Write(kStorePath, StoreText(StandardServices(), sets, c.current));
        Out<CFArrayRef> ids;
        CFIndex         index = -7;
        EXPECT_EQ(MoreSCCopySetIDs(ids.put(), c.askIndex ? &index : NULL), c.err) << c.current;
        EXPECT_EQ(Sorted(Strings(ids.get())), (std::vector<std::string>{"S1", "S2", "S3"}));
        if (c.index >= 0) {
            ASSERT_LT(index, CFArrayGetCount(ids.get()));
            EXPECT_EQ(Strings(ids.get())[static_cast<size_t>(index)], c.current);
        } else {
            EXPECT_EQ(index, -7) << c.current;
        }
    }

    // Asked for the position with no current set recorded, the call fails.
    Out<CFArrayRef> ids;
    CFIndex         index = -7;
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopySetIDs(ids.put(), &index));
    EXPECT_EQ(ids.get(), nullptr);
}

TEST_F(Sets, CurrentSetIsRecordedWithoutLookingItUp)
{
    ASSERT_EQ(MoreSCSetCurrentSet(CFSTR("S2")), noErr);
    {
        Tree tree(StoreXML());
        EXPECT_EQ(tree.text("CurrentSet"), "/Sets/S2");
    }

    // A set that does not exist is recorded all the same, and the commit
    // and apply at the outermost close succeed.
    ASSERT_EQ(MoreSCSetCurrentSet(CFSTR("NOPE")), noErr);
    Out<CFStringRef> current;
    ASSERT_EQ(MoreSCCopyCurrentSet(current.put()), noErr);
    EXPECT_EQ(vztest::Utf8(current.get()), "NOPE");
    Out<CFArrayRef> ids;
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyServiceIDs(NULL, ids.put(), NULL));
}

TEST_F(Sets, ANewNameIsSeenInsideTheBracketAndCommittedAtItsClose)
{
    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    ASSERT_EQ(MoreSCRenameSet(CFSTR("S2"), CFSTR("Travel")), noErr);
    Out<CFStringRef> name;
    ASSERT_EQ(MoreSCCopyUserVisibleNameOfSet(CFSTR("S2"), name.put()), noErr);
    EXPECT_EQ(vztest::Utf8(name.get()), "Travel");
    EXPECT_EQ(Tree(StoreXML()).text("Sets/S2/UserDefinedName"), "Office");
    MoreSCClose(&err, false);
    ASSERT_EQ(err, noErr);

    Tree tree(StoreXML());
    EXPECT_EQ(tree.text("Sets/S2/UserDefinedName"), "Travel");
    EXPECT_EQ(tree.order("S2"), (std::vector<std::string>{"C", "A"}));
}

TEST_F(Sets, RenamingASetThatDoesNotExistStoresNothing)
{
    FileStamp before = Stamp();
    EXPECT_PRED1(IsPlatformMiss, MoreSCRenameSet(CFSTR("S9"), CFSTR("Ghost")));
    EXPECT_TRUE(Stamp() == before);
}

TEST_F(Sets, SetsDictionaryIsReplacedWhole)
{
    Out<CFDictionaryRef> setsDict;
    ASSERT_EQ(MoreSCCopySetsDict(setsDict.put()), noErr);
    CFMutableDictionaryRef edited = CFDictionaryCreateMutableCopy(NULL, 0, setsDict.get());
    CFDictionaryRemoveValue(edited, CFSTR("S2"));
    ASSERT_EQ(MoreSCSetSetsDict(edited), noErr);
    CFRelease(edited);

    Tree tree(StoreXML());
    EXPECT_EQ(tree.keys("Sets"), (std::vector<std::string>{"S1"}));
    EXPECT_EQ(tree.order("S1"), (std::vector<std::string>{"A", "B"}));
}

TEST_F(Sets, WrongKindsInTheStoreAreReported)
{
    // The sets level that is not a dictionary.
    Write(kStorePath, Document(Dict({{"CurrentSet", Str("/Sets/S1")},
                                     {"NetworkServices", Dict(StandardServices())},
                                     {"Sets", Array({Str("S1")})}})));
    Out<CFDictionaryRef> setsDict;
    Out<CFArrayRef>      ids;
    EXPECT_EQ(MoreSCCopySetsDict(setsDict.put()), kMoreSCErrorStoreValue);
    EXPECT_EQ(MoreSCCopySetIDs(ids.put(), NULL), kMoreSCErrorStoreValue);
    EXPECT_EQ(setsDict.get(), nullptr);
    EXPECT_EQ(ids.get(), nullptr);

    // Set names that are missing or not strings.
    for (const std::string &name : {std::string(), Int(3), Array({Str("Office")})}) {
        Entries set = {{"Network", Dict({})}};
        if (!name.empty()) set.push_back({"UserDefinedName", name});
        Entries sets = StandardSets();
        sets[1]      = {"S2", Dict(set)};
        Write(kStorePath, StoreText(StandardServices(), sets));
        Out<CFStringRef> copied;
        EXPECT_EQ(MoreSCCopyUserVisibleNameOfSet(CFSTR("S2"), copied.put()), kMoreSCErrorStoreValue)
            << name;
        EXPECT_EQ(copied.get(), nullptr);
    }
}

TEST_F(Sets, ReadersAndUnchangingSettersNeverWriteTheStoreFile)
{
    FileStamp before = Stamp();
    {
        Out<CFDictionaryRef>        setsDict, entitiesDict;
        Out<CFMutableDictionaryRef> mutableDict, mutableEntity, mutableServices;
        Out<CFMutableArrayRef>      mutableOrder;
        Out<CFArrayRef>             ids, protocols, values;
        Out<CFStringRef>            setName, serviceName;
        CFIndex                     index  = -1;
        Boolean                     active = false;

        EXPECT_EQ(MoreSCCopySetsDict(setsDict.put()), noErr);
        EXPECT_EQ(MoreSCCopySetIDs(ids.put(), &index), noErr);
        EXPECT_EQ(MoreSCCopyUserVisibleNameOfSet(CFSTR("S2"), setName.put()), noErr);
        EXPECT_EQ(MoreSCCopyEntitiesDict(NULL, CFSTR("A"), entitiesDict.put()), noErr);
        EXPECT_EQ(MoreSCCopyEntitiesDictMutable(NULL, CFSTR("A"), mutableDict.put()), noErr);
        EXPECT_EQ(MoreSCCopyEntities(NULL, CFSTR("A"), protocols.put(), values.put()), noErr);
        EXPECT_EQ(MoreSCCopyServicesDictMutable(NULL, mutableServices.put(), mutableOrder.put()),
                  noErr);
        EXPECT_EQ(MoreSCCopyEntityMutable(NULL, CFSTR("A"), kSCEntNetDNS, mutableEntity.put()),
                  noErr);
        EXPECT_EQ(MoreSCIsEntityActive(NULL, CFSTR("A"), kSCEntNetDNS, &active), noErr);
        EXPECT_EQ(MoreSCIsServiceActive(NULL, CFSTR("B"), &active), noErr);
        EXPECT_EQ(MoreSCCopyUserVisibleNameOfService(NULL, CFSTR("B"), serviceName.put()), noErr);
        EXPECT_EQ(MoreSCSetServiceActive(NULL, CFSTR("B"), false), noErr);
        EXPECT_EQ(MoreSCSetEntityActive(CFSTR("S2"), CFSTR("C"), kSCEntNetIPv4, false), noErr);
    }
    EXPECT_TRUE(Stamp() == before);
}

} // namespace
