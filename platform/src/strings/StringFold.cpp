// StringFold.cpp: checked ranges and the folding of text under the
// comparison options, shared by comparison, searching and replacing.
//
// Folding runs segment by segment. Without canonical equivalence a segment is
// one code point; with it, a segment runs from one normalisation boundary to
// the next (a starter and the combining marks after it), which is the
// smallest piece that decomposes and reorders on its own. Each segment goes
// through, in order: width folding (fullwidth and halfwidth forms to their
// plain forms), canonical decomposition, full case folding (decomposed again,
// since folding can yield composed forms), and the removal of nonspacing
// marks. ASCII segments take a shortcut that needs no ICU call.
#include "IcuLibrary.h"
#include "Unicode.h"

#include <cstdio>
#include <unicode/utf16.h>

namespace vz {

void checkRange(CFRange range, size_t length, const char *function) noexcept
{
    if (range.location >= 0 && range.length >= 0 && static_cast<size_t>(range.location) <= length &&
        static_cast<size_t>(range.length) <= length - static_cast<size_t>(range.location))
        return;
    char message[160];
    std::snprintf(message, sizeof message, "%s: range {%ld, %ld} out of bounds (length %zu)",
                  function, range.location, range.length, length);
    fatal(message);
}

void checkPointer(const void *pointer, const char *function) noexcept
{
    if (pointer != nullptr) return;
    char message[128];
    std::snprintf(message, sizeof message, "%s called with NULL", function);
    fatal(message);
}

bool isASCIIRange(const StringUnits &units, size_t start, size_t length) noexcept
{
    if (units.narrow) {
        const uint8_t *p = units.narrowData() + start;
        for (size_t i = 0; i < length; ++i)
            if (p[i] >= 0x80) return false;
        return true;
    }
    const char16_t *p = units.wideData() + start;
    for (size_t i = 0; i < length; ++i)
        if (p[i] >= 0x80) return false;
    return true;
}

FoldOptions foldOptionsFor(CFOptionFlags compareOptions) noexcept
{
    FoldOptions options;
    options.caseInsensitive      = (compareOptions & kCFCompareCaseInsensitive) != 0;
    options.canonical            = (compareOptions & kCFCompareNonliteral) != 0;
    options.diacriticInsensitive = (compareOptions & kCFCompareDiacriticInsensitive) != 0;
    options.widthInsensitive     = (compareOptions & kCFCompareWidthInsensitive) != 0;
    return options;
}

namespace {

const UNormalizer2 *nfdNormalizer() noexcept
{
    UErrorCode          status = U_ZERO_ERROR;
    const UNormalizer2 *nfd    = icuLibrary().unorm2GetNFDInstance(&status);
    if (U_FAILURE(status)) fatal("the ICU canonical decomposition data is missing");
    return nfd;
}

const UNormalizer2 *nfkdNormalizer() noexcept
{
    UErrorCode          status = U_ZERO_ERROR;
    const UNormalizer2 *nfkd   = icuLibrary().unorm2GetNFKDInstance(&status);
    if (U_FAILURE(status)) fatal("the ICU compatibility decomposition data is missing");
    return nfkd;
}

void appendCodePoint(std::u16string &text, UChar32 c)
{
    if (U16_LENGTH(c) == 1) {
        text.push_back(static_cast<char16_t>(c));
    } else {
        text.push_back(static_cast<char16_t>(U16_LEAD(c)));
        text.push_back(static_cast<char16_t>(U16_TRAIL(c)));
    }
}

// Fullwidth and halfwidth forms become the characters they stand for.
void foldWidth(std::u16string &text)
{
    const IcuLibrary   &icu  = icuLibrary();
    const UNormalizer2 *nfkd = nullptr;
    std::u16string      result;
    bool                changed = false;
    const auto          length  = static_cast<int32_t>(text.size());
    for (int32_t i = 0; i < length;) {
        UChar32 c = 0;
        U16_NEXT(text.data(), i, length, c);
        int32_t type = icu.getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
        if (type == U_DT_WIDE || type == U_DT_NARROW) {
            if (nfkd == nullptr) nfkd = nfkdNormalizer();
            UChar      plain[16];
            UErrorCode status = U_ZERO_ERROR;
            int32_t    n      = icu.unorm2GetRawDecomposition(nfkd, c, plain, 16, &status);
            if (U_SUCCESS(status) && n >= 0) {
                result.append(reinterpret_cast<const char16_t *>(plain), static_cast<size_t>(n));
                changed = true;
                continue;
            }
        }
        appendCodePoint(result, c);
    }
    if (changed) text = std::move(result);
}

void foldCase(std::u16string &text)
{
    const auto    *source = reinterpret_cast<const UChar *>(text.data());
    const auto     length = static_cast<int32_t>(text.size());
    std::u16string result;
    if (!writeUTF16(result, text.size() + 8, [&](UChar *dest, int32_t capacity, UErrorCode *error) {
            return icuLibrary().strFoldCase(dest, capacity, source, length, U_FOLD_CASE_DEFAULT,
                                            error);
        }))
        throw std::bad_alloc();
    text = std::move(result);
}

void removeNonspacingMarks(std::u16string &text)
{
    const IcuLibrary &icu = icuLibrary();
    for (size_t i = 0; i < text.size();) {
        UChar32 c    = 0;
        int32_t next = static_cast<int32_t>(i);
        U16_NEXT(text.data(), next, static_cast<int32_t>(text.size()), c);
        size_t width = static_cast<size_t>(next) - i;
        if (icu.charType(c) == U_NON_SPACING_MARK)
            text.erase(i, width);
        else
            i += width;
    }
}

} // namespace

void foldText(const StringUnits &units, size_t start, size_t length, const FoldOptions &options,
              bool withMap, FoldedText &out)
{
    out.units.clear();
    out.segmentStart.clear();
    out.segmentEnd.clear();
    out.units.reserve(length);
    if (withMap) {
        out.segmentStart.reserve(length);
        out.segmentEnd.reserve(length);
    }
    const bool          decomposing = options.canonical || options.diacriticInsensitive;
    const UNormalizer2 *nfd         = decomposing ? nfdNormalizer() : nullptr;
    const size_t        end         = start + length;
    std::u16string      segment;

    size_t i = start;
    while (i < end) {
        size_t   width      = 0;
        char32_t first      = codePointAt(units, i, end, &width);
        size_t   segmentEnd = i + width;
        // Every code point below U+0300 starts a segment of its own, so the
        // normaliser is asked only about text that may hold combining marks.
        while (decomposing && segmentEnd < end && units.at(segmentEnd) >= 0x300) {
            size_t   nextWidth = 0;
            char32_t next      = codePointAt(units, segmentEnd, end, &nextWidth);
            if (icuLibrary().unorm2HasBoundaryBefore(nfd, static_cast<UChar32>(next))) break;
            segmentEnd += nextWidth;
        }
        const size_t before = out.units.size();
        if (first < 0x80 && segmentEnd == i + 1) {
            char16_t unit = static_cast<char16_t>(first);
            out.units.push_back(options.caseInsensitive ? asciiLower(unit) : unit);
        } else {
            segment.clear();
            for (size_t k = i; k < segmentEnd; ++k)
                segment.push_back(units.at(k));
            if (options.widthInsensitive) foldWidth(segment);
            if (decomposing) normalizeInPlace(nfd, segment);
            if (options.caseInsensitive) {
                foldCase(segment);
                if (decomposing) normalizeInPlace(nfd, segment);
            }
            if (options.diacriticInsensitive) removeNonspacingMarks(segment);
            out.units.append(segment);
        }
        if (withMap) {
            size_t added = out.units.size() - before;
            out.segmentStart.insert(out.segmentStart.end(), added,
                                    static_cast<uint32_t>(i - start));
            out.segmentEnd.insert(out.segmentEnd.end(), added,
                                  static_cast<uint32_t>(segmentEnd - start));
        }
        i = segmentEnd;
    }
}

} // namespace vz
