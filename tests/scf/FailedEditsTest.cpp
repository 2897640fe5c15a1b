// FailedEditsTest.cpp: an editing operation that fails leaves the store, and
// inside a caller's bracket the snapshot, as it found it, so that the
// caller's next successful writer commits its own change and nothing else;
// a writer that succeeded inside a failing caller stays.
#include "EditStore.h"
#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include <functional>

using namespace edit;
using namespace storetext;

namespace {

class FailedEdits : public EditTest {
  protected:
    // A copy of everything the open bracket's snapshot holds.
    static CFPropertyListRef CopySnapshot()
    {
        return CFPropertyListCreateDeepCopy(
            nullptr, SCPreferencesPathGetValue(MoreSCGetSCPreferencesRef(), CFSTR("/")),
            kCFPropertyListImmutable);
    }

    // Runs operation on the standard store inside a bracket of the caller's,
    // failing its n-th allocation. When it fails, the snapshot must be as it
    // was, and the close must commit nothing; with renameAfter, a rename
    // follows, and the close must commit that alone. The operation's result.
    OSStatus FailInsideABracket(const std::function<OSStatus()> &operation, long n,
                                bool renameAfter, const std::string &what)
    {
        if (renamed_.empty()) {
            Write(kStorePath, StandardStore());
            EXPECT_EQ(MoreSCRenameSet(CFSTR("S2"), CFSTR("Renamed")), noErr);
            renamed_ = StoreXML();
        }
        Write(kStorePath, StandardStore());
        FileStamp before = Stamp();
        OSStatus  outer  = MoreSCOpen(false, false);
        EXPECT_EQ(outer, noErr);
        CFPropertyListRef snapshot = CopySnapshot();
        VZArmAllocationFailure(n, false);
        OSStatus err = operation();
        VZClearAllocationFailure();
        if (err != noErr) {
            CFPropertyListRef after = CopySnapshot();
            EXPECT_TRUE(CFEqual(after, snapshot)) << what;
            CFRelease(after);
            if (renameAfter) {
                EXPECT_EQ(MoreSCRenameSet(CFSTR("S2"), CFSTR("Renamed")), noErr);
            }
        }
        CFRelease(snapshot);
        MoreSCClose(&outer, false);
        if (err != noErr && renameAfter) {
            EXPECT_EQ(StoreXML(), renamed_) << what;
        } else if (err != noErr) {
            EXPECT_TRUE(Stamp() == before) << what;
        }
        return err;
    }

