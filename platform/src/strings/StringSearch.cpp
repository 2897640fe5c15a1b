// StringSearch.cpp: finding strings within strings, splitting by a
// separator and joining with one.
//
// A literal search (and a case-insensitive one over ASCII text) runs over the
// units in place. Any other search folds the searched range once, keeping
// where each folded unit came from (StringFold.cpp), folds the target, and
// accepts a match only when it covers whole segments, so that a found range
// never cuts a character from its combining marks and maps back to a whole
// range of the original string. Repeated searches (all results, replace all)
// reuse the one folded copy.
#include "Unicode.h"

#include "Containers.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

template <typename T, typename P, typename Eq>
inline bool matchesAt(const T *text, const P *pattern, size_t count, Eq equal)
{
    for (size_t k = 0; k < count; ++k)
        if (!equal(static_cast<char16_t>(text[k]), static_cast<char16_t>(pattern[k]))) return false;
    return true;
}

// Runs the repeated search over text [from, to) for pattern; whole(p, q)
// says whether [p, q) may be a match; report(p) takes each match and returns
// false to stop.
template <typename T, typename P, typename Eq, typename Whole, typename Report>
void searchAll(const T *text, size_t from, size_t to, const P *pattern, size_t count,
               CFOptionFlags options, Eq equal, Whole whole, Report report)
{
    const bool backwards = (options & kCFCompareBackwards) != 0;
    const bool anchored  = (options & kCFCompareAnchored) != 0;
    while (count > 0 && to - from >= count) {
        bool   found = false;
        size_t at    = 0;
        if (!backwards) {
            for (size_t p = from; p + count <= to; ++p) {
                if (matchesAt(text + p, pattern, count, equal) && whole(p, p + count)) {
                    found = true;
                    at    = p;
                    break;
                }
                if (anchored) break;
            }
        } else {
            for (size_t p = to - count + 1; p-- > from;) {
                if (matchesAt(text + p, pattern, count, equal) && whole(p, p + count)) {
                    found = true;
                    at    = p;
                    break;
                }
                if (anchored) break;
            }
        }
        if (!found || !report(at)) return;
        if (backwards)
            to = at;
        else
            from = at + count;
    }
}

bool sameUnit(char16_t a, char16_t b)
{
    return a == b;
}
bool sameASCIIFolded(char16_t a, char16_t b)
{
    return vz::asciiLower(a) == vz::asciiLower(b);
}

template <typename Body> void withUnits(const vz::StringUnits &units, Body &&body)
{
    if (units.narrow)
        body(units.narrowData());
    else
        body(units.wideData());
}

struct RangeList {
    std::vector<CFRange> ranges;
    size_t               limit = SIZE_MAX;
};

bool collectRange(void *context, size_t location, size_t length)
{
    auto *list = static_cast<RangeList *>(context);
    list->ranges.push_back(
        CFRangeMake(static_cast<CFIndex>(location), static_cast<CFIndex>(length)));
    return list->ranges.size() < list->limit;
}

// The callbacks of an array of ranges: each value is a copied CFRange.
const void *retainRange(CFAllocatorRef, const void *value)
{
    auto *copy = static_cast<CFRange *>(std::malloc(sizeof(CFRange)));
    if (copy == nullptr) vz::fatal("out of memory");
    *copy = *static_cast<const CFRange *>(value);
    return copy;
}
void releaseRange(CFAllocatorRef, const void *value)
{
    std::free(const_cast<void *>(value));
}
Boolean equalRanges(const void *a, const void *b)
{
    auto *ra = static_cast<const CFRange *>(a);
    auto *rb = static_cast<const CFRange *>(b);
    return ra->location == rb->location && ra->length == rb->length;
}
CFStringRef describeRange(const void *value)
{
    auto *range = static_cast<const CFRange *>(value);
    return CFStringCreateWithFormat(nullptr, nullptr, CFSTR("{%ld, %ld}"), range->location,
                                    range->length);
}
const CFArrayCallBacks kRangeArrayCallBacks = {0, retainRange, releaseRange, describeRange,
                                               equalRanges};

} // namespace

