// StringCompare.cpp: the ordering of strings under the comparison options.
//
// Without kCFCompareLocalized strings compare by UTF-16 unit after folding
// (case, canonical equivalence, diacritics, width; see StringFold.cpp), with
// runs of decimal digits compared by value under kCFCompareNumerically. Two
// ASCII ranges, the common case for the keys of a store, compare in place with
// no allocation and no ICU call: ASCII folds to itself under every option but
// case, and its case folding is the ASCII one.
//
// kCFCompareLocalized collates with ICU for the given locale, or the current
// one: case-insensitive compares at secondary strength, diacritic-insensitive
// at primary (with the case level unless case is ignored too), numeric turns
// on numeric collation. Collators are made once per locale and option set and
// shared between threads; ICU allows concurrent comparisons on one collator
// because comparing does not change it.
//
// Within a sort (SortScope, Unicode.h), the sorted strings are compared by
// their ICU sort keys, made once each: a sort of n strings then collates n
// strings rather than some n log2 n pairs. A key is made at a string's first
// comparison, so a comparator that looks at only a few values pays for few.
//
// kCFCompareForcedOrdering breaks a tie between strings that differ by their
// literal order, so that a sort by such a comparison is stable across runs.
#include "IcuLibrary.h"
#include "Unicode.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

namespace {

// Calls body with a pointer to the range's units, narrow or wide.
template <typename Body> auto withUnits(const vz::StringUnits &units, size_t start, Body &&body)
{
    if (units.narrow) return body(units.narrowData() + start);
    return body(units.wideData() + start);
}

int sign(int value) noexcept
{
    return (value > 0) - (value < 0);
}

// The value of a decimal digit, or -1. Only BMP digits count: a digit outside
// it sits in a surrogate pair and compares as text.
inline int digitValue(char16_t unit) noexcept
{
    if (unit >= '0' && unit <= '9') return unit - '0';
    if (unit < 0x80) return -1;
    return vz::icuLibrary().charDigitValue(unit);
}

// Compares two unit sequences in order, each unit passed through fold first;
// with numeric, digit runs compare by value (leading zeros aside).
template <typename A, typename B, typename Fold>
int compareSequences(const A *a, size_t na, const B *b, size_t nb, bool numeric, Fold fold)
{
    size_t i = 0, j = 0;
    while (i < na && j < nb) {
        char16_t ca = fold(static_cast<char16_t>(a[i]));
        char16_t cb = fold(static_cast<char16_t>(b[j]));
        if (numeric && digitValue(ca) >= 0 && digitValue(cb) >= 0) {
            size_t runA = i, runB = j;
            while (runA < na && digitValue(static_cast<char16_t>(a[runA])) == 0)
                ++runA;
            while (runB < nb && digitValue(static_cast<char16_t>(b[runB])) == 0)
                ++runB;
            size_t endA = runA, endB = runB;
            while (endA < na && digitValue(static_cast<char16_t>(a[endA])) >= 0)
                ++endA;
            while (endB < nb && digitValue(static_cast<char16_t>(b[endB])) >= 0)
                ++endB;
            if (endA - runA != endB - runB) return endA - runA < endB - runB ? -1 : 1;
            for (; runA < endA; ++runA, ++runB) {
                int da = digitValue(static_cast<char16_t>(a[runA]));
                int db = digitValue(static_cast<char16_t>(b[runB]));
                if (da != db) return da < db ? -1 : 1;
            }
            i = endA;
            j = endB;
            continue;
        }
        if (ca != cb) return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < na) return 1;
    if (j < nb) return -1;
    return 0;
}

int compareRanges(const vz::StringUnits &a, size_t startA, size_t lengthA, const vz::StringUnits &b,
                  bool numeric, bool asciiCase)
{
    if (!numeric && !asciiCase && a.narrow && b.narrow) {
        int byBytes =
            std::memcmp(a.narrowData() + startA, b.narrowData(), std::min(lengthA, b.length));
        if (byBytes != 0) return sign(byBytes);
        return lengthA < b.length ? -1 : (lengthA > b.length ? 1 : 0);
    }
    return withUnits(a, startA, [&](auto *pa) {
        return withUnits(b, 0, [&](auto *pb) {
            if (asciiCase)
                return compareSequences(pa, lengthA, pb, b.length, numeric, vz::asciiLower);
            return compareSequences(pa, lengthA, pb, b.length, numeric,
                                    [](char16_t unit) { return unit; });
        });
    });
}

// ---- Collators -------------------------------------------------------------

class CollatorCache {
  public:
    static CollatorCache &instance()
    {
        static CollatorCache *cache = new CollatorCache; // kept to the end of the process
        return *cache;
    }

