// StringEncodingTest.cpp: strings to and from bytes: decoding and its
// refusals, the partial-conversion rule, surrogate pairs, the Mac OS Roman and
// Latin 1 tables, byte-order marks, C strings and numbers read from strings.
#include "TestSupport.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

using vztest::Str;
using vztest::Utf8;

std::u16string Units(CFStringRef s)
{
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)),
                          reinterpret_cast<UniChar *>(out.data()));
    return out;
}

CFStringRef FromUnits(const std::u16string &units)
{
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(units.data()),
                                        static_cast<CFIndex>(units.size()));
}

std::string Hex(const UInt8 *bytes, size_t count)
{
    static const char digits[] = "0123456789abcdef";
    std::string       out;
    for (size_t i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

TEST(StringDecoding, WellFormedBytesMakeTheExpectedUnits)
{
    struct Case {
        const char      *bytes;
        CFStringEncoding encoding;
        std::u16string   units;
    } cases[] = {
        {"plain", kCFStringEncodingASCII, u"plain"},
        {"caf\xC3\xA9", kCFStringEncodingUTF8, u"caf\u00E9"},
        {"\xE2\x82\xAC", kCFStringEncodingUTF8, u"\u20AC"},
        {"\xF0\x9F\x98\x80", kCFStringEncodingUTF8, u"\U0001F600"},
        {"caf\xE9", kCFStringEncodingISOLatin1, u"caf\u00E9"},
        {"caf\x8E", kCFStringEncodingMacRoman, u"caf\u00E9"},
        {"\xDB\xF0", kCFStringEncodingMacRoman, u"\u20AC\uF8FF"},
        {"", kCFStringEncodingUTF8, u""},
    };
    for (const Case &c : cases) {
        CFStringRef s = CFStringCreateWithCString(nullptr, c.bytes, c.encoding);
        ASSERT_NE(s, nullptr) << c.bytes;
        EXPECT_EQ(Units(s), c.units) << c.bytes;
        CFRelease(s);
    }
}

TEST(StringDecoding, BytesTheEncodingDoesNotAllowAreRefused)
{
    struct Case {
        std::string      bytes;
        CFStringEncoding encoding;
    } cases[] = {
        {"caf\xC3", kCFStringEncodingUTF8},               // truncated sequence
        {"\xC0\xAF", kCFStringEncodingUTF8},              // overlong slash
        {"\xE0\x80\xAF", kCFStringEncodingUTF8},          // overlong, three bytes
        {"\xED\xA0\x80", kCFStringEncodingUTF8},          // an encoded surrogate
        {"\xF4\x90\x80\x80", kCFStringEncodingUTF8},      // above U+10FFFF
        {"\x80", kCFStringEncodingUTF8},                  // a lone continuation byte
        {"\xFF", kCFStringEncodingUTF8},                  // never in UTF-8
        {"abc\x80", kCFStringEncodingASCII},              // above 0x7F in ASCII
        {std::string("a\0b", 3), kCFStringEncodingUTF16}, // odd number of UTF-16 bytes
        {"abc", kCFStringEncodingUTF32},                  // not an available encoding
    };
    for (const Case &c : cases) {
        CFStringRef s =
            CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(c.bytes.data()),
                                    static_cast<CFIndex>(c.bytes.size()), c.encoding, false);
        EXPECT_EQ(s, nullptr) << Hex(reinterpret_cast<const UInt8 *>(c.bytes.data()),
                                     c.bytes.size());
        if (s != nullptr) CFRelease(s);
    }
}

TEST(StringDecoding, ByteOrderMarksOfExternalRepresentations)
{
    struct Case {
        std::string      bytes;
        CFStringEncoding encoding;
        bool             external;
        std::u16string   units;
    } cases[] = {
        {std::string("\xFE\xFF\0a", 4), kCFStringEncodingUTF16, true, u"a"},
        {std::string("\xFF\xFE"
                     "a\0",
                     4),
         kCFStringEncodingUTF16, true, u"a"},
        {std::string("\0a\0b", 4), kCFStringEncodingUTF16BE, false, u"ab"},
        {std::string("a\0b\0", 4), kCFStringEncodingUTF16LE, false, u"ab"},
        {std::string("\xFE\xFF\0a", 4), kCFStringEncodingUTF16BE, true, u"a"},
        // Without the external flag a mark is a character like any other.
        {std::string("\xFE\xFF\0a", 4), kCFStringEncodingUTF16BE, false, u"\uFEFFa"},
        {"\xEF\xBB\xBFx", kCFStringEncodingUTF8, true, u"x"},
        {"\xEF\xBB\xBFx", kCFStringEncodingUTF8, false, u"\uFEFFx"},
    };
    for (const Case &c : cases) {
        CFStringRef s =
            CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(c.bytes.data()),
                                    static_cast<CFIndex>(c.bytes.size()), c.encoding, c.external);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(Units(s), c.units);
        CFRelease(s);
    }
}

