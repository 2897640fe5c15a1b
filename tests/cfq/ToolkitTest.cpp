// ToolkitTest.cpp: the toolkit core: error codes from creations, null-tolerant
// retain and release, memory blocks, the empty containers, out-of-memory
// paths, and the assertion texts of every toolkit function.
#include "TestSupport.h"

#include "MoreCFQ.h"

#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

using vztest::Str;

class CFQTest : public vztest::TempRoot {};

TEST_F(CFQTest, ErrorCodesFollowTheCreationOutcome)
{
    const struct {
        Boolean  flag;
        OSStatus expected;
    } flags[] = {{0, -4960}, {1, noErr}, {2, noErr}, {255, noErr}};
    for (const auto &row : flags) {
        EXPECT_EQ(CFQErrorBoolean(row.flag), row.expected) << "flag " << int(row.flag);
    }

    Str object("x");
    EXPECT_EQ(CFQError(nullptr), -4960);
    EXPECT_EQ(CFQError(object.get()), noErr);
}

TEST_F(CFQTest, RetainAndReleaseTolerateNull)
{
    EXPECT_EQ(CFQRetain(nullptr), nullptr);
    CFQRelease(nullptr);

    // Taking ownership of a borrowed value is one assignment, and the
    // matching CFQRelease gives it back.
    Str       borrowed("value");
    CFIndex   before = CFGetRetainCount(borrowed.get());
    CFTypeRef owned  = CFQRetain(borrowed.get());
    EXPECT_EQ(owned, borrowed.get());
    EXPECT_EQ(CFGetRetainCount(borrowed.get()), before + 1);
    CFQRelease(owned);
    EXPECT_EQ(CFGetRetainCount(borrowed.get()), before);
}

TEST_F(CFQTest, AllocateGivesDistinctUsableBlocksEvenForZeroBytes)
{
    for (ByteCount size : {0u, 1u, 17u, 4096u}) {
        void *first  = nullptr;
        void *second = nullptr;
        ASSERT_EQ(CFQAllocate(size, &first), noErr) << size;
        ASSERT_EQ(CFQAllocate(size, &second), noErr) << size;
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        // The whole block (at least one byte) is writable; the sanitizer
        // catches a short block.
        std::memset(first, 0xA5, size == 0 ? 1 : size);
        CFQDeallocate(first);
        CFQDeallocate(second);
    }
    CFQDeallocate(nullptr);
}

// A block of entries whose size a ByteCount cannot hold is refused, never
// cut down to a short block the entries would overrun.
TEST_F(CFQTest, AllocateEntriesRefusesSizesBeyondTwoGigabytes)
{
    struct Case {
        CFIndex  count;
        size_t   entrySize;
        OSStatus expected;
    };
    const Case cases[] = {
        {0, 8, noErr},         {3, 8, noErr},           {3, 0, noErr},
        {0x10000000, 8, -108}, {0x80000000LL, 2, -108}, {0x100000001LL, 8, -108},
        {0x40000000, 2, -108}, {-1, 8, -108},
    };
    for (const Case &c : cases) {
        void    *block = nullptr;
        OSStatus err   = CFQAllocateEntries(c.count, c.entrySize, &block);
        EXPECT_EQ(err, c.expected) << c.count << " x " << c.entrySize;
        EXPECT_EQ(block != nullptr, err == noErr);
        if (block != nullptr) std::memset(block, 0xA5, c.count * c.entrySize);
        CFQDeallocate(block);
    }
}

TEST_F(CFQTest, OutOfMemoryIsReportedAndLeavesResultsNull)
{
    void *block = nullptr;
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(CFQAllocate(16, &block), -108);
    EXPECT_EQ(block, nullptr);

    CFMutableDictionaryRef dict = nullptr;
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(CFQDictionaryCreateMutable(&dict), -4960);
    EXPECT_EQ(dict, nullptr);

    CFMutableArrayRef array = nullptr;
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(CFQArrayCreateMutable(&array), -4960);
    EXPECT_EQ(array, nullptr);
    VZClearAllocationFailure();
}

