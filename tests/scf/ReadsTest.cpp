// ReadsTest.cpp: the read path: the current set, service IDs in service
// order through the set's links, services dictionary and order, entities, BSD
// names, snapshots, and the assertions on the callers' arguments.
#include "Internal.h"
#include "StoreText.h"
#include "VaviVAZ.h"

#include "TestSupport.h"

#include <string>
#include <vector>

using namespace storetext;
using vztest::IsPlatformMiss;
using vztest::Out;
using vztest::Strings;
using vztest::Utf8;

namespace {

using Reads = vztest::TempRoot;

TEST_F(Reads, CurrentSetIsTheIDOfTheRecordedPath)
{
    struct Case {
        std::string recorded; // XML value of CurrentSet
        OSStatus    err;
        std::string setID;
    };
    const Case kCases[] = {
        {Str("/Sets/S1"), noErr, "S1"},
        {Str("/Sets/Büro & Co"), noErr, "Büro & Co"},
        {Str("/Sets"), kMoreSCErrorStoreValue, ""},
        {Str("/Sets/S1/Network"), kMoreSCErrorStoreValue, ""},
        {Str("Sets/S1"), kMoreSCErrorStoreValue, ""},
        {Str(""), kMoreSCErrorStoreValue, ""},
        {Int(1), kMoreSCErrorStoreValue, ""},
        {Dict({{"__LINK__", Str("/Sets/S1")}}), kMoreSCErrorStoreValue, ""},
    };
    for (const Case &c : kCases) {
        Write(kStorePath, Store({{"S1", {{"A", "en0"}}, {Str("A")}}}, c.recorded));
        Out<CFStringRef> setID;
        EXPECT_EQ(MoreSCCopyCurrentSet(setID.put()), c.err) << c.recorded;
        EXPECT_EQ(Utf8(setID.get()), c.err == noErr ? c.setID : "(null)") << c.recorded;
    }
}

TEST_F(Reads, WithoutACurrentSetEveryReaderFails)
{
    Write(kStorePath, Store({{"S1", {{"A", "en0"}}, {Str("A")}}}, ""));

    Out<CFStringRef>     setID, bsdName;
    Out<CFDictionaryRef> servicesDict, entity;
    Out<CFArrayRef>      serviceOrder, local, resolved;
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyCurrentSet(setID.put()));
    EXPECT_PRED1(IsPlatformMiss,
                 MoreSCCopyServicesDict(NULL, servicesDict.put(), serviceOrder.put()));
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyServiceIDs(NULL, local.put(), resolved.put()));
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyEntity(NULL, NULL, kSCEntNetIPv4, entity.put()));
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyBSDNameOfService(NULL, CFSTR("A"), bsdName.put()));
    for (const void *out :
         {(const void *)setID.get(), (const void *)servicesDict.get(),
          (const void *)serviceOrder.get(), (const void *)local.get(), (const void *)resolved.get(),
          (const void *)entity.get(), (const void *)bsdName.get()}) {
        EXPECT_EQ(out, nullptr);
    }
}

TEST_F(Reads, ServiceIDsFollowTheOrderThroughTheLinks)
{
    // B's link points at a shared service of another name; D has a link but
    // is not in the order; A is listed twice.
    Write(kStorePath, Store({{"S1",
                              {{"A", "en0"}, {"B", "en1", "B-SHARED"}, {"C", "en2"}, {"D", "en3"}},
                              {Str("C"), Str("A"), Str("B"), Str("A")}}},
                            Str("/Sets/S1")));
    const std::vector<std::string> kLocal    = {"C", "A", "B", "A"};
    const std::vector<std::string> kResolved = {"C", "A", "B-SHARED", "A"};

    Out<CFArrayRef> local, resolved;
    ASSERT_EQ(MoreSCCopyServiceIDs(NULL, local.put(), resolved.put()), noErr);
    EXPECT_EQ(Strings(local.get()), kLocal);
    EXPECT_EQ(Strings(resolved.get()), kResolved);

    local.reset();
    resolved.reset();
    ASSERT_EQ(MoreSCCopyServiceIDs(NULL, local.put(), NULL), noErr);
    EXPECT_EQ(Strings(local.get()), kLocal);
    ASSERT_EQ(MoreSCCopyServiceIDs(NULL, NULL, resolved.put()), noErr);
    EXPECT_EQ(Strings(resolved.get()), kResolved);
}