    // The shared collator for a locale and attribute set; nullptr when ICU has
    // none (no data) or memory runs out. The collator stays valid until this
    // thread's next call: the thread keeps the last one it was given, so that
    // a sort, which asks for the same one at every comparison, finds it
    // without a lock, a key or a reference count.
    const UCollator *collator(const std::string &locale, CFOptionFlags options)
    {
        thread_local std::string                      lastLocale;
        thread_local CFOptionFlags                    lastOptions = 0;
        thread_local std::shared_ptr<const UCollator> last;
        if (last && options == lastOptions && locale == lastLocale) return last.get();

        std::string key = locale;
        key.push_back('\n');
        key += std::to_string(options);
        std::shared_ptr<const UCollator> found;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto                        it = collators_.find(key);
            if (it != collators_.end()) found = it->second;
        }
        if (!found) {
            found = make(locale, options);
            if (!found) return nullptr;
            std::lock_guard<std::mutex> lock(mutex_);
            // A process that asks for many locales keeps only the recent ones;
            // a collator still in use lives on in its holders.
            if (collators_.size() >= kMaxCollators) collators_.clear();
            collators_.emplace(key, found);
        }
        lastLocale  = locale;
        lastOptions = options;
        last        = std::move(found);
        return last.get();
    }

  private:
    static constexpr size_t kMaxCollators = 32;

    static std::shared_ptr<const UCollator> make(const std::string &locale, CFOptionFlags options)
    {
        const vz::IcuLibrary &icu    = vz::icuLibrary();
        UErrorCode            status = U_ZERO_ERROR;
        UCollator            *made   = icu.ucolOpen(locale.c_str(), &status);
        if (made == nullptr) return nullptr;
        std::shared_ptr<UCollator> collator(made, icu.ucolClose);
        if (U_FAILURE(status)) return nullptr;
        bool caseless   = (options & kCFCompareCaseInsensitive) != 0;
        bool diacritics = (options & kCFCompareDiacriticInsensitive) != 0;
        if (diacritics) {
            icu.ucolSetAttribute(made, UCOL_STRENGTH, UCOL_PRIMARY, &status);
            if (!caseless) icu.ucolSetAttribute(made, UCOL_CASE_LEVEL, UCOL_ON, &status);
        } else if (caseless) {
            icu.ucolSetAttribute(made, UCOL_STRENGTH, UCOL_SECONDARY, &status);
        }
        if (options & kCFCompareNumerically)
            icu.ucolSetAttribute(made, UCOL_NUMERIC_COLLATION, UCOL_ON, &status);
        icu.ucolSetAttribute(made, UCOL_NORMALIZATION_MODE, UCOL_ON, &status);
        if (U_FAILURE(status)) return nullptr;
        return collator;
    }

    std::mutex                                              mutex_;
    std::map<std::string, std::shared_ptr<const UCollator>> collators_;
};

// A range's units as UTF-16: borrowed when the storage is wide, else widened
// on the stack (or on the heap, for a long range), so that comparing two
// short one-byte strings allocates nothing.
class WideUnits {
  public:
    WideUnits(const vz::StringUnits &units, size_t start, size_t length)
    {
        if (!units.narrow) {
            data_ = units.wideData() + start;
            return;
        }
        const uint8_t *narrow = units.narrowData() + start;
        char16_t      *wide   = stack_;
        if (length > kStackUnits) {
            heap_.resize(length);
            wide = heap_.data();
        }
        for (size_t i = 0; i < length; i++)
            wide[i] = narrow[i];
        data_ = wide;
    }
    WideUnits(const WideUnits &)            = delete;
    WideUnits &operator=(const WideUnits &) = delete;

    const char16_t *data() const noexcept { return data_; }

  private:
    static constexpr size_t kStackUnits = 128;

    const char16_t *data_ = nullptr;
    char16_t        stack_[kStackUnits];
    std::u16string  heap_;
};

} // namespace

// ---- Sort keys of a sort ---------------------------------------------------

namespace vz {

// The values of a sort as it began, and the sort keys made so far for the
// collator of one locale and option set. Invariants: spans (when ready) has
// one entry per value, length 0 until its key is made; every key made lies
// in keys; slots is an open-addressing table of value index + 1 (0 free),
// at most half full.
struct SortMemo {
    struct Span {
        uint32_t offset = 0;
        uint32_t length = 0;
    };

    std::vector<const void *> values;
    std::vector<uint32_t>     slots;
    std::vector<Span>         spans;
    std::string               keys;
    std::string               locale;
    CFOptionFlags             options = 0;
    bool                      ready   = false;
    bool                      failed  = false; // out of memory: collate as usual
};

} // namespace vz