namespace vz {

void findMatches(CFStringRef string, CFStringRef target, size_t start, size_t length,
                 CFOptionFlags options, MatchCallback onMatch, void *context)
{
    StringUnits text    = unitsOf(string);
    StringUnits pattern = unitsOf(target);
    FoldOptions fold    = foldOptionsFor(options);
    if (pattern.length == 0) return;

    auto always = [](size_t, size_t) { return true; };
    if (!fold.any() || (isASCIIRange(string, text, start, length) &&
                        isASCIIRange(target, pattern, 0, pattern.length))) {
        auto equal = fold.caseInsensitive ? sameASCIIFolded : sameUnit;
        withUnits(text, [&](auto *t) {
            withUnits(pattern, [&](auto *p) {
                searchAll(t, start, start + length, p, pattern.length, options, equal, always,
                          [&](size_t at) { return onMatch(context, at, pattern.length); });
            });
        });
        return;
    }

    FoldedText foldedText, foldedPattern;
    foldText(text, start, length, fold, true, foldedText);
    foldText(pattern, 0, pattern.length, fold, false, foldedPattern);
    const std::vector<uint32_t> &first = foldedText.segmentStart;
    const std::vector<uint32_t> &last  = foldedText.segmentEnd;
    const size_t                 size  = foldedText.units.size();
    auto                         whole = [&](size_t p, size_t q) {
        return (p == 0 || first[p] != first[p - 1]) && (q == size || first[q] != first[q - 1]);
    };
    searchAll(foldedText.units.data(), 0, size, foldedPattern.units.data(),
              foldedPattern.units.size(), options, sameUnit, whole, [&](size_t at) {
                  size_t end = at + foldedPattern.units.size();
                  return onMatch(context, start + first[at], last[end - 1] - first[at]);
              });
}

} // namespace vz

using namespace vz; // the C entry points below are thin skins over the helpers above

Boolean CFStringFindWithOptions(CFStringRef theString, CFStringRef stringToFind,
                                CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                CFRange *result) noexcept
{
    checkString(theString, "CFStringFindWithOptions");
    checkString(stringToFind, "CFStringFindWithOptions");
    checkRange(rangeToSearch, unitsOf(theString).length, "CFStringFindWithOptions");
    RangeList found;
    found.limit = 1;
    guardedVoid([&] {
        findMatches(theString, stringToFind, static_cast<size_t>(rangeToSearch.location),
                    static_cast<size_t>(rangeToSearch.length), searchOptions, collectRange, &found);
    });
    if (found.ranges.empty()) return false;
    if (result != nullptr) *result = found.ranges[0];
    return true;
}

CFRange CFStringFind(CFStringRef theString, CFStringRef stringToFind,
                     CFStringCompareFlags compareOptions) noexcept
{
    checkString(theString, "CFStringFind");
    checkString(stringToFind, "CFStringFind");
    CFRange result = CFRangeMake(kCFNotFound, 0);
    if (!CFStringFindWithOptions(theString, stringToFind,
                                 CFRangeMake(0, static_cast<CFIndex>(unitsOf(theString).length)),
                                 compareOptions, &result))
        return CFRangeMake(kCFNotFound, 0);
    return result;
}

// An array of pointers to CFRange, one per match in the order found; NULL
// when there is none.
CFArrayRef CFStringCreateArrayWithFindResults(CFAllocatorRef alloc, CFStringRef theString,
                                              CFStringRef stringToFind, CFRange rangeToSearch,
                                              CFStringCompareFlags compareOptions) noexcept
{
    checkString(theString, "CFStringCreateArrayWithFindResults");
    checkString(stringToFind, "CFStringCreateArrayWithFindResults");
    checkRange(rangeToSearch, unitsOf(theString).length, "CFStringCreateArrayWithFindResults");
    return guarded<CFArrayRef>(nullptr, [&]() -> CFArrayRef {
        RangeList found;
        findMatches(theString, stringToFind, static_cast<size_t>(rangeToSearch.location),
                    static_cast<size_t>(rangeToSearch.length), compareOptions, collectRange,
                    &found);
        if (found.ranges.empty()) return nullptr;
        std::vector<const void *> values;
        values.reserve(found.ranges.size());
        for (const CFRange &range : found.ranges)
            values.push_back(&range);
        return CFArrayCreate(alloc, values.data(), static_cast<CFIndex>(values.size()),
                             &kRangeArrayCallBacks);
    });
}