TEST_F(Reads, EmptyOrderGivesEmptyLists)
{
    Write(kStorePath, Store({{"S1", {}, {}}}, Str("/Sets/S1")));
    Out<CFArrayRef> local, resolved;
    ASSERT_EQ(MoreSCCopyServiceIDs(NULL, local.put(), resolved.put()), noErr);
    EXPECT_EQ(CFArrayGetCount(local.get()), 0);
    EXPECT_EQ(CFArrayGetCount(resolved.get()), 0);
}

TEST_F(Reads, OrderThatCannotBeWalkedFailsWholly)
{
    const std::vector<Service> services = {{"A", "en0"}, {"M", "ZORVEXMobile-Modem"}};
    struct Case {
        const char *what;
        Set         set;
    };
    const Case kCases[] = {
        {"no order", {"S1", services, {}, false}},
        {"order is a string", {"S1", services, {}, true, Str("A M")}},
        {"order is a dictionary", {"S1", services, {}, true, Dict({{"A", Str("M")}})}},
        {"entry is a number", {"S1", services, {Str("A"), Int(3), Str("M")}}},
        {"entry is a dictionary", {"S1", services, {Str("A"), Dict({}), Str("M")}}},
    };
    for (const Case &c : kCases) {
        Write(kStorePath, Store({c.set}, Str("/Sets/S1")));
        Out<CFArrayRef> local, resolved;
        EXPECT_EQ(MoreSCCopyServiceIDs(NULL, local.put(), resolved.put()), kMoreSCErrorStoreValue)
            << c.what;
        EXPECT_EQ(local.get(), nullptr);
        EXPECT_EQ(resolved.get(), nullptr);
    }
}

TEST_F(Reads, OrderEntryWithoutALinkIsListedButNotResolved)
{
    Service unlinked = {"X", "en5"};
    unlinked.linked  = false;
    Write(kStorePath, Store({{"A", "en0"}, unlinked}));

    Out<CFArrayRef> local, resolved;
    ASSERT_EQ(MoreSCCopyServiceIDs(NULL, local.put(), NULL), noErr);
    EXPECT_EQ(Strings(local.get()), (std::vector<std::string>{"A", "X"}));

    local.reset();
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyServiceIDs(NULL, local.put(), resolved.put()));
    EXPECT_EQ(local.get(), nullptr) << "no partial list";
    EXPECT_EQ(resolved.get(), nullptr);

    Out<CFStringRef> bsdName;
    EXPECT_PRED1(IsPlatformMiss, MoreSCCopyBSDNameOfService(NULL, CFSTR("X"), bsdName.put()));
    EXPECT_EQ(bsdName.get(), nullptr);
}

TEST_F(Reads, ServicesDictionaryAndOrderMustAgreeInLength)
{
    const std::vector<Service> services = {{"A", "en0"}, {"B", "en1"}};

    Write(kStorePath, Store({{"S1", services, OrderOf(services)}}, Str("/Sets/S1")));
    Out<CFDictionaryRef> servicesDict;
    Out<CFArrayRef>      serviceOrder;
    ASSERT_EQ(MoreSCCopyServicesDict(NULL, servicesDict.put(), serviceOrder.put()), noErr);
    EXPECT_EQ(CFDictionaryGetCount(servicesDict.get()), 2);
    EXPECT_EQ(Strings(serviceOrder.get()), (std::vector<std::string>{"A", "B"}));

    // B listed twice: each part alone reads, both together do not.
    servicesDict.reset();
    serviceOrder.reset();
    Write(kStorePath, Store({{"S1", services, {Str("A"), Str("B"), Str("B")}}}, Str("/Sets/S1")));
    EXPECT_EQ(MoreSCCopyServicesDict(NULL, servicesDict.put(), serviceOrder.put()),
              kMoreSCErrorStoreValue);
    EXPECT_EQ(servicesDict.get(), nullptr);
    EXPECT_EQ(serviceOrder.get(), nullptr);
    EXPECT_EQ(MoreSCCopyServicesDict(NULL, servicesDict.put(), NULL), noErr);
    EXPECT_EQ(MoreSCCopyServicesDict(NULL, NULL, serviceOrder.put()), noErr);
    EXPECT_EQ(CFArrayGetCount(serviceOrder.get()), 3);
}

