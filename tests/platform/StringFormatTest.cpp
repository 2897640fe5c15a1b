// StringFormatTest.cpp: strings made from formats: each conversion with its
// flags, width and precision, objects through %@, UTF-8 and UTF-16 text,
// positional arguments, appending, and formats refused as unsafe.
#include "TestSupport.h"

#include <cstdint>
#include <string>

namespace {

using vztest::Utf8;

// Formats with the arguments given and returns the UTF-8 text ("(null)" when
// no string was made).
template <typename... Args> std::string Format(const char *format, Args... args)
{
    CFStringRef f = CFStringCreateWithCString(nullptr, format, kCFStringEncodingUTF8);
    CFStringRef s = CFStringCreateWithFormat(nullptr, nullptr, f, args...);
    CFRelease(f);
    std::string text = Utf8(s);
    if (s != nullptr) CFRelease(s);
    return text;
}

TEST(StringFormat, IntegerConversions)
{
    struct Case {
        std::string got;
        const char *expected;
    } cases[] = {
        {Format("%d|%i", 42, -7), "42|-7"},
        {Format("%5d|%-5d|%05d", 42, 42, 42), "   42|42   |00042"},
        {Format("%+d|% d|%+d", 5, 5, -5), "+5| 5|-5"},
        {Format("%.3d|%8.3d", 7, -7), "007|    -007"},
        {Format("%u", 4294967295u), "4294967295"},
        {Format("%x|%X|%#x|%o|%#o", 255, 255, 255, 8, 8), "ff|FF|0xff|10|010"},
        {Format("%ld|%lu", -3000000000L, 3000000000UL), "-3000000000|3000000000"},
        {Format("%lld|%qd", INT64_MIN, INT64_MAX), "-9223372036854775808|9223372036854775807"},
        {Format("%llx", 0xDEADBEEFCAFEull), "deadbeefcafe"},
        {Format("%hhd|%hd|%hhu", 300, 70000, 257), "44|4464|1"},
        {Format("%zu|%zd", size_t(12), ssize_t(-12)), "12|-12"},
        {Format("%*d|%-*d|", 4, 1, 3, 2), "   1|2  |"},
        {Format("%*d|", -4, 1), "1   |"}, // a negative width aligns left
        {Format("%.*d|%.*d", 3, 5, -1, 5), "005|5"},
        {Format("100%%"), "100%"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(StringFormat, RealConversions)
{
    struct Case {
        std::string got;
        const char *expected;
    } cases[] = {
        {Format("%f", 3.25), "3.250000"},
        {Format("%.2f|%8.3f|%-8.1f|", 3.14159, 2.5, 2.5), "3.14|   2.500|2.5     |"},
        {Format("%e|%E", 12345.678, 0.00012), "1.234568e+04|1.200000E-04"},
        {Format("%g|%g|%G", 0.0001, 1e20, 1e-10), "0.0001|1e+20|1E-10"},
        {Format("%+.1f|%08.2f", 2.0, -3.5), "+2.0|-0003.50"},
        {Format("%Lf", 1.5L), "1.500000"},
        {Format("%.0f|%#.0f", 2.0, 2.0), "2|2."},
        {Format("%.3000f", 1.0).size() == 3002 ? std::string("long") : std::string("short"),
         "long"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(StringFormat, TextObjectsAndCharacters)
{
    CFStringRef   euro  = CFStringCreateWithCString(nullptr, "\xE2\x82\xAC", kCFStringEncodingUTF8);
    SInt32        value = 42;
    CFNumberRef   number = CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
    const UniChar wide[] = {'S', 0x00E9, 0xD83D, 0xDE00, 0};
    struct Case {
        std::string got;
        const char *expected;
    } cases[] = {
        {Format("<%@>", CFSTR("Sets")), "<Sets>"},
        {Format("<%@>", euro), "<\xE2\x82\xAC>"},
        {Format("<%@>", number), "<42>"},
        {Format("<%@>", static_cast<CFTypeRef>(nullptr)), "<(null)>"},
        {Format("/%@/%%/%@/%@", CFSTR("Sets"), euro, CFSTR("caf\u00E9")),
         "/Sets/%/\xE2\x82\xAC/caf\xC3\xA9"},
        {Format("%@/%@", CFSTR("a"), number), "a/42"},
        {Format("<%6@|%-6@|%.2@>", CFSTR("ab"), CFSTR("ab"), CFSTR("abc")), "<    ab|ab    |ab>"},
        {Format("<%s>", "caf\xC3\xA9"), "<caf\xC3\xA9>"},
        {Format("<%s>", static_cast<const char *>(nullptr)), "<(null)>"},
        {Format("<%6s|%-6s>", "ab", "ab"), "<    ab|ab    >"},
        {Format("<%.3s>", "abcdef"), "<abc>"},
        {Format("<%.4s>", "caf\xC3\xA9"), "<caf>"}, // the precision does not cut a character
        {Format("<%s>", "a\xFF"
                        "b"),
         "<a\xEF\xBF\xBD"
         "b>"}, // not UTF-8: U+FFFD
        {Format("<%S>", wide), "<S\xC3\xA9\xF0\x9F\x98\x80>"},
        {Format("<%.3S>", wide), "<S\xC3\xA9>"}, // nor half a surrogate pair
        {Format("<%c%c%3c>", 'a', 'b', 'c'), "<ab  c>"},
        {Format("<%C>", 0x20AC), "<\xE2\x82\xAC>"},
        {Format("<%lc>", 0x1F600), "<\xF0\x9F\x98\x80>"},
        {Format("<%p>", static_cast<const void *>(nullptr)), "<0x0>"},
        {Format("<%p>", reinterpret_cast<const void *>(uintptr_t(0xBEEF))), "<0xbeef>"},
        {Format("%@ has %d services", CFSTR("Automatic"), 3), "Automatic has 3 services"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
    // Joins longer than the short ones gathered on the stack.
    std::string longer(200, 'x');
    CFStringRef part = CFStringCreateWithCString(nullptr, longer.c_str(), kCFStringEncodingUTF8);
    EXPECT_EQ(Format("/%@/%@/", part, part), "/" + longer + "/" + longer + "/");
    EXPECT_EQ(Format("%@%@", part, euro), longer + "\xE2\x82\xAC");
    CFRelease(part);
    CFRelease(number);
    CFRelease(euro);
}

TEST(StringFormat, PositionalArguments)
{
    struct Case {
        std::string got;
        const char *expected;
    } cases[] = {
        {Format("%2$@ %1$@", CFSTR("world"), CFSTR("hello")), "hello world"},
        {Format("%1$d %1$d %2$s", 7, "x"), "7 7 x"},
        {Format("%2$*1$d|", 5, 42), "   42|"},
        {Format("%3$.*2$f|%1$s", "end", 2, 3.14159), "3.14|end"},
        {Format("%2$lld %1$s", "a", 1LL << 40), "1099511627776 a"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.got, c.expected);
}

TEST(StringFormat, UnsafeFormatsMakeNoString)
{
    int written = 12345;
    // A positional gap leaves an argument whose type is unknown, so the ones
    // after it cannot be fetched.
    EXPECT_EQ(Format("%1$d %3$d", 1, 2, 3), "(null)");
    EXPECT_EQ(Format("%999999999d", 1), "(null)");
    EXPECT_EQ(Format("%*d", 1 << 30, 1), "(null)");
    // %n consumes its pointer and never writes through it.
    EXPECT_EQ(Format("ab%nc%d", &written, 5), "abc5");
    EXPECT_EQ(written, 12345);
    // An unknown conversion is copied as text and takes no argument.
    EXPECT_EQ(Format("%y|%d", 4), "%y|4");
    EXPECT_EQ(Format("trailing %"), "trailing %");
}

TEST(StringFormat, AppendingAddsToTheEnd)
{
    CFMutableStringRef s = CFStringCreateMutableCopy(nullptr, 0, CFSTR("Service "));
    CFStringAppendFormat(s, nullptr, CFSTR("%d of %@"), 2, CFSTR("3"));
    EXPECT_EQ(Utf8(s), "Service 2 of 3");
    // The string's own text as an argument is read before anything is added.
    CFStringAppendFormat(s, nullptr, CFSTR(" [%@]"), s);
    EXPECT_EQ(Utf8(s), "Service 2 of 3 [Service 2 of 3]");
    CFStringAppendFormat(s, nullptr, CFSTR("%1$d %3$d"), 1, 2, 3);
    EXPECT_EQ(Utf8(s), "Service 2 of 3 [Service 2 of 3]");
    CFRelease(s);
}

TEST(StringFormatDeathTest, NullFormatStopsTheProcess)
{
    EXPECT_DEATH(CFStringCreateWithFormat(nullptr, nullptr, nullptr),
                 "vavivaz platform: CFStringCreateWithFormatAndArguments called with a NULL "
                 "string");
    EXPECT_DEATH(CFStringAppendFormat(nullptr, nullptr, CFSTR("x")),
                 "vavivaz platform: CFStringAppendFormatAndArguments called with a NULL string");
}

} // namespace