namespace {

thread_local vz::SortMemo *tSortMemo = nullptr;

// Sorts shorter than this gain too little to pay for the table.
constexpr size_t kMinimumMemoSort = 16;

size_t slotOf(const void *value, size_t slotCount) noexcept
{
    auto bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(value));
    return static_cast<size_t>((bits >> 4) * 0x9E3779B97F4A7C15ull >> 20) & (slotCount - 1);
}

// Builds the table of the values. May throw std::bad_alloc.
void prepare(vz::SortMemo &memo)
{
    size_t slotCount = 64;
    while (slotCount < memo.values.size() * 2)
        slotCount *= 2;
    memo.slots.assign(slotCount, 0);
    memo.spans.assign(memo.values.size(), {});
    for (size_t index = 0; index < memo.values.size(); index++) {
        size_t slot = slotOf(memo.values[index], slotCount);
        while (memo.slots[slot] != 0)
            slot = (slot + 1) & (slotCount - 1);
        memo.slots[slot] = static_cast<uint32_t>(index + 1);
    }
    memo.ready = true;
}

// The index of a value of the sort, or nothing.
std::optional<size_t> indexOf(const vz::SortMemo &memo, const void *value) noexcept
{
    size_t mask = memo.slots.size() - 1;
    for (size_t slot = slotOf(value, memo.slots.size()); memo.slots[slot] != 0;
         slot        = (slot + 1) & mask) {
        size_t index = memo.slots[slot] - 1;
        if (memo.values[index] == value) return index;
    }
    return std::nullopt;
}

// The sort key of the value at index, made if need be; false when it cannot
// be made. May throw std::bad_alloc.
bool keyOf(vz::SortMemo &memo, size_t index, const vz::StringUnits &units,
           const UCollator &collator)
{
    if (memo.spans[index].length != 0) return true;
    if (units.length > INT32_MAX) return false;
    WideUnits    wide(units, 0, units.length);
    const size_t offset = memo.keys.size();
    size_t       room   = units.length * 3 + 16;
    for (;;) {
        memo.keys.resize(offset + room);
        int32_t length = vz::icuLibrary().ucolGetSortKey(
            &collator, wide.data(), static_cast<int32_t>(units.length),
            reinterpret_cast<uint8_t *>(memo.keys.data() + offset), static_cast<int32_t>(room));
        if (length <= 0 || offset + static_cast<size_t>(length) > UINT32_MAX) {
            memo.keys.resize(offset);
            return false;
        }
        if (static_cast<size_t>(length) <= room) {
            memo.keys.resize(offset + static_cast<size_t>(length));
            memo.spans[index] = {static_cast<uint32_t>(offset), static_cast<uint32_t>(length)};
            return true;
        }
        room = static_cast<size_t>(length);
    }
}

// The order of two whole immutable strings by their sort keys, when both are
// values of the sort under way on this thread; nothing otherwise.
std::optional<int> compareByKeys(CFStringRef string1, const vz::StringUnits &a, CFStringRef string2,
                                 const vz::StringUnits &b, const std::string &locale,
                                 CFOptionFlags options, const UCollator &collator) noexcept
{
    vz::SortMemo *memo = tSortMemo;
    if (memo == nullptr || memo->failed) return std::nullopt;
    if (vz::asString(string1)->isMutable() || vz::asString(string2)->isMutable())
        return std::nullopt;
    try {
        if (!memo->ready) prepare(*memo);
        if (memo->options != options || memo->locale != locale) {
            // Keys of another collator: start over for this one.
            std::fill(memo->spans.begin(), memo->spans.end(), vz::SortMemo::Span{});
            memo->keys.clear();
            memo->locale  = locale;
            memo->options = options;
        }
        std::optional<size_t> index1 = indexOf(*memo, string1);
        std::optional<size_t> index2 = indexOf(*memo, string2);
        if (!index1 || !index2 || !keyOf(*memo, *index1, a, collator) ||
            !keyOf(*memo, *index2, b, collator))
            return std::nullopt;
        const vz::SortMemo::Span span1 = memo->spans[*index1], span2 = memo->spans[*index2];
        std::string_view         key1(memo->keys.data() + span1.offset, span1.length);
        std::string_view         key2(memo->keys.data() + span2.offset, span2.length);
        return sign(key1.compare(key2));
    } catch (const std::bad_alloc &) {
        memo->failed = true;
        return std::nullopt;
    }
}

