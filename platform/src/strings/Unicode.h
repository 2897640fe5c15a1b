// Unicode.h: what the string functions share beyond the storage layer:
// checked ranges, code points over UTF-16 units, ASCII tests, and the folding
// of text under the comparison options (case, canonical equivalence,
// diacritics, width) that both comparison and searching use.
//
// Folded text keeps, for every folded unit, the range of original units it
// came from. Text is folded one segment at a time (a code point, or with
// canonical equivalence a starter and the marks that follow it), so a match in
// folded text that starts at a segment's first folded unit and ends at a
// segment's last maps back to a whole range of the original string.
#ifndef VZ_PLATFORM_UNICODE_H
#define VZ_PLATFORM_UNICODE_H

#include "StringStorage.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vz {

// Stops the process when range does not lie within a string of length units.
void checkRange(CFRange range, size_t length, const char *function) noexcept;
// Stops the process when a pointer argument that must not be NULL is.
void checkPointer(const void *pointer, const char *function) noexcept;

// The code point at units[i] (a lone surrogate stands for itself) and its
// width in units.
inline char32_t codePointAt(const StringUnits &units, size_t i, size_t end, size_t *width) noexcept
{
    if (units.narrow) {
        *width = 1;
        return units.narrowData()[i];
    }
    size_t   next = i;
    char32_t c    = nextUTF16(units.wideData(), next, end);
    *width        = next - i;
    return c;
}

// True when every unit of the range is below 0x80; immediate for an immutable
// string marked ASCII.
bool        isASCIIRange(const StringUnits &units, size_t start, size_t length) noexcept;
inline bool isASCIIRange(CFStringRef s, const StringUnits &units, size_t start,
                         size_t length) noexcept
{
    return (!s->isMutable() && s->isASCII()) || isASCIIRange(units, start, length);
}

inline char16_t asciiLower(char16_t unit) noexcept
{
    return (unit >= 'A' && unit <= 'Z') ? static_cast<char16_t>(unit + 32) : unit;
}
inline char16_t asciiUpper(char16_t unit) noexcept
{
    return (unit >= 'a' && unit <= 'z') ? static_cast<char16_t>(unit - 32) : unit;
}

// The folding that a set of comparison options asks for.
struct FoldOptions {
    bool caseInsensitive      = false;
    bool canonical            = false; // compare canonical decompositions
    bool diacriticInsensitive = false;
    bool widthInsensitive     = false;

    // Plain ASCII text folds to itself under every option but case.
    bool any() const noexcept
    {
        return caseInsensitive || canonical || diacriticInsensitive || widthInsensitive;
    }
};
FoldOptions foldOptionsFor(CFOptionFlags compareOptions) noexcept;

struct FoldedText {
    std::u16string units;
    // With a map: for each folded unit, the original range (offsets from the
    // start of the folded range) of the segment it came from.
    std::vector<uint32_t> segmentStart;
    std::vector<uint32_t> segmentEnd;
};

// Folds units [start, start + length) into out, replacing what out held.
// Throws std::bad_alloc when memory runs out.
void foldText(const StringUnits &units, size_t start, size_t length, const FoldOptions &options,
              bool withMap, FoldedText &out);

// Reports each match of target in units [start, start + length) of string,
// as a repeated search under the options finds them: forward, each search
// starting where the last match ended; with kCFCompareBackwards from the end,
// each search ending where the last match began; with kCFCompareAnchored a
// match must touch the start (or with backwards the end) of what is left.
// onMatch returns false to stop. An empty target matches nothing. Throws
// std::bad_alloc when memory runs out.
using MatchCallback = bool (*)(void *context, size_t location, size_t length);
void findMatches(CFStringRef string, CFStringRef target, size_t start, size_t length,
                 CFOptionFlags options, MatchCallback onMatch, void *context);

// The locale name ICU should use for a locale object, or for the current
// locale when locale is NULL ("" is the root locale). Stops the process when
// locale is not a locale object.
std::string icuLocaleName(CFLocaleRef locale, const char *function);

// While a sort of count values runs on this thread, a localised comparison
// of two of those values (immutable strings, compared whole) compares their
// ICU sort keys, each made once for the sort, instead of collating the two
// strings again at each of their log2(count) or so comparisons. Same
// results: a sort key orders as the collator does. The values must stay in
// the sorted range, unchanged, until the scope ends; any other string a
// comparator compares (one it made itself, say) is collated as usual. Short
// sorts and a scope that runs out of memory compare as usual too.
struct SortMemo;
class SortScope {
  public:
    SortScope(const void *const *values, size_t count) noexcept;
    ~SortScope();
    SortScope(const SortScope &)            = delete;
    SortScope &operator=(const SortScope &) = delete;

  private:
    SortMemo *memo_     = nullptr; // this sort's, when it has one
    SortMemo *previous_ = nullptr; // the enclosing sort's
};

} // namespace vz

#endif
