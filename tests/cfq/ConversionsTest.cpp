// ConversionsTest.cpp: keys and values of a dictionary as arrays and back, the
// shallow merge, numbers stored under a key, string normalisation, and the
// out-of-memory path of each.
#include "TestSupport.h"

#include "MoreCFQ.h"

#include <climits>
#include <functional>
#include <string>
#include <vector>

namespace {

using vztest::Str;

class CFQConversionsTest : public vztest::TempRoot {
  protected:
    static CFNumberRef Number(SInt32 value)
    {
        return CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
    }

    // A dictionary of count entries "key<i>" -> i, made by the test itself.
    static CFMutableDictionaryRef Sample(int count)
    {
        CFMutableDictionaryRef dict = CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        for (int i = 0; i < count; i++) {
            std::string text = "key" + std::to_string(i);
            CFStringRef key =
                CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
            CFNumberRef number = Number(i);
            CFDictionarySetValue(dict, key, number);
            CFRelease(key);
            CFRelease(number);
        }
        return dict;
    }
};

TEST_F(CFQConversionsTest, KeysAndValuesPairUpAndRebuildTheDictionary)
{
    for (int count : {0, 1, 5, 200}) {
        CFMutableDictionaryRef dict    = Sample(count);
        CFArrayRef             keys    = nullptr;
        CFArrayRef             values  = nullptr;
        CFDictionaryRef        rebuilt = nullptr;

        ASSERT_EQ(CFQArrayCreateWithDictionaryKeys(dict, &keys), noErr);
        ASSERT_EQ(CFQArrayCreateWithDictionaryValues(dict, &values), noErr);
        ASSERT_EQ(CFArrayGetCount(keys), count);
        ASSERT_EQ(CFArrayGetCount(values), count);
        for (CFIndex i = 0; i < count; i++) {
            EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dict, CFArrayGetValueAtIndex(keys, i)),
                                CFArrayGetValueAtIndex(values, i)))
                << "entry " << i << " of " << count;
        }

        ASSERT_EQ(CFQDictionaryCreateWithArrayOfKeysAndValues(keys, values, &rebuilt), noErr);
        EXPECT_TRUE(CFEqual(rebuilt, dict)) << count;

        CFRelease(rebuilt);
        CFRelease(values);
        CFRelease(keys);
        CFRelease(dict);
    }
}

TEST_F(CFQConversionsTest, ConversionsSurviveEveryAllocationFailure)
{
    CFMutableDictionaryRef dict = Sample(3);
    CFArrayRef             keys = nullptr;
    CFArrayRef             vals = nullptr;
    ASSERT_EQ(CFQArrayCreateWithDictionaryKeys(dict, &keys), noErr);
    ASSERT_EQ(CFQArrayCreateWithDictionaryValues(dict, &vals), noErr);

    // Each conversion gets one scratch block per list and one new container;
    // whichever fails, the result stays NULL and nothing is left behind.
    const struct {
        const char                          *name;
        std::function<OSStatus(CFTypeRef *)> convert;
    } conversions[] = {
        {"keys",
         [&](CFTypeRef *out) {
             CFArrayRef result = nullptr;
             OSStatus   err    = CFQArrayCreateWithDictionaryKeys(dict, &result);
             *out              = result;
             return err;
         }},
        {"values",
         [&](CFTypeRef *out) {
             CFArrayRef result = nullptr;
             OSStatus   err    = CFQArrayCreateWithDictionaryValues(dict, &result);
             *out              = result;
             return err;
         }},
        {"dictionary",
         [&](CFTypeRef *out) {
             CFDictionaryRef result = nullptr;
             OSStatus        err = CFQDictionaryCreateWithArrayOfKeysAndValues(keys, vals, &result);
             *out                = result;
             return err;
         }},
    };
    for (const auto &conversion : conversions) {
        bool sawNoMemory = false, sawNotMade = false, succeeded = false;
        for (long n = 0; n < 100 && !succeeded; n++) {
            CFTypeRef result = nullptr;
            CFIndex   before = VZGetLiveObjectCount();
            VZArmAllocationFailure(n, false);
            OSStatus err = conversion.convert(&result);
            VZClearAllocationFailure();
            if (err == noErr) {
                succeeded = true;
                EXPECT_GT(n, 0) << conversion.name;
                CFRelease(result);
                continue;
            }
            sawNoMemory |= (err == -108);
            sawNotMade |= (err == -4960);
            EXPECT_TRUE(err == -108 || err == -4960) << conversion.name << " " << err;
            EXPECT_EQ(result, nullptr) << conversion.name;
            EXPECT_EQ(VZGetLiveObjectCount(), before) << conversion.name << " run " << n;
        }
        EXPECT_TRUE(succeeded) << conversion.name;
        EXPECT_TRUE(sawNoMemory) << conversion.name << ": no run failed for want of a block";
        EXPECT_TRUE(sawNotMade) << conversion.name << ": no run failed making the container";
    }

    CFRelease(vals);
    CFRelease(keys);
    CFRelease(dict);
}

