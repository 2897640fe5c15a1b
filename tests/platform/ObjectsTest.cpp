// ObjectsTest.cpp: object identity and lifetime: reference counts, immortal
// constants, the live-object count, the allocation failure switch, and the
// faults that stop the process.
#include "Runtime.h"
#include "TestSupport.h"

#include <stdexcept>

namespace {

CFStringRef MakeString(const char16_t *text)
{
    return CFStringCreateWithCharacters(
        nullptr, reinterpret_cast<const UniChar *>(text),
        static_cast<CFIndex>(std::char_traits<char16_t>::length(text)));
}

TEST(ObjectLifetime, RetainAndReleaseMoveTheCountAndTheLastReleaseFrees)
{
    CFIndex     before = VZGetLiveObjectCount();
    CFStringRef s      = MakeString(u"x");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(VZGetLiveObjectCount(), before + 1);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    EXPECT_EQ(CFRetain(s), s);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(s);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);
    EXPECT_EQ(VZGetLiveObjectCount(), before);
}

TEST(ObjectLifetime, ConstantStringsAreOneImmortalObjectPerText)
{
    CFIndex     before = VZGetLiveObjectCount();
    CFStringRef a      = CFSTR("ServiceOrder");
    CFStringRef b      = __CFStringMakeConstantString("ServiceOrder");
    EXPECT_EQ(a, b);
    EXPECT_NE(CFSTR("ServiceOrder"), CFSTR("Sets"));
    CFRelease(a); // releasing a constant changes nothing
    CFRetain(a);
    EXPECT_EQ(CFStringGetLength(a), 12);
    EXPECT_EQ(VZGetLiveObjectCount(), before); // immortals are not counted
    EXPECT_EQ(CFGetRetainCount(kCFBooleanTrue), CFGetRetainCount(a));
}

TEST(ObjectLifetime, ContainersHoldTheirOwnReferences)
{
    CFStringRef       s = MakeString(u"value");
    CFMutableArrayRef a = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFArrayAppendValue(a, s);
    CFArrayAppendValue(a, s);
    EXPECT_EQ(CFGetRetainCount(s), 3);
    CFArrayRemoveValueAtIndex(a, 0);
    EXPECT_EQ(CFGetRetainCount(s), 2);
    CFRelease(a);
    EXPECT_EQ(CFGetRetainCount(s), 1);
    CFRelease(s);
}

TEST(AllocationFailure, ArmedFailureMakesCreateReturnNullOnceOrPersistently)
{
    VZArmAllocationFailure(1, false);
    CFStringRef first  = MakeString(u"a");
    CFStringRef second = MakeString(u"b");
    CFStringRef third  = MakeString(u"c");
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(VZGetAllocationFailureCount(), 1);
    CFRelease(first);
    CFRelease(third);

    VZArmAllocationFailure(0, true);
    EXPECT_EQ(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks), nullptr);
    EXPECT_EQ(CFDataCreate(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(CFAllocatorAllocate(nullptr, 16, 0), nullptr);
    VZClearAllocationFailure();
    void *block = CFAllocatorAllocate(nullptr, 16, 0);
    EXPECT_NE(block, nullptr);
    CFAllocatorDeallocate(nullptr, block);
}

TEST(TypeIDs, EachKindHasItsOwnID)
{
    CFStringRef s     = CFSTR("s");
    CFNumberRef n     = nullptr;
    SInt32      v     = 1;
    n                 = CFNumberCreate(nullptr, kCFNumberSInt32Type, &v);
    CFArrayRef      a = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
    CFDataRef       d = CFDataCreate(nullptr, nullptr, 0);
    CFDateRef       t = CFDateCreate(nullptr, 0);
    CFDictionaryRef dict =
        CFDictionaryCreate(nullptr, nullptr, nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                           &kCFTypeDictionaryValueCallBacks);
    EXPECT_EQ(CFGetTypeID(s), CFStringGetTypeID());
    EXPECT_EQ(CFGetTypeID(n), CFNumberGetTypeID());
    EXPECT_EQ(CFGetTypeID(a), CFArrayGetTypeID());
    EXPECT_EQ(CFGetTypeID(d), CFDataGetTypeID());
    EXPECT_EQ(CFGetTypeID(t), CFDateGetTypeID());
    EXPECT_EQ(CFGetTypeID(dict), CFDictionaryGetTypeID());
    EXPECT_EQ(CFGetTypeID(kCFBooleanFalse), CFBooleanGetTypeID());
    CFTypeID ids[] = {CFStringGetTypeID(), CFNumberGetTypeID(), CFArrayGetTypeID(),
                      CFDataGetTypeID(),   CFDateGetTypeID(),   CFDictionaryGetTypeID(),
                      CFBooleanGetTypeID()};
    for (size_t i = 0; i < std::size(ids); ++i)
        for (size_t j = i + 1; j < std::size(ids); ++j)
            EXPECT_NE(ids[i], ids[j]);
    CFStringRef name = CFCopyTypeIDDescription(CFDictionaryGetTypeID());
    EXPECT_EQ(CFStringGetLength(name), 12);
    CFRelease(name);
    for (CFTypeRef object :
         {CFTypeRef(n), CFTypeRef(a), CFTypeRef(d), CFTypeRef(t), CFTypeRef(dict)})
        CFRelease(object);
}

TEST(ObjectFaultsDeathTest, NullReferencesStopTheProcessWithAMessage)
{
    EXPECT_DEATH(CFRelease(nullptr), "vavivaz platform: CFRelease called with NULL");
    EXPECT_DEATH(CFRetain(nullptr), "vavivaz platform: CFRetain called with NULL");
    EXPECT_DEATH(CFEqual(nullptr, CFSTR("a")), "vavivaz platform: CFEqual called with NULL");
    EXPECT_DEATH(CFArrayGetCount(nullptr), "CFArrayGetCount called with something that is not");
}

TEST(ObjectFaultsDeathTest, OutOfRangeAccessStopsTheProcess)
{
    CFArrayRef a = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
    EXPECT_DEATH(CFArrayGetValueAtIndex(a, 0), "out of bounds");
    EXPECT_DEATH(CFStringGetCharacterAtIndex(CFSTR("ab"), 2), "out of bounds");
    CFRelease(a);
}

// Only an allocation failure becomes the failure value of an entry point; any
// other exception is a programming error and stops the process where it
// happened, instead of passing for a store failure (1001).
TEST(GuardedDeathTest, OnlyAllocationFailuresBecomeStatusCodes)
{
    EXPECT_EQ(vz::guarded(1001, []() -> int { throw std::bad_alloc(); }), 1001);
    EXPECT_DEATH(vz::guarded(1001, []() -> int { throw std::logic_error("a bug"); }),
                 "terminate called");
    EXPECT_DEATH(vz::guardedVoid([] { throw std::out_of_range("index"); }), "terminate called");
}

} // namespace