  private:
    std::string renamed_; // the standard store as the rename leaves it
};

// The case that was seen: a delete whose sweep fails, then a rename in the
// same bracket.
TEST_F(FailedEdits, AFailedDeleteLeavesNothingForTheNextWriterToCommit)
{
    Write(kStorePath, StoreText(StandardServices(), SetsThatNoSweepGetsThrough()));

    OSStatus outer = MoreSCOpen(false, false);
    ASSERT_EQ(outer, noErr);
    EXPECT_EQ(MoreSCDeleteService(NULL, CFSTR("B")), kCFQErrorObjectNotMade);
    EXPECT_EQ(MoreSCRenameSet(CFSTR("S1"), CFSTR("Away")), noErr);
    MoreSCClose(&outer, false);
    ASSERT_EQ(outer, noErr);

    Tree tree(StoreXML());
    EXPECT_EQ(tree.text("Sets/S1/UserDefinedName"), "Away");
    EXPECT_EQ(tree.order("S1"), (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(tree.keys("Sets/S1/Network/Service"), (std::vector<std::string>{"A", "B"}));
}

// A caller built on the public writers, as a recipe is, keeps the ones that
// succeeded before it failed; its failed step leaves nothing.
TEST_F(FailedEdits, AWriterThatSucceededInsideAFailingCallerStays)
{
    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    EXPECT_EQ(MoreSCRenameService(NULL, CFSTR("A"), CFSTR("LAN")), noErr);
    EXPECT_EQ(MoreSCDeleteSet(CFSTR("S1")), kMoreSCErrorBadRequest);
    err = kMoreSCErrorBadRequest;
    MoreSCClose(&err, true);
    EXPECT_EQ(err, kMoreSCErrorBadRequest);

    Tree tree(StoreXML());
    EXPECT_EQ(tree.text("NetworkServices/A/UserDefinedName"), "LAN");
    EXPECT_EQ(tree.keys("Sets"), (std::vector<std::string>{"S1", "S2"}));
}

// Every editing operation, failed at each of its allocations in turn: outside
// any bracket the store file stays as it was and everything made is released;
// inside a caller's bracket the snapshot stays as it was, and a later writer
// commits exactly its own change.
TEST_F(FailedEdits, FailuresAtEveryAllocationLeaveNothingBehind)
{
    Plist sets(Dict({{"S1", SetText("Home", {"A", "B"})}}));
    Plist services(Dict({{"B", Link("B")}, {"C", Link("C")}}));
    Plist order(Array({Str("B"), Str("C")}));
    Plist entity(Dict({{"ConfigMethod", Str("Manual")}}));
    Plist protocols(Array({Str("IPv4"), Str("Proxies")}));
    Plist entities(Array({Dict({{"ConfigMethod", Str("Manual")}}), Dict({})}));
    Plist entitiesDict(Dict({{"UserDefinedName", Str("Modem")}, {"IPv4", Dict({})}}));

    struct Case {
        const char               *name;
        std::function<OSStatus()> operation;
        bool                      creates; // makes new IDs, numbered on 10.2
    };
    const Case kCases[] = {
        {"set sets", [&] { return MoreSCSetSetsDict(sets.dict()); }, false},
        {"set current set", [] { return MoreSCSetCurrentSet(CFSTR("S2")); }, false},
        {"rename set", [] { return MoreSCRenameSet(CFSTR("S1"), CFSTR("Away")); }, false},
        {"set services and order",
         [&] { return MoreSCSetServicesDict(NULL, services.dict(), order.array()); }, false},
        {"set entity",
         [&] { return MoreSCSetEntity(NULL, CFSTR("A"), kSCEntNetDNS, entity.dict()); }, false},
        {"entity inactive",
         [] { return MoreSCSetEntityActive(NULL, CFSTR("A"), kSCEntNetIPv4, false); }, false},
        {"service active", [] { return MoreSCSetServiceActive(NULL, CFSTR("B"), true); }, false},
        {"rename service", [] { return MoreSCRenameService(NULL, CFSTR("A"), CFSTR("LAN")); },
         false},
        {"set entities dict",
         [&] { return MoreSCSetEntitiesDict(NULL, CFSTR("B"), entitiesDict.dict()); }, false},
        {"set entities",
         [&] { return MoreSCSetEntities(NULL, CFSTR("A"), protocols.array(), entities.array()); },
         false},
        {"new entity",
         [&] { return MoreSCNewEntity(NULL, CFSTR("A"), kSCEntNetProxies, entity.dict()); }, false},
        {"delete entity", [] { return MoreSCDeleteEntity(NULL, CFSTR("A"), kSCEntNetDNS); }, false},
        {"delete service", [] { return MoreSCDeleteService(NULL, CFSTR("B")); }, false},
        {"delete set", [] { return MoreSCDeleteSet(CFSTR("S2")); }, false},
        {"duplicate set",
         [] {
             CFStringRef id  = NULL;
             OSStatus    err = MoreSCDuplicateSet(CFSTR("S1"), CFSTR("Copy"), &id);
             if (id != NULL) CFRelease(id);
             return err;
         },
         true},
        {"duplicate service",
         [] {
             CFStringRef id  = NULL;
             OSStatus    err = MoreSCDuplicateService(CFSTR("S2"), CFSTR("B"), CFSTR("Two"), &id);
             if (id != NULL) CFRelease(id);
             return err;
         },
         true},
    };
    const std::string original = StandardStore();
    for (const std::string version : {"10.4.11", "10.2.8"}) {
        SetSystemVersion(version);
        for (const Case &c : kCases) {
            if (version == "10.2.8" && !c.creates) continue;
            bool outsideDone = false; // succeeded, or failed only in applying
            bool insideDone  = false;
            long lastInside  = -1; // the latest allocation whose failure failed it inside
            long n           = 0;
            // Once unarmed first, so that the constant strings the operation
            // names exist before any allocation is made to fail.
            Write(kStorePath, original);
            ASSERT_EQ(c.operation(), noErr) << c.name;
            for (; !(outsideDone && insideDone) && n < 5000; n++) {
                std::string what = std::string(c.name) + " at " + std::to_string(n);
                if (!outsideDone) {
                    Write(kStorePath, original);
                    FileStamp before = Stamp();
                    VZFlushPlatformCaches();
                    CFIndex live = VZGetLiveObjectCount();

                    VZArmAllocationFailure(n, false);
                    OSStatus err = c.operation();
                    VZClearAllocationFailure();
                    EXPECT_TRUE(err != noErr || n > 0) << what << ": despite a failing allocator";
                    // Apply may fail after the commit went through; the store
                    // then holds the whole change. Later allocations are all
                    // the agent's.
                    outsideDone = (err == noErr) || !(Stamp() == before);
                    if (outsideDone && err != noErr) {
                        EXPECT_NE(StoreXML(), original) << what;
                    }
                    VZFlushPlatformCaches();
                    EXPECT_EQ(VZGetLiveObjectCount(), live) << what;
                }
                // Inside, the store is open already: fewer allocations.
                if (!insideDone) {
                    insideDone = (FailInsideABracket(c.operation, n, false, what) == noErr);
                    if (!insideDone) lastInside = n;
                }
            }
            EXPECT_TRUE(outsideDone && insideDone) << c.name << ": no success within the limit";
            // A later writer, after the failure that came latest in the
            // operation (each commit costs the disk a flush).
            ASSERT_GE(lastInside, 0) << c.name;
            EXPECT_NE(FailInsideABracket(c.operation, lastInside, true, c.name), noErr);
        }
    }
}

} // namespace