// "/Sets/X" split by "/" gives "", "Sets" and "X". A string without the
// separator gives a one-element array holding it, an empty string one empty
// element.
CFArrayRef CFStringCreateArrayBySeparatingStrings(CFAllocatorRef alloc, CFStringRef theString,
                                                  CFStringRef separatorString) noexcept
{
    checkString(theString, "CFStringCreateArrayBySeparatingStrings");
    checkString(separatorString, "CFStringCreateArrayBySeparatingStrings");
    return guarded<CFArrayRef>(nullptr, [&]() -> CFArrayRef {
        const size_t length = unitsOf(theString).length;
        RangeList    found;
        findMatches(theString, separatorString, 0, length, 0, collectRange, &found);
        if (found.ranges.empty()) {
            const void *only = CFStringCreateCopy(alloc, theString);
            if (only == nullptr) return nullptr;
            return createArrayAdopting(&only, 1, false);
        }
        std::vector<const void *> pieces;
        pieces.reserve(found.ranges.size() + 1);
        size_t pieceStart = 0;
        bool   failed     = false;
        auto   addPiece   = [&](size_t end) {
            CFStringRef piece =
                CFStringCreateWithSubstring(alloc, theString,
                                                CFRangeMake(static_cast<CFIndex>(pieceStart),
                                                            static_cast<CFIndex>(end - pieceStart)));
            if (piece == nullptr)
                failed = true;
            else
                pieces.push_back(piece);
        };
        for (const CFRange &separator : found.ranges) {
            if (!failed) addPiece(static_cast<size_t>(separator.location));
            pieceStart = static_cast<size_t>(separator.location + separator.length);
        }
        if (!failed) addPiece(length);
        if (failed) {
            for (const void *piece : pieces)
                CFRelease(piece);
            return nullptr;
        }
        return createArrayAdopting(pieces.data(), pieces.size(), false);
    });
}

CFStringRef CFStringCreateByCombiningStrings(CFAllocatorRef alloc, CFArrayRef theArray,
                                             CFStringRef separatorString) noexcept
{
    checkPointer(theArray, "CFStringCreateByCombiningStrings");
    checkString(separatorString, "CFStringCreateByCombiningStrings");
    CFIndex count = CFArrayGetCount(theArray);
    for (CFIndex i = 0; i < count; ++i)
        checkString(CFArrayGetValueAtIndex(theArray, i), "CFStringCreateByCombiningStrings");
    if (count == 1)
        return CFStringCreateCopy(alloc,
                                  static_cast<CFStringRef>(CFArrayGetValueAtIndex(theArray, 0)));
    return guarded<CFStringRef>(nullptr, [&] {
        StringUnits separator = unitsOf(separatorString);
        size_t      total     = separator.length * (count > 0 ? static_cast<size_t>(count - 1) : 0);
        for (CFIndex i = 0; i < count; ++i)
            total += unitsOf(static_cast<CFStringRef>(CFArrayGetValueAtIndex(theArray, i))).length;
        std::u16string joined(total, u'\0');
        size_t         at = 0;
        for (CFIndex i = 0; i < count; ++i) {
            if (i > 0) {
                copyUnits(separatorString, 0, separator.length, joined.data() + at);
                at += separator.length;
            }
            auto   element = static_cast<CFStringRef>(CFArrayGetValueAtIndex(theArray, i));
            size_t n       = unitsOf(element).length;
            copyUnits(element, 0, n, joined.data() + at);
            at += n;
        }
        return createStringFromUTF16(joined.data(), joined.size());
    });
}