TEST(StringDecoding, ExternalRepresentationRoundTrips)
{
    CFStringRef text = FromUnits(u"Caf\u00E9 \U0001F600");
    for (CFStringEncoding encoding : {kCFStringEncodingUTF8, kCFStringEncodingUTF16,
                                      kCFStringEncodingUTF16BE, kCFStringEncodingUTF16LE}) {
        CFDataRef data = CFStringCreateExternalRepresentation(nullptr, text, encoding, 0);
        ASSERT_NE(data, nullptr);
        CFStringRef back = CFStringCreateFromExternalRepresentation(nullptr, data, encoding);
        ASSERT_NE(back, nullptr);
        EXPECT_TRUE(CFEqual(back, text)) << encoding;
        CFRelease(back);
        CFRelease(data);
    }
    // UTF-16 in host order carries a mark; a character that Latin 1 lacks
    // makes the representation fail without a loss byte.
    CFDataRef data = CFStringCreateExternalRepresentation(nullptr, text, kCFStringEncodingUTF16, 0);
    UniChar   mark = 0;
    memcpy(&mark, CFDataGetBytePtr(data), 2);
    EXPECT_EQ(mark, 0xFEFF);
    EXPECT_EQ(CFDataGetLength(data), 2 + 2 * CFStringGetLength(text));
    CFRelease(data);
    EXPECT_EQ(CFStringCreateExternalRepresentation(nullptr, text, kCFStringEncodingISOLatin1, 0),
              nullptr);
    data = CFStringCreateExternalRepresentation(nullptr, text, kCFStringEncodingISOLatin1, '?');
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                          static_cast<size_t>(CFDataGetLength(data))),
              "Caf\xE9 ?");
    CFRelease(data);
    CFRelease(text);
}

// Without a loss byte a conversion stops at the first character the encoding
// cannot hold and says how far it got; with one it substitutes it.
TEST(StringEncoding, PartialConversionStopsOrSubstitutes)
{
    CFStringRef text = FromUnits(u"abc\u00E9\u20ACd");
    struct Case {
        CFStringEncoding encoding;
        UInt8            lossByte;
        CFIndex          bufferSize; // -1: measure only
        CFIndex          converted;
        std::string      bytes;
    } cases[] = {
        {kCFStringEncodingASCII, 0, 64, 3, "616263"},
        {kCFStringEncodingASCII, 0, -1, 3, "616263"},
        {kCFStringEncodingASCII, '?', 64, 6, "6162633f3f64"},
        {kCFStringEncodingASCII, '?', 2, 2, "6162"},
        {kCFStringEncodingISOLatin1, 0, 64, 4, "616263e9"},
        {kCFStringEncodingMacRoman, 0, 64, 6, "6162638edb64"},
        {kCFStringEncodingUTF8, 0, 64, 6, "616263c3a9e282ac64"},
        {kCFStringEncodingUTF8, 0, 4, 3, "616263"}, // the two bytes of U+00E9 do not fit
        {kCFStringEncodingUTF8, 0, 5, 4, "616263c3a9"},
        {kCFStringEncodingUTF16BE, 0, 7, 3, "006100620063"},
    };
    for (const Case &c : cases) {
        UInt8   buffer[64];
        CFIndex used = -1;
        memset(buffer, 0xA5, sizeof buffer);
        CFIndex converted = CFStringGetBytes(
            text, CFRangeMake(0, CFStringGetLength(text)), c.encoding, c.lossByte, false,
            c.bufferSize < 0 ? nullptr : buffer, c.bufferSize < 0 ? 0 : c.bufferSize, &used);
        EXPECT_EQ(converted, c.converted) << c.encoding << " " << c.bufferSize;
        EXPECT_EQ(used, static_cast<CFIndex>(c.bytes.size() / 2));
        if (c.bufferSize >= 0) {
            EXPECT_EQ(Hex(buffer, static_cast<size_t>(used)), c.bytes);
            EXPECT_EQ(buffer[used], 0xA5) << "wrote past the bytes it reported";
        }
    }
    CFRelease(text);
}