TEST_F(CFQTest, ContainersRetainTheirContentsAndCompareByValue)
{
    CFMutableDictionaryRef dict  = nullptr;
    CFMutableArrayRef      array = nullptr;
    ASSERT_EQ(CFQDictionaryCreateMutable(&dict), noErr);
    ASSERT_EQ(CFQArrayCreateMutable(&array), noErr);
    EXPECT_EQ(CFDictionaryGetCount(dict), 0);
    EXPECT_EQ(CFArrayGetCount(array), 0);

    // Keys and values made here and released at once: the containers must
    // hold their own references.
    CFStringRef key   = CFStringCreateWithCString(nullptr, "Router", kCFStringEncodingUTF8);
    CFStringRef value = CFStringCreateWithCString(nullptr, "10.0.0.1", kCFStringEncodingUTF8);
    CFDictionarySetValue(dict, key, value);
    CFArrayAppendValue(array, value);
    CFRelease(key);
    CFRelease(value);

    // A different string object with equal text finds the entry.
    Str sameKey("Router");
    Str sameValue("10.0.0.1");
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, sameKey.get()), sameValue.get()));
    EXPECT_TRUE(CFArrayContainsValue(array, CFRangeMake(0, 1), sameValue.get()));

    CFQRelease(dict);
    CFQRelease(array);
}

// ---------------------------------------------------------------------------
// Assertion texts. Each row provokes one distinct text; the message names the
// source file and line before it.

struct DeathRow {
    const char           *text;
    std::function<void()> provoke;
};

TEST(CFQDeathTest, MessageNamesFileLineAndExpression)
{
    EXPECT_DEATH(CFQDictionaryCreateMutable(nullptr),
                 "MoreCFQ\\.cpp:[0-9]+: " + vztest::AssertionPattern("result != NULL") + "\n");
}

TEST(CFQDeathTest, EveryPreconditionStopsWithItsText)
{
    static CFTypeRef            one  = CFSTR("one"); // immortal, so never counted as live
    const std::vector<DeathRow> rows = {
        {"((CFIndex) bytesToAllocate) >= 0",
         [] {
             void *block = nullptr;
             (void)CFQAllocate(0x80000000u, &block);
         }},
        {"blockPtrPtr != NULL", [] { (void)CFQAllocate(1, nullptr); }},
        {"*blockPtrPtr == NULL",
         [] {
             char  byte  = 0;
             void *block = &byte;
             (void)CFQAllocate(1, &block);
         }},
        {"result != NULL", [] { (void)CFQArrayCreateMutable(nullptr); }},
        {"*result == NULL",
         [] {
             CFMutableDictionaryRef held = nullptr;
             (void)CFQDictionaryCreateMutable(&held);
             (void)CFQDictionaryCreateMutable(&held);
         }},
        {"dict != NULL",
         [] {
             CFArrayRef keys = nullptr;
             (void)CFQArrayCreateWithDictionaryKeys(nullptr, &keys);
         }},
        {"keys != NULL",
         [] {
             CFDictionaryRef dict   = nullptr;
             CFArrayRef      values = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
             (void)CFQDictionaryCreateWithArrayOfKeysAndValues(nullptr, values, &dict);
         }},
        {"values != NULL",
         [] {
             CFDictionaryRef dict = nullptr;
             CFArrayRef      keys = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
             (void)CFQDictionaryCreateWithArrayOfKeysAndValues(keys, nullptr, &dict);
         }},
        {"CFArrayGetCount(keys) == CFArrayGetCount(values)",
         [] {
             CFDictionaryRef dict   = nullptr;
             CFArrayRef      keys   = CFArrayCreate(nullptr, &one, 1, &kCFTypeArrayCallBacks);
             CFArrayRef      values = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
             (void)CFQDictionaryCreateWithArrayOfKeysAndValues(keys, values, &dict);
         }},
        {"dst != NULL",
         [] {
             CFMutableDictionaryRef src = nullptr;
             (void)CFQDictionaryCreateMutable(&src);
             (void)CFQDictionaryMerge(nullptr, src);
         }},
        {"src != NULL",
         [] {
             CFMutableDictionaryRef dst = nullptr;
             (void)CFQDictionaryCreateMutable(&dst);
             (void)CFQDictionaryMerge(dst, nullptr);
         }},
        // A destination that is not a dictionary is caught at its first entry.
        {"CFGetTypeID(dst) == CFDictionaryGetTypeID()",
         [] {
             CFMutableDictionaryRef src = nullptr;
             CFMutableArrayRef      dst = nullptr;
             (void)CFQDictionaryCreateMutable(&src);
             (void)CFQArrayCreateMutable(&dst);
             CFDictionarySetValue(src, one, one);
             (void)CFQDictionaryMerge((CFMutableDictionaryRef)dst, src);
         }},
        {"strPtr != NULL", [] { (void)CFQStringNormalize(nullptr); }},
        {"*strPtr != NULL",
         [] {
             CFStringRef none = nullptr;
             (void)CFQStringNormalize(&none);
         }},
    };
    for (const DeathRow &row : rows) {
        EXPECT_DEATH(row.provoke(), vztest::AssertionPattern(row.text)) << row.text;
    }
}

} // namespace
