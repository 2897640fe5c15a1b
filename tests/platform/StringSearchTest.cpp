// StringSearchTest.cpp: finding strings under the search options, all the
// results of a search, splitting by a separator and joining with one.
#include "TestSupport.h"

#include <string>
#include <vector>

namespace {

using vztest::Str;
using vztest::Utf8;

CFStringRef FromUnits(const std::u16string &units)
{
    return CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(units.data()),
                                        static_cast<CFIndex>(units.size()));
}

TEST(StringFind, RangesFoundUnderEachOption)
{
    struct Case {
        std::u16string       text;
        std::u16string       target;
        CFRange              range; // length -1: the whole text
        CFStringCompareFlags options;
        CFIndex              location; // kCFNotFound: no match
        CFIndex              length;
    } cases[] = {
        {u"/Sets/abc/Network", u"/", {0, -1}, 0, 0, 1},
        {u"/Sets/abc/Network", u"/", {0, -1}, kCFCompareBackwards, 9, 1},
        {u"/Sets/abc/Network", u"/", {1, 8}, 0, 5, 1},
        {u"/Sets/abc/Network", u"/", {1, 4}, 0, kCFNotFound, 0},
        {u"/Sets/abc/Network", u"sets", {0, -1}, 0, kCFNotFound, 0},
        {u"/Sets/abc/Network", u"sets", {0, -1}, kCFCompareCaseInsensitive, 1, 4},
        {u"/Sets/abc/Network", u"Sets", {0, -1}, kCFCompareAnchored, kCFNotFound, 0},
        {u"/Sets/abc/Network", u"/Sets", {0, -1}, kCFCompareAnchored, 0, 5},
        {u"/Sets/abc/Network", u"work", {0, -1}, kCFCompareAnchored | kCFCompareBackwards, 13, 4},
        {u"/Sets/abc/Network",
         u"Net",
         {0, -1},
         kCFCompareAnchored | kCFCompareBackwards,
         kCFNotFound,
         0},
        {u"aaa", u"aa", {0, -1}, 0, 0, 2},
        {u"aaa", u"aa", {0, -1}, kCFCompareBackwards, 1, 2},
        {u"abc", u"", {0, -1}, 0, kCFNotFound, 0},
        {u"ab", u"abc", {0, -1}, 0, kCFNotFound, 0},
        // Under canonical equivalence a match covers whole characters and maps
        // back to the units it came from.
        {u"caf\u00E9!", u"e\u0301", {0, -1}, kCFCompareNonliteral, 3, 1},
        {u"cafe\u0301!", u"\u00E9", {0, -1}, kCFCompareNonliteral, 3, 2},
        {u"cafe\u0301!", u"e", {0, -1}, kCFCompareNonliteral, kCFNotFound, 0},
        {u"cafe\u0301!", u"e", {0, -1}, 0, 3, 1}, // literal search sees the bare "e"
        {u"cafe\u0301!",
         u"E",
         {0, -1},
         kCFCompareDiacriticInsensitive | kCFCompareCaseInsensitive,
         3,
         2},
        {u"Stra\u00DFe", u"SS", {0, -1}, kCFCompareCaseInsensitive, 4, 1},
        {u"STRASSE", u"\u00DF", {0, -1}, kCFCompareCaseInsensitive, 4, 2},
        {u"x\U0001F600y", u"Y", {0, -1}, kCFCompareCaseInsensitive, 3, 1},
        {u"\uFF21\uFF22C",
         u"bc",
         {0, -1},
         kCFCompareWidthInsensitive | kCFCompareCaseInsensitive,
         1,
         2},
    };
    for (const Case &c : cases) {
        CFStringRef text   = FromUnits(c.text);
        CFStringRef target = FromUnits(c.target);
        CFRange     range  = c.range.length < 0 ? CFRangeMake(0, CFStringGetLength(text)) : c.range;
        CFRange     found  = CFRangeMake(-7, -7);
        Boolean     ok     = CFStringFindWithOptions(text, target, range, c.options, &found);
        EXPECT_EQ(ok != 0, c.location != kCFNotFound)
            << Utf8(text) << " / " << Utf8(target) << " options " << c.options;
        if (ok) {
            EXPECT_EQ(found.location, c.location) << Utf8(text) << " / " << Utf8(target);
            EXPECT_EQ(found.length, c.length) << Utf8(text) << " / " << Utf8(target);
        } else {
            EXPECT_EQ(found.location, -7) << "the result is left alone when nothing is found";
        }
        if (c.range.length < 0) {
            CFRange whole = CFStringFind(text, target, c.options);
            EXPECT_EQ(whole.location, c.location);
            EXPECT_EQ(whole.length, c.location == kCFNotFound ? 0 : c.length);
        }
        CFRelease(text);
        CFRelease(target);
    }
}