TEST_F(Reads, EntityOfNoServiceIsTheSetsGlobalEntity)
{
    Write(kStorePath, Store({{"A", "en0"}}));
    Out<CFDictionaryRef> current, other;
    ASSERT_EQ(MoreSCCopyEntity(NULL, NULL, kSCEntNetIPv4, current.put()), noErr);
    EXPECT_EQ(Strings(static_cast<CFArrayRef>(
                  CFDictionaryGetValue(current.get(), kSCPropNetServiceOrder))),
              (std::vector<std::string>{"A"}));
    ASSERT_EQ(MoreSCCopyEntity(CFSTR("S2"), NULL, kSCEntNetIPv4, other.put()), noErr);
    EXPECT_EQ(
        Strings(static_cast<CFArrayRef>(CFDictionaryGetValue(other.get(), kSCPropNetServiceOrder))),
        (std::vector<std::string>{"OTHER"}));
}

TEST_F(Reads, BSDNameComesFromTheLinkedServicesInterface)
{
    Service noName        = {"N", ""};
    Service noInterface   = {"I", "en7"};
    noInterface.interface = false;
    Write(kStorePath,
          Store({{"A", "en0"}, {"B", "ZORVEXMobile-Modem", "B-SHARED"}, noName, noInterface}));

    struct Case {
        CFStringRef setID;
        const char *serviceID;
        OSStatus    err; // 1 stands for the platform's miss (1004 or 1001)
        const char *bsdName;
    };
    const Case kCases[] = {
        {NULL, "A", noErr, "en0"},
        {NULL, "B", noErr, "ZORVEXMobile-Modem"},
        {CFSTR("S2"), "OTHER", noErr, "en9"},
        {NULL, "N", kMoreSCErrorStoreValue, nullptr},
        {NULL, "I", 1, nullptr},
        {NULL, "OTHER", 1, nullptr},
        {CFSTR("S9"), "A", 1, nullptr},
    };
    for (const Case &c : kCases) {
        Out<CFStringRef> bsdName;
        OSStatus err = MoreSCCopyBSDNameOfService(c.setID, vztest::Str(c.serviceID), bsdName.put());
        if (c.err == 1) {
            EXPECT_PRED1(IsPlatformMiss, err) << c.serviceID;
        } else {
            EXPECT_EQ(err, c.err) << c.serviceID;
        }
        EXPECT_EQ(Utf8(bsdName.get()), c.bsdName ? c.bsdName : "(null)") << c.serviceID;
    }
}

TEST_F(Reads, ReadsInsideABracketSeeItsSnapshot)
{
    Write(kStorePath, Store({{"A", "en0"}}));

    OSStatus err = MoreSCOpen(false, false);
    ASSERT_EQ(err, noErr);
    ASSERT_TRUE(
        SCPreferencesSetValue(MoreSCGetSCPreferencesRef(), kSCPrefCurrentSet, CFSTR("/Sets/S2")));
    {
        Out<CFStringRef> setID;
        Out<CFArrayRef>  local;
        EXPECT_EQ(MoreSCCopyCurrentSet(setID.put()), noErr);
        EXPECT_EQ(Utf8(setID.get()), "S2");
        EXPECT_EQ(MoreSCCopyServiceIDs(NULL, local.put(), NULL), noErr);
        EXPECT_EQ(Strings(local.get()), (std::vector<std::string>{"OTHER"}));
    }
    MoreSCClose(&err, false);

    // Outside a bracket each read takes a fresh snapshot of the file.
    Out<CFStringRef> before, after;
    EXPECT_EQ(MoreSCCopyCurrentSet(before.put()), noErr);
    EXPECT_EQ(Utf8(before.get()), "S1");
    std::string store = Read(kStorePath);
    store.replace(store.find("/Sets/S1"), 8, "/Sets/S2");
    Write(kStorePath, store);
    EXPECT_EQ(MoreSCCopyCurrentSet(after.put()), noErr);
    EXPECT_EQ(Utf8(after.get()), "S2");
}