TEST(StringEncoding, ACharacterOutsideTheBMPIsTwoUnitsAndNeverSplit)
{
    CFStringRef text = FromUnits(u"a\U0001F600b");
    EXPECT_EQ(CFStringGetLength(text), 4);
    struct Case {
        CFStringEncoding encoding;
        UInt8            lossByte;
        CFRange          range;
        CFIndex          bufferSize;
        CFIndex          converted;
        CFIndex          used;
    } cases[] = {
        {kCFStringEncodingUTF8, 0, {0, 4}, 64, 4, 6},
        {kCFStringEncodingUTF8, 0, {0, 4}, 4, 1, 1}, // the four bytes of the pair do not fit
        {kCFStringEncodingUTF8, 0, {0, 4}, 5, 3, 5},
        {kCFStringEncodingUTF16BE, 0, {0, 4}, 4, 1, 2}, // nor do half of its units
        {kCFStringEncodingUTF16BE, 0, {0, 4}, 6, 3, 6},
        {kCFStringEncodingASCII, '?', {0, 4}, 64, 4, 3}, // one loss byte for the pair
        {kCFStringEncodingASCII, 0, {0, 4}, 64, 1, 1},
        {kCFStringEncodingUTF8, 0, {1, 1}, 64, 0, 0}, // an unpaired surrogate has no UTF-8
        {kCFStringEncodingUTF8, '?', {2, 2}, 64, 2, 2},
    };
    for (const Case &c : cases) {
        UInt8   buffer[64];
        CFIndex used      = -1;
        CFIndex converted = CFStringGetBytes(text, c.range, c.encoding, c.lossByte, false, buffer,
                                             c.bufferSize, &used);
        EXPECT_EQ(converted, c.converted) << c.encoding << " size " << c.bufferSize;
        EXPECT_EQ(used, c.used) << c.encoding << " size " << c.bufferSize;
    }
    CFRelease(text);
}

TEST(StringEncoding, MacRomanRoundTripsEveryByte)
{
    UInt8 all[256];
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<UInt8>(i);
    CFStringRef s = CFStringCreateWithBytes(nullptr, all, 256, kCFStringEncodingMacRoman, false);
    ASSERT_NE(s, nullptr);
    ASSERT_EQ(CFStringGetLength(s), 256);
    std::u16string units = Units(s);
    EXPECT_EQ(units[0x41], u'A');
    EXPECT_EQ(units[0x80], u'\u00C4');
    EXPECT_EQ(units[0xA5], u'\u2022');
    EXPECT_EQ(units[0xDB], u'\u20AC');
    EXPECT_EQ(units[0xF0], u'\uF8FF');
    UInt8   back[256];
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 256), kCFStringEncodingMacRoman, 0, false, back,
                               256, &used),
              256);
    EXPECT_EQ(used, 256);
    EXPECT_EQ(memcmp(all, back, 256), 0);
    CFRelease(s);
}

TEST(StringEncoding, Latin1IsTheFirst256CodePoints)
{
    UInt8 all[256];
    for (int i = 0; i < 256; ++i)
        all[i] = static_cast<UInt8>(i);
    CFStringRef s = CFStringCreateWithBytes(nullptr, all, 256, kCFStringEncodingISOLatin1, false);
    ASSERT_NE(s, nullptr);
    std::u16string units = Units(s);
    for (int i = 0; i < 256; ++i)
        EXPECT_EQ(units[i], i);
    UInt8   back[256];
    CFIndex used = 0;
    EXPECT_EQ(CFStringGetBytes(s, CFRangeMake(0, 256), kCFStringEncodingISOLatin1, 0, false, back,
                               256, &used),
              256);
    EXPECT_EQ(memcmp(all, back, 256), 0);
    CFRelease(s);
    CFStringRef beyond = FromUnits(u"\u0100");
    EXPECT_EQ(CFStringGetBytes(beyond, CFRangeMake(0, 1), kCFStringEncodingISOLatin1, 0, false,
                               back, 256, &used),
              0);
    CFRelease(beyond);
}