TEST(StringFind, AllResultsInTheOrderFound)
{
    struct Case {
        const char          *text;
        const char          *target;
        CFStringCompareFlags options;
        std::vector<CFIndex> locations; // each match is as long as the target
    } cases[] = {
        {"a-b-c", "-", 0, {1, 3}},
        {"a-b-c", "-", kCFCompareBackwards, {3, 1}},
        {"aaaa", "aa", 0, {0, 2}},
        {"xxAxx", "x", kCFCompareAnchored, {0, 1}},
        {"Aaxa", "a", kCFCompareAnchored | kCFCompareCaseInsensitive, {0, 1}},
        {"abc", "z", 0, {}},
    };
    for (const Case &c : cases) {
        Str        text(c.text), target(c.target);
        CFArrayRef results = CFStringCreateArrayWithFindResults(
            nullptr, text, target, CFRangeMake(0, CFStringGetLength(text)), c.options);
        if (c.locations.empty()) {
            EXPECT_EQ(results, nullptr) << c.text;
            continue;
        }
        ASSERT_NE(results, nullptr) << c.text;
        ASSERT_EQ(CFArrayGetCount(results), static_cast<CFIndex>(c.locations.size())) << c.text;
        for (size_t i = 0; i < c.locations.size(); ++i) {
            auto *range = static_cast<const CFRange *>(CFArrayGetValueAtIndex(results, i));
            EXPECT_EQ(range->location, c.locations[i]) << c.text << " match " << i;
            EXPECT_EQ(range->length, CFStringGetLength(target));
        }
        CFRelease(results);
    }
}

std::vector<std::string> Pieces(CFArrayRef array)
{
    std::vector<std::string> out;
    for (CFIndex i = 0; i < CFArrayGetCount(array); ++i)
        out.push_back(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, i))));
    return out;
}

TEST(StringSplit, SeparatingAndCombiningAreInverse)
{
    struct Case {
        const char              *text;
        const char              *separator;
        std::vector<std::string> pieces;
    } cases[] = {
        {"/Sets/X", "/", {"", "Sets", "X"}},
        {"Setup:/Network/Service/", "/", {"Setup:", "Network", "Service", ""}},
        {"no separator", "/", {"no separator"}},
        {"", "/", {""}},
        {"a//b", "/", {"a", "", "b"}},
        {"a::b::", "::", {"a", "b", ""}},
        {"a\xC3\xA9"
         "b\xC3\xA9"
         "c",
         "\xC3\xA9",
         {"a", "b", "c"}},
        {"abc", "", {"abc"}},
    };
    for (const Case &c : cases) {
        Str        text(c.text), separator(c.separator);
        CFArrayRef pieces = CFStringCreateArrayBySeparatingStrings(nullptr, text, separator);
        ASSERT_NE(pieces, nullptr) << c.text;
        EXPECT_EQ(Pieces(pieces), c.pieces) << c.text;
        CFStringRef joined = CFStringCreateByCombiningStrings(nullptr, pieces, separator);
        EXPECT_EQ(Utf8(joined), c.text);
        CFRelease(joined);
        CFRelease(pieces);
    }
}

TEST(StringSplit, CombiningEmptyAndSingleArrays)
{
    CFArrayRef  empty  = CFArrayCreate(nullptr, nullptr, 0, &kCFTypeArrayCallBacks);
    CFStringRef joined = CFStringCreateByCombiningStrings(nullptr, empty, CFSTR(", "));
    EXPECT_EQ(CFStringGetLength(joined), 0);
    CFRelease(joined);
    CFRelease(empty);

    const void *values[] = {CFSTR("a"), CFSTR("\xE2\x82\xAC"), CFSTR("c")};
    CFArrayRef  three    = CFArrayCreate(nullptr, values, 3, &kCFTypeArrayCallBacks);
    joined               = CFStringCreateByCombiningStrings(nullptr, three, CFSTR(", "));
    EXPECT_EQ(Utf8(joined), "a, \xE2\x82\xAC, c");
    CFRelease(joined);
    CFRelease(three);
}