int collate(CFStringRef string1, const vz::StringUnits &a, size_t startA, size_t lengthA,
            CFStringRef string2, const vz::StringUnits &b, CFOptionFlags options,
            CFLocaleRef locale, const char *function)
{
    constexpr CFOptionFlags kCollatorOptions =
        kCFCompareCaseInsensitive | kCFCompareDiacriticInsensitive | kCFCompareNumerically;
    std::string      name = vz::icuLocaleName(locale, function);
    const UCollator *collator =
        CollatorCache::instance().collator(name, options & kCollatorOptions);
    if (!collator) collator = CollatorCache::instance().collator("", options & kCollatorOptions);
    if (!collator) vz::fatal("no ICU collator can be made");
    if (startA == 0 && lengthA == a.length) {
        std::optional<int> byKeys =
            compareByKeys(string1, a, string2, b, name, options & kCollatorOptions, *collator);
        if (byKeys) return *byKeys;
    }
    WideUnits        unitsA(a, startA, lengthA);
    WideUnits        unitsB(b, 0, b.length);
    UCollationResult result =
        vz::icuLibrary().ucolStrcoll(collator, unitsA.data(), static_cast<int32_t>(lengthA),
                                     unitsB.data(), static_cast<int32_t>(b.length));
    return result == UCOL_LESS ? -1 : (result == UCOL_GREATER ? 1 : 0);
}

CFComparisonResult compareStrings(CFStringRef string1, CFStringRef string2, CFRange range,
                                  CFOptionFlags options, CFLocaleRef locale,
                                  const char *function) noexcept
{
    vz::checkString(string1, function);
    vz::checkString(string2, function);
    vz::StringUnits a = vz::unitsOf(string1);
    vz::StringUnits b = vz::unitsOf(string2);
    vz::checkRange(range, a.length, function);
    const size_t start   = static_cast<size_t>(range.location);
    const size_t length  = static_cast<size_t>(range.length);
    const bool   numeric = (options & kCFCompareNumerically) != 0;

    int result = 0;
    if (options & kCFCompareLocalized) {
        vz::guardedVoid([&] {
            result = collate(string1, a, start, length, string2, b, options, locale, function);
        });
    } else if (vz::FoldOptions fold = vz::foldOptionsFor(options);
               !fold.any() || (vz::isASCIIRange(string1, a, start, length) &&
                               vz::isASCIIRange(string2, b, 0, b.length))) {
        result = compareRanges(a, start, length, b, numeric, fold.caseInsensitive);
    } else {
        vz::guardedVoid([&] {
            vz::FoldedText foldedA, foldedB;
            vz::foldText(a, start, length, fold, false, foldedA);
            vz::foldText(b, 0, b.length, fold, false, foldedB);
            result =
                compareSequences(foldedA.units.data(), foldedA.units.size(), foldedB.units.data(),
                                 foldedB.units.size(), numeric, [](char16_t unit) { return unit; });
        });
    }
    if (result == 0 && (options & kCFCompareForcedOrdering))
        result = compareRanges(a, start, length, b, false, false);
    return static_cast<CFComparisonResult>(result);
}

} // namespace

CFComparisonResult CFStringCompareWithOptionsAndLocale(CFStringRef          theString1,
                                                       CFStringRef          theString2,
                                                       CFRange              rangeToCompare,
                                                       CFStringCompareFlags compareOptions,
                                                       CFLocaleRef          locale) noexcept
{
    return compareStrings(theString1, theString2, rangeToCompare, compareOptions, locale,
                          "CFStringCompareWithOptionsAndLocale");
}

CFComparisonResult CFStringCompareWithOptions(CFStringRef theString1, CFStringRef theString2,
                                              CFRange              rangeToCompare,
                                              CFStringCompareFlags compareOptions) noexcept
{
    return compareStrings(theString1, theString2, rangeToCompare, compareOptions, nullptr,
                          "CFStringCompareWithOptions");
}

CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) noexcept
{
    vz::checkString(theString1, "CFStringCompare");
    return compareStrings(theString1, theString2,
                          CFRangeMake(0, static_cast<CFIndex>(vz::unitsOf(theString1).length)),
                          compareOptions, nullptr, "CFStringCompare");
}

namespace vz {

SortScope::SortScope(const void *const *values, size_t count) noexcept
{
    // The table counts values in 32 bits.
    if (count < kMinimumMemoSort || count >= UINT32_MAX) return;
    try {
        auto memo = std::make_unique<SortMemo>();
        memo->values.assign(values, values + count);
        memo_ = memo.release();
    } catch (const std::bad_alloc &) {
        return;
    }
    // A sort within a comparator has values of its own; the outer sort's
    // come back when it ends.
    previous_ = tSortMemo;
    tSortMemo = memo_;
}

SortScope::~SortScope()
{
    if (memo_ == nullptr) return;
    tSortMemo = previous_;
    delete memo_;
}

} // namespace vz