TEST(StringCString, ConversionFitsWhollyOrFailsWithAnEmptyBuffer)
{
    CFStringRef accented = FromUnits(u"caf\u00E9");
    CFStringRef wide     = FromUnits(u"\u20AC5");
    struct Case {
        CFStringRef      string;
        CFStringEncoding encoding;
        CFIndex          bufferSize;
        bool             ok;
        std::string      text;
    } cases[] = {
        {CFSTR("abc"), kCFStringEncodingUTF8, 4, true, "abc"},
        {CFSTR("abc"), kCFStringEncodingUTF8, 3, false, ""}, // no room for the zero
        {accented, kCFStringEncodingUTF8, 6, true, "caf\xC3\xA9"},
        {accented, kCFStringEncodingUTF8, 5, false, ""},
        {accented, kCFStringEncodingASCII, 64, false, ""},
        {accented, kCFStringEncodingISOLatin1, 5, true, "caf\xE9"},
        {wide, kCFStringEncodingMacRoman, 64, true,
         "\xDB"
         "5"},
        {wide, kCFStringEncodingUTF8, 64, true,
         "\xE2\x82\xAC"
         "5"},
        {CFSTR("abc"), kCFStringEncodingUTF16, 64, false, ""}, // not a C string encoding
    };
    for (const Case &c : cases) {
        char buffer[64];
        memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(CFStringGetCString(c.string, buffer, c.bufferSize, c.encoding) != 0, c.ok)
            << c.text;
        EXPECT_EQ(std::string(buffer), c.text);
    }
    CFRelease(accented);
    CFRelease(wide);
}

TEST(StringCString, PointerOnlyWhenTheStorageIsThatCString)
{
    CFStringRef        latin    = FromUnits(u"caf\u00E9");
    CFStringRef        wide     = FromUnits(u"\u20AC");
    CFMutableStringRef mutable_ = CFStringCreateMutableCopy(nullptr, 0, CFSTR("abc"));
    EXPECT_STREQ(CFStringGetCStringPtr(CFSTR("abc"), kCFStringEncodingUTF8), "abc");
    EXPECT_STREQ(CFStringGetCStringPtr(CFSTR("abc"), kCFStringEncodingASCII), "abc");
    EXPECT_STREQ(CFStringGetCStringPtr(CFSTR("abc"), kCFStringEncodingMacRoman), "abc");
    EXPECT_EQ(CFStringGetCStringPtr(CFSTR("abc"), kCFStringEncodingUTF16), nullptr);
    EXPECT_EQ(CFStringGetCStringPtr(latin, kCFStringEncodingUTF8), nullptr);
    EXPECT_STREQ(CFStringGetCStringPtr(latin, kCFStringEncodingISOLatin1), "caf\xE9");
    EXPECT_EQ(CFStringGetCStringPtr(wide, kCFStringEncodingUTF8), nullptr);
    EXPECT_EQ(CFStringGetCStringPtr(mutable_, kCFStringEncodingUTF8), nullptr);
    CFRelease(latin);
    CFRelease(wide);
    CFRelease(mutable_);
}

TEST(StringCString, AppendDecodesOrAppendsNothing)
{
    CFMutableStringRef s = CFStringCreateMutableCopy(nullptr, 0, CFSTR("a"));
    CFStringAppendCString(s, "\xC3\xA9", kCFStringEncodingUTF8);
    CFStringAppendCString(s, "\xE9", kCFStringEncodingISOLatin1);
    CFStringAppendCString(s, "\xC3", kCFStringEncodingUTF8); // malformed: nothing
    EXPECT_EQ(Units(s), u"a\u00E9\u00E9");
    CFRelease(s);
}