// Each Create function, with the Nth allocation failing for every N until it
// succeeds, returns NULL and leaves no object behind (the live count is
// checked after the test).
TEST(StringAllocationFailure, CreateFunctionsReturnNullAndLeakNothing)
{
    SInt32      value    = 7;
    CFNumberRef number   = CFNumberCreate(nullptr, kCFNumberSInt32Type, &value);
    const void *values[] = {CFSTR("a"), CFSTR("b"), CFSTR("c")};
    CFArrayRef  array    = CFArrayCreate(nullptr, values, 3, &kCFTypeArrayCallBacks);
    struct Case {
        const char *name;
        CFTypeRef (*create)(CFTypeRef number, CFArrayRef array);
    } cases[] = {
        {"separate",
         [](CFTypeRef, CFArrayRef) -> CFTypeRef {
             return CFStringCreateArrayBySeparatingStrings(nullptr, CFSTR("/a/b/c"), CFSTR("/"));
         }},
        {"combine",
         [](CFTypeRef, CFArrayRef array) -> CFTypeRef {
             return CFStringCreateByCombiningStrings(nullptr, array, CFSTR("/"));
         }},
        {"find results",
         [](CFTypeRef, CFArrayRef) -> CFTypeRef {
             return CFStringCreateArrayWithFindResults(nullptr, CFSTR("a/b"), CFSTR("/"),
                                                       CFRangeMake(0, 3), 0);
         }},
        {"format",
         [](CFTypeRef number, CFArrayRef array) -> CFTypeRef {
             return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("%@ %@ %d"), number, array, 3);
         }},
        {"bytes",
         [](CFTypeRef, CFArrayRef) -> CFTypeRef {
             return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>("\x8E"), 1,
                                            kCFStringEncodingMacRoman, false);
         }},
        {"external representation",
         [](CFTypeRef, CFArrayRef) -> CFTypeRef {
             return CFStringCreateExternalRepresentation(nullptr, CFSTR("abc"),
                                                         kCFStringEncodingUTF16, 0);
         }},
        {"locale",
         [](CFTypeRef, CFArrayRef) -> CFTypeRef { return CFLocaleCreate(nullptr, CFSTR("tr")); }},
        {"current locale",
         [](CFTypeRef, CFArrayRef) -> CFTypeRef { return CFLocaleCopyCurrent(); }},
    };
    for (const Case &c : cases) {
        // A first run unarmed makes the constant strings the case uses.
        CFTypeRef warm = c.create(number, array);
        ASSERT_NE(warm, nullptr) << c.name;
        CFRelease(warm);
        long n = 0;
        for (; n < 100; ++n) {
            VZArmAllocationFailure(n, false);
            CFTypeRef result = c.create(number, array);
            VZClearAllocationFailure();
            if (result != nullptr) {
                CFRelease(result);
                break;
            }
        }
        EXPECT_GT(n, 0) << c.name << " succeeded although its first allocation failed";
        EXPECT_LT(n, 100) << c.name << " never succeeded";
    }
    CFRelease(array);
    CFRelease(number);
}

TEST(StringFindDeathTest, NullStringsAndBadRangesStopTheProcess)
{
    CFRange found;
    EXPECT_DEATH(CFStringFind(CFSTR("abc"), nullptr, 0),
                 "vavivaz platform: CFStringFind called with a NULL string");
    EXPECT_DEATH(CFStringFindWithOptions(CFSTR("abc"), CFSTR("a"), CFRangeMake(-1, 2), 0, &found),
                 "CFStringFindWithOptions: range \\{-1, 2\\} out of bounds");
    EXPECT_DEATH(CFStringCreateArrayBySeparatingStrings(nullptr, nullptr, CFSTR("/")),
                 "vavivaz platform: CFStringCreateArrayBySeparatingStrings called with a NULL "
                 "string");
    const void *values[] = {CFSTR("a"), kCFBooleanTrue};
    CFArrayRef  mixed    = CFArrayCreate(nullptr, values, 2, &kCFTypeArrayCallBacks);
    EXPECT_DEATH(CFStringCreateByCombiningStrings(nullptr, mixed, CFSTR(",")),
                 "CFStringCreateByCombiningStrings called with an object that is not a string");
    CFRelease(mixed);
}

} // namespace