TEST_F(Reads, AllocationFailuresFailCleanly)
{
    Write(kStorePath, Store({{"A", "en0"}, {"B", "ZORVEXMobile-Modem", "B-SHARED"}}));
    // Fail the n-th allocation, for n = 0, 1, 2 ... until the reads succeed;
    // the fixture checks that nothing leaked on any of the failing runs.
    long n = 0;
    for (; n < 10000; n++) {
        VZFlushPlatformCaches();
        VZArmAllocationFailure(n, false);
        Out<CFArrayRef>  local, resolved;
        Out<CFStringRef> bsdName;
        OSStatus         idsErr  = MoreSCCopyServiceIDs(NULL, local.put(), resolved.put());
        OSStatus         nameErr = MoreSCCopyBSDNameOfService(NULL, CFSTR("B"), bsdName.put());
        bool             failed  = VZGetAllocationFailureCount() > 0;
        VZClearAllocationFailure();
        EXPECT_EQ(idsErr == noErr, local.get() != nullptr && resolved.get() != nullptr) << n;
        EXPECT_EQ(nameErr == noErr, bsdName.get() != nullptr) << n;
        if (!failed) {
            EXPECT_EQ(idsErr, noErr);
            EXPECT_EQ(Strings(resolved.get()), (std::vector<std::string>{"A", "B-SHARED"}));
            EXPECT_EQ(Utf8(bsdName.get()), "ZORVEXMobile-Modem");
            break;
        }
        // A failure past the reads' own allocations leaves them whole.
        if (idsErr == noErr) {
            EXPECT_EQ(Strings(resolved.get()), (std::vector<std::string>{"A", "B-SHARED"}));
        }
        if (nameErr == noErr) {
            EXPECT_EQ(Utf8(bsdName.get()), "ZORVEXMobile-Modem");
        }
    }
    EXPECT_GT(n, 0) << "run 0 succeeded despite the failing allocator";
    EXPECT_LT(n, 10000);
}

TEST(SePath, IDIsTheThirdOfExactlyThreeComponents)
{
    struct Case {
        const char *path;
        OSStatus    err;
        const char *id;
    };
    const Case kCases[] = {
        {"/Sets/S1", noErr, "S1"},
        {"/NetworkServices/5B2C-11", noErr, "5B2C-11"},
        {"/Sets", kMoreSCErrorStoreValue, nullptr},
        {"/Sets/S1/", kMoreSCErrorStoreValue, nullptr},
        {"/Sets/S1/Network", kMoreSCErrorStoreValue, nullptr},
        {"", kMoreSCErrorStoreValue, nullptr},
    };
    for (const Case &c : kCases) {
        CFStringRef id = NULL;
        EXPECT_EQ(CopySeIDFromSePath(vztest::Str(c.path), &id), c.err) << c.path;
        EXPECT_EQ(Utf8(id), c.id ? c.id : "(null)") << c.path;
        if (id != NULL) CFRelease(id);
    }
}

