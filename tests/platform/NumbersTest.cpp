// NumbersTest.cpp: numbers keep integers and reals apart, compare by value
// across them, convert with an honest lossless flag, and keep the 32-bit
// width of the system's long; plus booleans, data and dates.
#include "TestSupport.h"

#include <cmath>
#include <limits>

namespace {

CFNumberRef I64(SInt64 v)
{
    return CFNumberCreate(nullptr, kCFNumberSInt64Type, &v);
}
CFNumberRef F64(double v)
{
    return CFNumberCreate(nullptr, kCFNumberFloat64Type, &v);
}

TEST(Numbers, IntegersAndRealsStayApartButCompareByValue)
{
    struct Case {
        CFNumberRef        a, b;
        CFComparisonResult order;
    } cases[] = {
        {I64(1), F64(1.0), kCFCompareEqualTo},
        {I64(1), F64(1.5), kCFCompareLessThan},
        {I64(-3), F64(-3.5), kCFCompareGreaterThan},
        {I64(INT64_MAX), F64(9223372036854775808.0), kCFCompareLessThan},
        {I64(INT64_MIN), F64(-9223372036854775808.0), kCFCompareEqualTo},
        {F64(NAN), F64(NAN), kCFCompareEqualTo},
        {I64(0), F64(-0.0), kCFCompareEqualTo},
        {I64(2), I64(10), kCFCompareLessThan},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CFNumberCompare(c.a, c.b, nullptr), c.order);
        EXPECT_EQ(CFNumberCompare(c.b, c.a, nullptr), -c.order);
        EXPECT_EQ(CFEqual(c.a, c.b), c.order == kCFCompareEqualTo);
        if (c.order == kCFCompareEqualTo) {
            EXPECT_EQ(CFHash(c.a), CFHash(c.b));
        }
        EXPECT_FALSE(CFNumberIsFloatType(c.a) && c.a == c.b);
        CFRelease(c.a);
        CFRelease(c.b);
    }
    CFNumberRef i = I64(7);
    CFNumberRef r = F64(7);
    EXPECT_FALSE(CFNumberIsFloatType(i));
    EXPECT_TRUE(CFNumberIsFloatType(r));
    CFRelease(i);
    CFRelease(r);
}

TEST(Numbers, LongTypeIsTheTargetsThirtyTwoBits)
{
    SInt32      value = -5;
    CFNumberRef n     = CFNumberCreate(nullptr, kCFNumberLongType, &value);
    EXPECT_EQ(CFNumberGetType(n), kCFNumberSInt32Type);
    EXPECT_EQ(CFNumberGetByteSize(n), 4);
    SInt32 back = 0;
    EXPECT_TRUE(CFNumberGetValue(n, kCFNumberLongType, &back));
    EXPECT_EQ(back, -5);
    CFRelease(n);
}

TEST(Numbers, ConversionsReportLoss)
{
    struct Case {
        CFNumberRef  n;
        CFNumberType to;
        bool         exact;
        double       expected;
    } cases[] = {
        {I64(300), kCFNumberSInt8Type, false, 127},
        {I64(-300), kCFNumberSInt16Type, true, -300},
        {I64(1LL << 40), kCFNumberSInt32Type, false, 2147483647},
        {F64(2.5), kCFNumberSInt32Type, false, 2},
        {F64(-2.0), kCFNumberSInt32Type, true, -2},
        {I64((1LL << 53) + 1), kCFNumberFloat64Type, false, 9007199254740992.0},
        {F64(0.1), kCFNumberFloat32Type, false, 0.1f},
        {F64(0.5), kCFNumberFloat32Type, true, 0.5},
    };
    for (const Case &c : cases) {
        double got = 0;
        bool   exact;
        switch (c.to) {
        case kCFNumberSInt8Type: {
            SInt8 v = 0;
            exact   = CFNumberGetValue(c.n, c.to, &v);
            got     = v;
            break;
        }
        case kCFNumberSInt16Type: {
            SInt16 v = 0;
            exact    = CFNumberGetValue(c.n, c.to, &v);
            got      = v;
            break;
        }
        case kCFNumberSInt32Type: {
            SInt32 v = 0;
            exact    = CFNumberGetValue(c.n, c.to, &v);
            got      = v;
            break;
        }
        case kCFNumberFloat32Type: {
            Float32 v = 0;
            exact     = CFNumberGetValue(c.n, c.to, &v);
            got       = v;
            break;
        }
        default: {
            Float64 v = 0;
            exact     = CFNumberGetValue(c.n, c.to, &v);
            got       = v;
        }
        }
        EXPECT_EQ(exact, c.exact);
        EXPECT_EQ(got, c.expected);
        CFRelease(c.n);
    }
}

TEST(Booleans, AreTwoImmortalValuesDistinctFromNumbers)
{
    EXPECT_TRUE(CFBooleanGetValue(kCFBooleanTrue));
    EXPECT_FALSE(CFBooleanGetValue(kCFBooleanFalse));
    CFNumberRef one = I64(1);
    EXPECT_FALSE(CFEqual(kCFBooleanTrue, one));
    EXPECT_NE(CFGetTypeID(kCFBooleanTrue), CFGetTypeID(one));
    CFRelease(one);
}

TEST(Data, MutableEditsAndCopies)
{
    UInt8            bytes[] = {1, 2, 3, 4, 5};
    CFMutableDataRef d       = CFDataCreateMutable(nullptr, 0);
    CFDataAppendBytes(d, bytes, 5);
    UInt8 replacement[] = {9, 9, 9};
    CFDataReplaceBytes(d, CFRangeMake(1, 2), replacement, 3); // 1 9 9 9 4 5
    CFDataDeleteBytes(d, CFRangeMake(0, 1));                  // 9 9 9 4 5
    CFDataIncreaseLength(d, 1);                               // 9 9 9 4 5 0
    UInt8     expected[] = {9, 9, 9, 4, 5, 0};
    CFDataRef want       = CFDataCreate(nullptr, expected, 6);
    EXPECT_TRUE(CFEqual(d, want));
    CFDataRef frozen = CFDataCreateCopy(nullptr, d);
    CFDataSetLength(d, 0);
    EXPECT_EQ(CFDataGetLength(frozen), 6);
    EXPECT_EQ(CFHash(frozen), CFHash(want));
    UInt8 part[2];
    CFDataGetBytes(frozen, CFRangeMake(3, 2), part);
    EXPECT_EQ(part[0], 4);
    EXPECT_EQ(part[1], 5);
    for (CFTypeRef o : {CFTypeRef(d), CFTypeRef(want), CFTypeRef(frozen)})
        CFRelease(o);
}

TEST(Dates, CompareAndDescribeInUTC)
{
    CFDateRef a = CFDateCreate(nullptr, 0);
    CFDateRef b = CFDateCreate(nullptr, 86400.5);
    EXPECT_EQ(CFDateCompare(a, b, nullptr), kCFCompareLessThan);
    EXPECT_DOUBLE_EQ(CFDateGetTimeIntervalSinceDate(b, a), 86400.5);
    CFStringRef text = CFCopyDescription(b);
    UniChar     buffer[25];
    ASSERT_EQ(CFStringGetLength(text), 25);
    CFStringGetCharacters(text, CFRangeMake(0, 25), buffer);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t *>(buffer), 25),
              u"2001-01-02 00:00:00 +0000");
    for (CFTypeRef o : {CFTypeRef(a), CFTypeRef(b), CFTypeRef(text)})
        CFRelease(o);
}

} // namespace
