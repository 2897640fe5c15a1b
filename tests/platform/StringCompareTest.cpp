// StringCompareTest.cpp: the order of strings under each set of comparison
// options, over ASCII and non-ASCII text, ranges, localised collation and the
// forced ordering of ties.
#include "TestSupport.h"

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

namespace {

class U16 {
  public:
    explicit U16(const std::u16string &text)
        : ref_(CFStringCreateWithCharacters(nullptr, reinterpret_cast<const UniChar *>(text.data()),
                                            static_cast<CFIndex>(text.size())))
    {
    }
    ~U16() { CFRelease(ref_); }
    U16(const U16 &)            = delete;
    U16 &operator=(const U16 &) = delete;
         operator CFStringRef() const { return ref_; }

  private:
    CFStringRef ref_;
};

struct OrderCase {
    std::u16string       a;
    std::u16string       b;
    CFStringCompareFlags options;
    CFComparisonResult   expected;
};

const char *Name(CFComparisonResult r)
{
    return r == kCFCompareLessThan ? "<" : r == kCFCompareEqualTo ? "=" : ">";
}

void ExpectOrders(const OrderCase *cases, size_t count, CFLocaleRef locale = nullptr)
{
    for (size_t i = 0; i < count; ++i) {
        const OrderCase   &c = cases[i];
        U16                a(c.a), b(c.b);
        CFComparisonResult forward = CFStringCompareWithOptionsAndLocale(
            a, b, CFRangeMake(0, CFStringGetLength(a)), c.options, locale);
        CFComparisonResult backward = CFStringCompareWithOptionsAndLocale(
            b, a, CFRangeMake(0, CFStringGetLength(b)), c.options, locale);
        EXPECT_STREQ(Name(forward), Name(c.expected))
            << "case " << i << " options 0x" << std::hex << c.options;
        EXPECT_EQ(static_cast<int>(backward), -static_cast<int>(c.expected))
            << "case " << i << " reversed";
    }
}

TEST(StringOrder, LiteralIsUTF16UnitOrder)
{
    const OrderCase cases[] = {
        {u"abc", u"abc", 0, kCFCompareEqualTo},
        {u"abc", u"abd", 0, kCFCompareLessThan},
        {u"ab", u"abc", 0, kCFCompareLessThan},
        {u"", u"a", 0, kCFCompareLessThan},
        {u"B", u"a", 0, kCFCompareLessThan}, // upper case sorts first
        {u"a10", u"a2", 0, kCFCompareLessThan},
        {u"\u00E9", u"e\u0301", 0, kCFCompareGreaterThan},    // not canonical
        {u"\u00FF", u"\u0100", 0, kCFCompareLessThan},        // narrow against wide storage
        {u"\uFFFF", u"\U00010000", 0, kCFCompareGreaterThan}, // units, not code points
    };
    ExpectOrders(cases, std::size(cases));
}

TEST(StringOrder, CaseInsensitiveFoldsFully)
{
    constexpr CFStringCompareFlags ci      = kCFCompareCaseInsensitive;
    const OrderCase                cases[] = {
                       {u"Sets", u"sets", ci, kCFCompareEqualTo},
                       {u"ABC", u"abd", ci, kCFCompareLessThan},
                       {u"B", u"a", ci, kCFCompareGreaterThan},
                       {u"_", u"a", ci, kCFCompareLessThan}, // '_' is below the lower-case letters
                       {u"\u00C9T\u00C9", u"\u00E9t\u00E9", ci, kCFCompareEqualTo},
                       {u"Stra\u00DFe", u"STRASSE", ci, kCFCompareEqualTo}, // sharp s folds to "ss"
                       {u"\u212A", u"k", ci, kCFCompareEqualTo},            // Kelvin sign
                       {u"\u03A3\u0391", u"\u03C3\u03B1", ci, kCFCompareEqualTo},
                       {u"\u00E9", u"E\u0301", ci, kCFCompareGreaterThan}, // still literal in form
    };
    ExpectOrders(cases, std::size(cases));
}

TEST(StringOrder, NumericComparesDigitRunsByValue)
{
    constexpr CFStringCompareFlags num     = kCFCompareNumerically;
    const OrderCase                cases[] = {
                       {u"a2", u"a10", num, kCFCompareLessThan},
                       {u"a10", u"a10", num, kCFCompareEqualTo},
                       {u"a010", u"a10", num, kCFCompareEqualTo},
                       {u"Modem 9", u"Modem 10", num, kCFCompareLessThan},
                       {u"x1y2", u"x1y10", num, kCFCompareLessThan},
                       {u"99", u"100", num, kCFCompareLessThan},
                       {u"1a", u"10", num, kCFCompareLessThan},
                       {u"a", u"1", num, kCFCompareGreaterThan},
                       {u"12345678901234567890", u"12345678901234567891", num, kCFCompareLessThan},
                       {u"\u0662", u"\u0661\u0660", num, kCFCompareLessThan}, // Arabic-Indic 2 < 10
                       {u"A2", u"a10", num | kCFCompareCaseInsensitive, kCFCompareLessThan},
                       {u"\uFF12", u"10", num | kCFCompareWidthInsensitive, kCFCompareLessThan},
    };
    ExpectOrders(cases, std::size(cases));
}

TEST(StringOrder, NonliteralDiacriticAndWidthFolding)
{
    const OrderCase cases[] = {
        {u"\u00E9", u"e\u0301", kCFCompareNonliteral, kCFCompareEqualTo},
        {u"\u1E69", u"s\u0323\u0307", kCFCompareNonliteral, kCFCompareEqualTo},
        {u"s\u0307\u0323", u"s\u0323\u0307", kCFCompareNonliteral, kCFCompareEqualTo},
        {u"\u00C9", u"e\u0301", kCFCompareNonliteral | kCFCompareCaseInsensitive,
         kCFCompareEqualTo},
        {u"r\u00E9sum\u00E9", u"resume", kCFCompareDiacriticInsensitive, kCFCompareEqualTo},
        {u"R\u00C9SUM\u00C9", u"resume", kCFCompareDiacriticInsensitive | kCFCompareCaseInsensitive,
         kCFCompareEqualTo},
        {u"\u00F8", u"o", kCFCompareDiacriticInsensitive,
         kCFCompareGreaterThan}, // no decomposition
        {u"\uFF21\uFF22", u"AB", kCFCompareWidthInsensitive, kCFCompareEqualTo},
        {u"\uFF76", u"\u30AB", kCFCompareWidthInsensitive, kCFCompareEqualTo},
        {u"\uFF21", u"AB", kCFCompareWidthInsensitive, kCFCompareLessThan},
        {u"\uFF21", u"A", 0, kCFCompareGreaterThan},
    };
    ExpectOrders(cases, std::size(cases));
}

TEST(StringOrder, LocalizedCollatesByLanguage)
{
    const OrderCase cases[] = {
        // Literal order puts every upper-case letter first; collation does not.
        {u"avocado", u"Banana", kCFCompareLocalized, kCFCompareLessThan},
        {u"avocado", u"Banana", 0, kCFCompareGreaterThan},
        {u"\u00E9clair", u"ecrire", kCFCompareLocalized, kCFCompareLessThan},
        {u"\u00E9clair", u"ecrire", 0, kCFCompareGreaterThan},
        {u"a", u"A", kCFCompareLocalized, kCFCompareLessThan},
        {u"a", u"A", kCFCompareLocalized | kCFCompareCaseInsensitive, kCFCompareEqualTo},
        {u"Modem 9", u"modem 10",
         kCFCompareLocalized | kCFCompareCaseInsensitive | kCFCompareNumerically,
         kCFCompareLessThan},
        {u"Modem 9", u"modem 10", kCFCompareLocalized | kCFCompareCaseInsensitive,
         kCFCompareGreaterThan},
        {u"cote", u"c\u00F4te", kCFCompareLocalized | kCFCompareDiacriticInsensitive,
         kCFCompareEqualTo},
        {u"\u00E9", u"e\u0301", kCFCompareLocalized, kCFCompareEqualTo},
    };
    ExpectOrders(cases, std::size(cases));

    // Swedish sorts "ö" after "z"; German with "o".
    CFLocaleRef     swedish        = CFLocaleCreate(nullptr, CFSTR("sv_SE"));
    CFLocaleRef     german         = CFLocaleCreate(nullptr, CFSTR("de_DE"));
    const OrderCase swedishCases[] = {
        {u"\u00F6l", u"zebra", kCFCompareLocalized, kCFCompareGreaterThan}};
    const OrderCase germanCases[] = {
        {u"\u00F6l", u"zebra", kCFCompareLocalized, kCFCompareLessThan}};
    ExpectOrders(swedishCases, 1, swedish);
    ExpectOrders(germanCases, 1, german);
    CFRelease(swedish);
    CFRelease(german);
}

TEST(StringOrder, LongStringsCollateToTheirLastUnit)
{
    // One-byte strings are widened for the collator: past a short buffer
    // too, and from the start of the range.
    const std::u16string run(300, u'a');
    const OrderCase      cases[] = {
             {run + u"1", run + u"2", kCFCompareLocalized, kCFCompareLessThan},
             {run + u"10", run + u"9", kCFCompareLocalized | kCFCompareNumerically,
              kCFCompareGreaterThan},
             {run + u"\u00E9", run + u"f", kCFCompareLocalized, kCFCompareLessThan},
             {run + u"\u00E9", run + u"e\u0301", kCFCompareLocalized, kCFCompareEqualTo},
             {run + u"B", run + u"b", kCFCompareLocalized | kCFCompareCaseInsensitive,
              kCFCompareEqualTo},
    };
    ExpectOrders(cases, std::size(cases));
    U16 prefixed(u"xyz" + run + u"b");
    U16 plain(run + u"b");
    EXPECT_EQ(CFStringCompareWithOptionsAndLocale(prefixed, plain, CFRangeMake(3, 301),
                                                  kCFCompareLocalized, nullptr),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompareWithOptionsAndLocale(prefixed, plain, CFRangeMake(2, 301),
                                                  kCFCompareLocalized, nullptr),
              kCFCompareGreaterThan);
}

TEST(StringOrder, ForcedOrderingBreaksTiesByLiteralOrder)
{
    constexpr CFStringCompareFlags forced  = kCFCompareForcedOrdering;
    const OrderCase                cases[] = {
                       {u"aaa", u"AAA", kCFCompareCaseInsensitive | forced, kCFCompareGreaterThan},
                       {u"aaa", u"aaa", kCFCompareCaseInsensitive | forced, kCFCompareEqualTo},
                       {u"a01", u"a1", kCFCompareNumerically | forced, kCFCompareLessThan},
                       {u"a", u"A", kCFCompareLocalized | kCFCompareCaseInsensitive | forced,
                        kCFCompareGreaterThan},
    };
    ExpectOrders(cases, std::size(cases));
}

TEST(StringOrder, ARangeOfTheFirstStringComparesWithAllOfTheSecond)
{
    U16 text(u"xx\u00C9t\u00E9yy");
    EXPECT_EQ(CFStringCompareWithOptions(CFSTR("__Sets__"), CFSTR("Sets"), CFRangeMake(2, 4), 0),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompareWithOptions(CFSTR("__Sets__"), CFSTR("sets"), CFRangeMake(2, 4),
                                         kCFCompareCaseInsensitive),
              kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompareWithOptions(CFSTR("__Sets__"), CFSTR("Sets"), CFRangeMake(2, 3), 0),
              kCFCompareLessThan);
    EXPECT_EQ(
        CFStringCompareWithOptions(text, CFSTR("ETE"), CFRangeMake(2, 3),
                                   kCFCompareCaseInsensitive | kCFCompareDiacriticInsensitive),
        kCFCompareEqualTo);
    EXPECT_EQ(CFStringCompare(CFSTR("b"), CFSTR("a"), 0), kCFCompareGreaterThan);
}

TEST(StringOrder, MutableAndImmutableStringsCompareByContent)
{
    CFMutableStringRef m = CFStringCreateMutableCopy(nullptr, 0, CFSTR("Modem 10"));
    EXPECT_EQ(CFStringCompare(m, CFSTR("Modem 10"), 0), kCFCompareEqualTo);
    EXPECT_EQ(
        CFStringCompare(m, CFSTR("modem 9"), kCFCompareCaseInsensitive | kCFCompareNumerically),
        kCFCompareGreaterThan);
    CFRelease(m);
}

// Collators are shared between threads; comparisons running at once in
// several locales must each get their own locale's answer.
TEST(StringOrder, LocalizedComparisonsRunConcurrently)
{
    CFLocaleRef locales[] = {CFLocaleCreate(nullptr, CFSTR("sv_SE")),
                             CFLocaleCreate(nullptr, CFSTR("de_DE"))};
    CFStringRef umlaut    = CFStringCreateWithCString(nullptr, "\xC3\xB6l", kCFStringEncodingUTF8);
    std::vector<std::thread> threads;
    std::vector<int>         wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 300; ++i) {
                int                is = (t + i) % 2;
                CFComparisonResult r  = CFStringCompareWithOptionsAndLocale(
                     umlaut, CFSTR("zebra"), CFRangeMake(0, 2),
                     kCFCompareLocalized | (i % 3 == 0 ? kCFCompareCaseInsensitive : 0),
                     locales[is]);
                if (r != (is == 0 ? kCFCompareGreaterThan : kCFCompareLessThan)) ++wrong[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    CFRelease(umlaut);
    for (CFLocaleRef locale : locales)
        CFRelease(locale);
}

struct SortRow {
    const char          *what;
    CFStringCompareFlags options;
    const char          *locale; // nullptr for the current one
    bool                 copies; // the comparator compares copies it makes
};

struct SortContext {
    CFStringCompareFlags options;
    CFLocaleRef          locale;
    bool                 copies;
};

CFComparisonResult CompareForSort(const void *x, const void *y, void *context)
{
    const auto *sort = static_cast<const SortContext *>(context);
    auto        a    = static_cast<CFStringRef>(x);
    auto        b    = static_cast<CFStringRef>(y);
    if (!sort->copies)
        return CFStringCompareWithOptionsAndLocale(a, b, CFRangeMake(0, CFStringGetLength(a)),
                                                   sort->options, sort->locale);
    // Copies live for one comparison, so a later copy may reuse the address
    // of an earlier one with other text.
    CFStringRef copyA =
        CFStringCreateWithSubstring(nullptr, a, CFRangeMake(1, CFStringGetLength(a) - 1));
    CFStringRef copyB =
        CFStringCreateWithSubstring(nullptr, b, CFRangeMake(1, CFStringGetLength(b) - 1));
    CFComparisonResult result = CFStringCompareWithOptionsAndLocale(
        copyA, copyB, CFRangeMake(0, CFStringGetLength(copyA)), sort->options, sort->locale);
    CFRelease(copyA);
    CFRelease(copyB);
    return result;
}

TEST(StringOrder, ASortOrdersAsItsComparisonsOneByOne)
{
    // An array sort compares its strings by sort keys; the order must be the
    // one the same comparisons give outside an array sort, ties (stable) and
    // strings the comparator makes itself included.
    const std::u16string stems[] = {u"Script ",  u"script ",     u"\u00C9tude ", u"e\u0301tude ",
                                    u"Etude ",   u"\u03A9mega ", u"Modem 0",     u"Modem ",
                                    u"\u00C4r ", u"Zebra ",      u"z",           u""};
    std::vector<CFStringRef> strings;
    for (int n = 0; n < 150; n++) {
        std::u16string text = stems[n % std::size(stems)];
        for (char digit : std::to_string(n % 37))
            text += static_cast<char16_t>(digit);
        strings.push_back(CFStringCreateWithCharacters(
            nullptr, reinterpret_cast<const UniChar *>(text.data()), CFIndex(text.size())));
    }
    CFMutableStringRef changeable = CFStringCreateMutableCopy(nullptr, 0, strings[7]);
    strings.push_back(changeable);
    strings.push_back(strings[3]); // the same string twice

    const SortRow rows[] = {
        {"caseless numeric",
         kCFCompareLocalized | kCFCompareCaseInsensitive | kCFCompareNumerically, nullptr, false},
        {"forced",
         kCFCompareLocalized | kCFCompareCaseInsensitive | kCFCompareNumerically |
             kCFCompareForcedOrdering,
         nullptr, false},
        {"plain", kCFCompareLocalized, nullptr, false},
        {"diacritics", kCFCompareLocalized | kCFCompareDiacriticInsensitive, nullptr, false},
        {"Swedish", kCFCompareLocalized | kCFCompareCaseInsensitive, "sv_SE", false},
        {"German", kCFCompareLocalized | kCFCompareCaseInsensitive, "de_DE", false},
        {"copies", kCFCompareLocalized | kCFCompareNumerically, nullptr, true},
    };
    for (const SortRow &row : rows) {
        SCOPED_TRACE(row.what);
        CFLocaleRef locale =
            row.locale == nullptr ? nullptr : CFLocaleCreate(nullptr, vztest::Str(row.locale));
        SortContext       context = {row.options, locale, row.copies};
        CFMutableArrayRef array   = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
        for (CFStringRef string : strings)
            CFArrayAppendValue(array, string);
        CFArraySortValues(array, CFRangeMake(0, CFArrayGetCount(array)), CompareForSort, &context);

        std::vector<CFStringRef> expected = strings;
        std::stable_sort(expected.begin(), expected.end(), [&](CFStringRef a, CFStringRef b) {
            return CompareForSort(a, b, &context) == kCFCompareLessThan;
        });
        for (size_t i = 0; i < expected.size(); i++)
            EXPECT_EQ(CFArrayGetValueAtIndex(array, CFIndex(i)), expected[i]) << i;
        CFRelease(array);
        if (locale != nullptr) CFRelease(locale);
    }
    strings.pop_back();
    for (CFStringRef string : strings)
        CFRelease(string);
}

TEST(StringOrderDeathTest, NullStringsAndBadRangesStopTheProcess)
{
    EXPECT_DEATH(CFStringCompare(nullptr, CFSTR("a"), 0),
                 "vavivaz platform: CFStringCompare called with a NULL string");
    EXPECT_DEATH(CFStringCompare(CFSTR("a"), nullptr, 0),
                 "vavivaz platform: CFStringCompare called with a NULL string");
    EXPECT_DEATH(CFStringCompareWithOptions(CFSTR("abc"), CFSTR("a"), CFRangeMake(2, 2), 0),
                 "CFStringCompareWithOptions: range \\{2, 2\\} out of bounds");
}

} // namespace