TEST(StringEncodingInfo, AvailabilityNamesAndSizes)
{
    EXPECT_EQ(CFStringGetSystemEncoding(), kCFStringEncodingUTF8);
    for (CFStringEncoding encoding :
         {kCFStringEncodingASCII, kCFStringEncodingUTF8, kCFStringEncodingUTF16,
          kCFStringEncodingUTF16BE, kCFStringEncodingUTF16LE, kCFStringEncodingMacRoman,
          kCFStringEncodingISOLatin1}) {
        EXPECT_TRUE(CFStringIsEncodingAvailable(encoding)) << encoding;
        EXPECT_NE(CFStringGetNameOfEncoding(encoding), nullptr) << encoding;
    }
    EXPECT_FALSE(CFStringIsEncodingAvailable(kCFStringEncodingWindowsLatin1));
    EXPECT_EQ(CFStringGetNameOfEncoding(kCFStringEncodingNextStepLatin), nullptr);
    EXPECT_EQ(Utf8(CFStringGetNameOfEncoding(kCFStringEncodingMacRoman)), "Western (Mac OS Roman)");

    struct Case {
        CFIndex          length;
        CFStringEncoding encoding;
        CFIndex          size;
    } cases[] = {
        {10, kCFStringEncodingASCII, 10},
        {10, kCFStringEncodingUTF8, 30},
        {10, kCFStringEncodingUTF16, 20},
        {10, kCFStringEncodingUTF32, 0},
        {LONG_MAX / 2, kCFStringEncodingUTF8, kCFNotFound},
        {-1, kCFStringEncodingUTF8, kCFNotFound},
    };
    for (const Case &c : cases)
        EXPECT_EQ(CFStringGetMaximumSizeForEncoding(c.length, c.encoding), c.size)
            << c.length << " " << c.encoding;
}

TEST(StringNumbers, IntegerAndRealValuesOfTheLeadingNumber)
{
    struct IntCase {
        const char *text;
        SInt32      value;
    } ints[] = {
        {"42", 42},
        {"  -17abc", -17},
        {"+5", 5},
        {"abc", 0},
        {"", 0},
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"-99999999999999999999", INT32_MIN},
        {"\t\n 7", 7},
    };
    for (const IntCase &c : ints)
        EXPECT_EQ(CFStringGetIntValue(Str(c.text)), c.value) << c.text;

    struct RealCase {
        const char *text;
        double      value;
    } reals[] = {
        {"3.25", 3.25}, {" -1e3x", -1000.0}, {".5", 0.5},          {"1e", 1.0},
        {"x", 0.0},     {"12.", 12.0},       {"-0.125e+2", -12.5}, {"1e-400", 0.0},
    };
    for (const RealCase &c : reals)
        EXPECT_DOUBLE_EQ(CFStringGetDoubleValue(Str(c.text)), c.value) << c.text;
    EXPECT_TRUE(std::isinf(CFStringGetDoubleValue(CFSTR("1e400"))));
    EXPECT_TRUE(std::isinf(CFStringGetDoubleValue(CFSTR("-9e99999"))));
}

TEST(StringEncodingDeathTest, NullStringsAndBadRangesStopTheProcess)
{
    UInt8 buffer[4];
    EXPECT_DEATH(CFStringGetBytes(nullptr, CFRangeMake(0, 0), kCFStringEncodingUTF8, 0, false,
                                  buffer, 4, nullptr),
                 "vavivaz platform: CFStringGetBytes called with a NULL string");
    EXPECT_DEATH(CFStringGetBytes(CFSTR("ab"), CFRangeMake(1, 2), kCFStringEncodingUTF8, 0, false,
                                  buffer, 4, nullptr),
                 "vavivaz platform: CFStringGetBytes: range \\{1, 2\\} out of bounds");
    EXPECT_DEATH(CFStringCreateWithCString(nullptr, nullptr, kCFStringEncodingUTF8),
                 "vavivaz platform: CFStringCreateWithCString called with NULL");
    EXPECT_DEATH(
        CFStringGetCString(nullptr, reinterpret_cast<char *>(buffer), 4, kCFStringEncodingUTF8),
        "vavivaz platform: CFStringGetCString called with a NULL string");
}

} // namespace
