// StringEditTest.cpp: editing mutable strings: find and replace, padding,
// trimming, case mapping (with a locale's own rules) and normalisation.
#include "TestSupport.h"

#include <string>

namespace {

using vztest::Utf8;

std::u16string Units(CFStringRef s)
{
    std::u16string out(static_cast<size_t>(CFStringGetLength(s)), u'\0');
    CFStringGetCharacters(s, CFRangeMake(0, CFStringGetLength(s)),
                          reinterpret_cast<UniChar *>(out.data()));
    return out;
}

CFMutableStringRef Mutable(const std::u16string &units)
{
    CFMutableStringRef s = CFStringCreateMutable(nullptr, 0);
    CFStringAppendCharacters(s, reinterpret_cast<const UniChar *>(units.data()),
                             static_cast<CFIndex>(units.size()));
    return s;
}

TEST(StringReplace, EveryMatchInTheRangeIsReplacedAndCounted)
{
    struct Case {
        std::u16string       text;
        std::u16string       target;
        std::u16string       replacement;
        CFRange              range; // length -1: the whole text
        CFStringCompareFlags options;
        CFIndex              count;
        std::u16string       result;
    } cases[] = {
        {u"a-b-c", u"-", u"+", {0, -1}, 0, 2, u"a+b+c"},
        {u"a-b-c", u"-", u"", {0, -1}, 0, 2, u"abc"},
        {u"a-b-c", u"-", u"--", {0, 3}, 0, 1, u"a--b-c"},
        {u"aaaa", u"aa", u"b", {0, -1}, 0, 2, u"bb"},
        {u"aaa", u"aa", u"b", {0, -1}, kCFCompareBackwards, 1, u"ab"},
        {u"Sets sets SETS", u"sets", u"X", {0, -1}, kCFCompareCaseInsensitive, 3, u"X X X"},
        {u"caf\u00E9 cafe\u0301", u"\u00E9", u"e", {0, -1}, kCFCompareNonliteral, 2, u"cafe cafe"},
        {u"xxaxx", u"x", u"y", {0, -1}, kCFCompareAnchored, 2, u"yyaxx"},
        {u"abc", u"z", u"y", {0, -1}, 0, 0, u"abc"},
        {u"abc", u"", u"y", {0, -1}, 0, 0, u"abc"},
    };
    for (const Case &c : cases) {
        CFMutableStringRef s           = Mutable(c.text);
        CFMutableStringRef target      = Mutable(c.target);
        CFMutableStringRef replacement = Mutable(c.replacement);
        CFRange range = c.range.length < 0 ? CFRangeMake(0, CFStringGetLength(s)) : c.range;
        EXPECT_EQ(CFStringFindAndReplace(s, target, replacement, range, c.options), c.count)
            << Utf8(s);
        EXPECT_EQ(Units(s), c.result);
        CFRelease(s);
        CFRelease(target);
        CFRelease(replacement);
    }
}

TEST(StringReplace, TheStringItselfAsReplacementReadsTheOldText)
{
    CFMutableStringRef s = Mutable(u"ab");
    EXPECT_EQ(CFStringFindAndReplace(s, CFSTR("b"), s, CFRangeMake(0, 2), 0), 1);
    EXPECT_EQ(Units(s), u"aab");
    CFStringPad(s, s, 6, 1);
    EXPECT_EQ(Units(s), u"aababa");
    CFRelease(s);
}

TEST(StringPadAndTrim, PaddingTruncatingAndTrimming)
{
    struct PadCase {
        std::u16string text;
        const char    *pad; // NULL: truncate only
        CFIndex        length;
        CFIndex        indexIntoPad;
        std::u16string result;
    } pads[] = {
        {u"ab", ".", 5, 0, u"ab..."},       {u"ab", "123", 7, 1, u"ab23123"},
        {u"abcdef", nullptr, 3, 0, u"abc"}, {u"abc", nullptr, 3, 0, u"abc"},
        {u"abc", "x", 0, 0, u""},
    };
    for (const PadCase &c : pads) {
        CFMutableStringRef s   = Mutable(c.text);
        CFStringRef        pad = c.pad == nullptr
                                     ? nullptr
                                     : CFStringCreateWithCString(nullptr, c.pad, kCFStringEncodingUTF8);
        CFStringPad(s, pad, c.length, c.indexIntoPad);
        EXPECT_EQ(Units(s), c.result);
        if (pad != nullptr) CFRelease(pad);
        CFRelease(s);
    }

    struct TrimCase {
        std::u16string text;
        std::u16string trim;
        std::u16string result;
    } trims[] = {
        {u"xxaxx", u"x", u"a"},
        {u"abab-ab", u"ab", u"-"},
        {u"xxx", u"x", u""},
        {u"aaa", u"aa", u"a"},
        {u"abc", u"", u"abc"},
        {u"  a  ", u" ", u"a"},
        {u"\u00E9a\u00E9", u"\u00E9", u"a"},
    };
    for (const TrimCase &c : trims) {
        CFMutableStringRef s    = Mutable(c.text);
        CFMutableStringRef trim = Mutable(c.trim);
        CFStringTrim(s, trim);
        EXPECT_EQ(Units(s), c.result);
        CFRelease(trim);
        CFRelease(s);
    }

    struct WhitespaceCase {
        std::u16string text;
        std::u16string result;
    } spaces[] = {
        {u" \t\r\nvalue \n", u"value"},
        {u"\u00A0\u2003a b\u3000\u2028", u"a b"},
        {u"\u0085x\u000B", u"x"},
        {u"   ", u""},
        {u"", u""},
        {u"\u200Bx", u"\u200Bx"}, // a zero-width space is not white space
    };
    for (const WhitespaceCase &c : spaces) {
        CFMutableStringRef s = Mutable(c.text);
        CFStringTrimWhitespace(s);
        EXPECT_EQ(Units(s), c.result);
        CFRelease(s);
    }
}

TEST(StringCase, MappingFollowsTheLocalesRules)
{
    enum Kind { Lower, Upper, Title };
    struct Case {
        std::u16string text;
        Kind           kind;
        const char    *locale; // NULL: no locale
        std::u16string result;
    } cases[] = {
        {u"Network Services", Lower, nullptr, u"network services"},
        {u"Network Services", Upper, nullptr, u"NETWORK SERVICES"},
        {u"stra\u00DFe", Upper, nullptr, u"STRASSE"},
        {u"\u00C9T\u00C9", Lower, nullptr, u"\u00E9t\u00E9"},
        {u"\u03A3\u039F\u03A3", Lower, nullptr, u"\u03C3\u03BF\u03C2"}, // final sigma
        {u"istanbul", Upper, nullptr, u"ISTANBUL"},
        {u"istanbul", Upper, "tr", u"\u0130STANBUL"},
        {u"ISPARTA", Lower, "tr_TR", u"\u0131sparta"},
        {u"\u0130", Lower, nullptr, u"i\u0307"},
        {u"ISPARTA", Lower, "en_US", u"isparta"},
        {u"hello wORLD", Title, nullptr, u"Hello World"},
        {u"istanbul izmir", Title, "tr", u"\u0130stanbul \u0130zmir"},
        {u"\u00E9cole", Title, nullptr, u"\u00C9cole"},
    };
    for (const Case &c : cases) {
        CFMutableStringRef s      = Mutable(c.text);
        CFLocaleRef        locale = nullptr;
        if (c.locale != nullptr) {
            CFStringRef id = CFStringCreateWithCString(nullptr, c.locale, kCFStringEncodingUTF8);
            locale         = CFLocaleCreate(nullptr, id);
            CFRelease(id);
        }
        if (c.kind == Lower) CFStringLowercase(s, locale);
        if (c.kind == Upper) CFStringUppercase(s, locale);
        if (c.kind == Title) CFStringCapitalize(s, locale);
        EXPECT_EQ(Units(s), c.result) << Utf8(s);
        if (locale != nullptr) CFRelease(locale);
        CFRelease(s);
    }
}

TEST(StringNormalize, TheFourForms)
{
    struct Case {
        std::u16string            text;
        CFStringNormalizationForm form;
        std::u16string            result;
    } cases[] = {
        {u"\u00E9", kCFStringNormalizationFormD, u"e\u0301"},
        {u"e\u0301", kCFStringNormalizationFormC, u"\u00E9"},
        {u"\u00E9", kCFStringNormalizationFormC, u"\u00E9"},
        {u"\u00E9", kCFStringNormalizationFormKD, u"e\u0301"},
        {u"\uFB01", kCFStringNormalizationFormD, u"\uFB01"}, // a ligature is a compatibility form
        {u"\uFB01", kCFStringNormalizationFormKC, u"fi"},
        {u"\u2460\u00E9", kCFStringNormalizationFormKD, u"1e\u0301"},
        {u"s\u0307\u0323", kCFStringNormalizationFormD, u"s\u0323\u0307"}, // marks reordered
        {u"s\u0307\u0323", kCFStringNormalizationFormC, u"\u1E69"},
        {u"\uAC00", kCFStringNormalizationFormD, u"\u1100\u1161"},
        {u"plain ASCII", kCFStringNormalizationFormD, u"plain ASCII"},
    };
    for (const Case &c : cases) {
        CFMutableStringRef s = Mutable(c.text);
        CFStringNormalize(s, c.form);
        EXPECT_EQ(Units(s), c.result) << Utf8(s) << " form " << c.form;
        CFRelease(s);
    }
}

TEST(StringEditDeathTest, NullAndImmutableStringsStopTheProcess)
{
    EXPECT_DEATH(CFStringTrim(nullptr, CFSTR("x")),
                 "vavivaz platform: CFStringTrim called with a NULL string");
    EXPECT_DEATH(CFStringNormalize(
                     reinterpret_cast<CFMutableStringRef>(const_cast<__CFString *>(CFSTR("abc"))),
                     kCFStringNormalizationFormD),
                 "vavivaz platform: CFStringNormalize called with an immutable string");
    CFMutableStringRef s = CFStringCreateMutable(nullptr, 0);
    EXPECT_DEATH(CFStringPad(s, nullptr, 3, 0),
                 "vavivaz platform: CFStringPad called with a NULL string");
    EXPECT_DEATH(CFStringPad(s, CFSTR("ab"), 3, 2),
                 "vavivaz platform: CFStringPad: index into the pad string out of bounds");
    EXPECT_DEATH(CFStringFindAndReplace(s, CFSTR("a"), CFSTR("b"), CFRangeMake(0, 1), 0),
                 "CFStringFindAndReplace: range \\{0, 1\\} out of bounds");
    CFRelease(s);
}

} // namespace