TEST_F(CFQConversionsTest, MergeIsShallowAndSourceWins)
{
    Str         alpha("alpha"), beta("beta"), gamma("gamma"), x("x"), y("y");
    CFNumberRef one = Number(1), two = Number(2), three = Number(3);

    CFMutableDictionaryRef srcBeta = nullptr, dstBeta = nullptr, src = nullptr, dst = nullptr;
    ASSERT_EQ(CFQDictionaryCreateMutable(&srcBeta), noErr);
    ASSERT_EQ(CFQDictionaryCreateMutable(&dstBeta), noErr);
    ASSERT_EQ(CFQDictionaryCreateMutable(&src), noErr);
    ASSERT_EQ(CFQDictionaryCreateMutable(&dst), noErr);
    CFDictionarySetValue(srcBeta, x.get(), one);
    CFDictionarySetValue(dstBeta, y.get(), two);
    CFDictionarySetValue(src, alpha.get(), one);
    CFDictionarySetValue(src, beta.get(), srcBeta);
    CFDictionarySetValue(dst, beta.get(), dstBeta);
    CFDictionarySetValue(dst, gamma.get(), three);
    CFDictionaryRef srcBefore = CFDictionaryCreateCopy(nullptr, src);

    EXPECT_EQ(CFQDictionaryMerge(dst, src), noErr);
    EXPECT_EQ(CFDictionaryGetCount(dst), 3);
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dst, alpha.get()), one));
    EXPECT_TRUE(CFEqual(CFDictionaryGetValue(dst, gamma.get()), three));
    // The nested dictionary is replaced whole, shared rather than copied.
    EXPECT_EQ(CFDictionaryGetValue(dst, beta.get()), (const void *)srcBeta);
    EXPECT_EQ(CFDictionaryGetCount(srcBeta), 1);
    EXPECT_TRUE(CFEqual(src, srcBefore));

    // An empty source changes nothing.
    CFMutableDictionaryRef empty = nullptr;
    ASSERT_EQ(CFQDictionaryCreateMutable(&empty), noErr);
    CFDictionaryRef dstBefore = CFDictionaryCreateCopy(nullptr, dst);
    EXPECT_EQ(CFQDictionaryMerge(dst, empty), noErr);
    EXPECT_TRUE(CFEqual(dst, dstBefore));

    for (CFTypeRef object : std::initializer_list<CFTypeRef>{one, two, three, srcBeta, dstBeta, src,
                                                             dst, srcBefore, dstBefore, empty}) {
        CFRelease(object);
    }
}

TEST_F(CFQConversionsTest, SetNumberStoresThirtyTwoBitIntegers)
{
    CFMutableDictionaryRef dict = nullptr;
    ASSERT_EQ(CFQDictionaryCreateMutable(&dict), noErr);
    Str key("Flag");

    for (SInt32 value : {0, 1, -1, 1800, INT32_MAX, INT32_MIN}) {
        ASSERT_EQ(CFQDictionarySetNumber(dict, key.get(), value), noErr);
        EXPECT_EQ(CFDictionaryGetCount(dict), 1) << "setting again must replace";
        CFTypeRef stored = CFDictionaryGetValue(dict, key.get());
        ASSERT_EQ(CFGetTypeID(stored), CFNumberGetTypeID()) << "flags are never booleans";
        EXPECT_FALSE(CFNumberIsFloatType((CFNumberRef)stored));
        SInt32 back = 0;
        EXPECT_TRUE(CFNumberGetValue((CFNumberRef)stored, kCFNumberSInt32Type, &back));
        EXPECT_EQ(back, value);
    }

    // A number that cannot be made leaves the last value in place.
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(CFQDictionarySetNumber(dict, key.get(), 7), -4960);
    VZClearAllocationFailure();
    SInt32 kept = 0;
    CFNumberGetValue((CFNumberRef)CFDictionaryGetValue(dict, key.get()), kCFNumberSInt32Type,
                     &kept);
    EXPECT_EQ(kept, INT32_MIN);
    CFRelease(dict);
}

TEST_F(CFQConversionsTest, NormalizeDecomposesIntoANewMutableString)
{
    const UniChar precomposed[] = {0x00E9};
    const UniChar decomposed[]  = {0x0065, 0x0301};

    CFStringRef accented = CFStringCreateWithCharacters(nullptr, precomposed, 1);
    ASSERT_EQ(CFQStringNormalize(&accented), noErr);
    ASSERT_EQ(CFStringGetLength(accented), 2);
    UniChar units[2] = {0, 0};
    CFStringGetCharacters(accented, CFRangeMake(0, 2), units);
    EXPECT_EQ(units[0], decomposed[0]);
    EXPECT_EQ(units[1], decomposed[1]);
    CFRelease(accented);

    // Plain ASCII is unchanged in text but handed back as a different,
    // mutable object; the old reference was given up.
    CFStringRef original = CFStringCreateWithCString(nullptr, "en0", kCFStringEncodingASCII);
    CFStringRef str      = CFStringCreateWithCString(nullptr, "en0", kCFStringEncodingASCII);
    CFIndex     live     = VZGetLiveObjectCount();
    ASSERT_EQ(CFQStringNormalize(&str), noErr);
    EXPECT_EQ(VZGetLiveObjectCount(), live) << "the old string must be released";
    EXPECT_TRUE(CFEqual(str, original));
    EXPECT_NE(str, original);
    CFStringAppendCString((CFMutableStringRef)str, "x", kCFStringEncodingASCII);
    CFRelease(str);

    // Without memory the caller keeps the string it passed in.
    str                = CFStringCreateWithCString(nullptr, "en0", kCFStringEncodingASCII);
    CFStringRef passed = str;
    VZArmAllocationFailure(0, false);
    EXPECT_EQ(CFQStringNormalize(&str), -4960);
    VZClearAllocationFailure();
    EXPECT_EQ(str, passed);
    EXPECT_TRUE(CFEqual(str, original));
    CFRelease(str);
    CFRelease(original);
}

} // namespace