// Death tests need no root: a child that dies would leave its root behind.
TEST(ReadsDeathTest, BadArgumentsStopTheProcess)
{
    // A non-NULL value where an out-parameter must point to NULL.
    static const void *const kFilled = CFSTR("filled");
    struct Case {
        const char *expression;
        void (*misuse)();
    };
    static const Case kCases[] = {
        {"setID != NULL", [] { (void)MoreSCCopyCurrentSet(NULL); }},
        {"*setID == NULL",
         [] {
             CFStringRef setID = static_cast<CFStringRef>(kFilled);
             (void)MoreSCCopyCurrentSet(&setID);
         }},
        {"(servicesDict != NULL) || ( serviceOrder != NULL)",
         [] { (void)MoreSCCopyServicesDict(NULL, NULL, NULL); }},
        {"(servicesDict == NULL) || (*servicesDict == NULL)",
         [] {
             CFDictionaryRef dict = static_cast<CFDictionaryRef>(kFilled);
             (void)MoreSCCopyServicesDict(NULL, &dict, NULL);
         }},
        {"(serviceOrder == NULL) || (*serviceOrder == NULL)",
         [] {
             CFArrayRef order = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCopyServicesDict(NULL, NULL, &order);
         }},
        {"(localServiceIDs != NULL) || (resolvedServiceIDs != NULL)",
         [] { (void)MoreSCCopyServiceIDs(NULL, NULL, NULL); }},
        {"(localServiceIDs == NULL) || (*localServiceIDs == NULL)",
         [] {
             CFArrayRef ids = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCopyServiceIDs(NULL, &ids, NULL);
         }},
        {"(resolvedServiceIDs == NULL) || (*resolvedServiceIDs == NULL)",
         [] {
             CFArrayRef ids = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCopyServiceIDs(NULL, NULL, &ids);
         }},
        {"protocol != NULL",
         [] {
             CFDictionaryRef entity = NULL;
             (void)MoreSCCopyEntity(NULL, NULL, NULL, &entity);
         }},
        {"entity != NULL", [] { (void)MoreSCCopyEntity(NULL, NULL, kSCEntNetIPv4, NULL); }},
        {"*entity == NULL",
         [] {
             CFDictionaryRef entity = static_cast<CFDictionaryRef>(kFilled);
             (void)MoreSCCopyEntity(NULL, NULL, kSCEntNetIPv4, &entity);
         }},
        {"serviceID != NULL",
         [] {
             CFStringRef name = NULL;
             (void)MoreSCCopyBSDNameOfService(NULL, NULL, &name);
         }},
        {"bsdName != NULL", [] { (void)MoreSCCopyBSDNameOfService(NULL, CFSTR("A"), NULL); }},
        {"*bsdName == NULL",
         [] {
             CFStringRef name = static_cast<CFStringRef>(kFilled);
             (void)MoreSCCopyBSDNameOfService(NULL, CFSTR("A"), &name);
         }},
    };
    for (const Case &c : kCases) {
        EXPECT_DEATH(c.misuse(), vztest::AssertionPattern(c.expression)) << c.expression;
    }
}

TEST(ReadsDeathTest, BadArgumentsToThePathFunctionsStopTheProcess)
{
    static const void *const kFilled = CFSTR("filled");
    struct Case {
        const char *expression;
        void (*misuse)();
    };
    static const Case kCases[] = {
        {"setPath != NULL", [] { (void)CreateSetPathWithSetID(CFSTR("S1"), NULL); }},
        {"*setPath == NULL",
         [] {
             CFStringRef path = static_cast<CFStringRef>(kFilled);
             (void)CopySetPath(NULL, &path);
         }},
        {"sePath != NULL",
         [] {
             CFStringRef id = NULL;
             (void)CopySeIDFromSePath(NULL, &id);
         }},
        {"seID != NULL", [] { (void)CopySeIDFromSePath(CFSTR("/Sets/S1"), NULL); }},
        {"*seID == NULL",
         [] {
             CFStringRef id = static_cast<CFStringRef>(kFilled);
             (void)CopySeIDFromSePath(CFSTR("/Sets/S1"), &id);
         }},
        {"setGlobalsPath != NULL", [] { (void)CopySetGlobalsPath(NULL, NULL); }},
        {"*setGlobalsPath == NULL",
         [] {
             CFStringRef path = static_cast<CFStringRef>(kFilled);
             (void)CopySetGlobalsPath(NULL, &path);
         }},
        {"setServicesPath != NULL", [] { (void)CopySetServicesPath(NULL, NULL); }},
        {"*setServicesPath == NULL",
         [] {
             CFStringRef path = static_cast<CFStringRef>(kFilled);
             (void)CopySetServicesPath(NULL, &path);
         }},
        {"servicePath != NULL", [] { (void)CopyResolvedServicePath(NULL, CFSTR("A"), NULL); }},
        {"*servicePath == NULL",
         [] {
             CFStringRef path = static_cast<CFStringRef>(kFilled);
             (void)CopyResolvedServicePath(NULL, CFSTR("A"), &path);
         }},
        {"entityPath != NULL",
         [] { (void)CopyEntityPath(NULL, CFSTR("A"), kSCEntNetInterface, NULL); }},
        {"*entityPath == NULL",
         [] {
             CFStringRef path = static_cast<CFStringRef>(kFilled);
             (void)CopyEntityPath(NULL, CFSTR("A"), kSCEntNetInterface, &path);
         }},
    };
    for (const Case &c : kCases) {
        EXPECT_DEATH(c.misuse(), vztest::AssertionPattern(c.expression)) << c.expression;
    }
}

} // namespace
