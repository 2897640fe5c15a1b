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
#include "Unicode.h"

#include <cstdio>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

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

const icu::Normalizer2 *nfdNormalizer() noexcept
{
    UErrorCode              status = U_ZERO_ERROR;
    const icu::Normalizer2 *nfd    = icu::Normalizer2::getNFDInstance(status);
    if (U_FAILURE(status)) fatal("the ICU canonical decomposition data is missing");
    return nfd;
}

const icu::Normalizer2 *nfkdNormalizer() noexcept
{
    UErrorCode              status = U_ZERO_ERROR;
    const icu::Normalizer2 *nfkd   = icu::Normalizer2::getNFKDInstance(status);
    if (U_FAILURE(status)) fatal("the ICU compatibility decomposition data is missing");
    return nfkd;
}

// Fullwidth and halfwidth forms become the characters they stand for.
void foldWidth(icu::UnicodeString &text)
{
    const icu::Normalizer2 *nfkd = nullptr;
    icu::UnicodeString      result;
    bool                    changed = false;
    for (int32_t i = 0; i < text.length();) {
        UChar32            c    = text.char32At(i);
        int32_t            type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
        icu::UnicodeString plain;
        if (type == U_DT_WIDE || type == U_DT_NARROW) {
            if (nfkd == nullptr) nfkd = nfkdNormalizer();
            if (nfkd->getRawDecomposition(c, plain)) {
                result.append(plain);
                changed = true;
                i += U16_LENGTH(c);
                continue;
            }
        }
        result.append(c);
        i += U16_LENGTH(c);
    }
    if (changed) text = result;
}

void decompose(const icu::Normalizer2 *nfd, icu::UnicodeString &text)
{
    UErrorCode status = U_ZERO_ERROR;
    if (nfd->isNormalized(text, status) && U_SUCCESS(status)) return;
    status                    = U_ZERO_ERROR;
    icu::UnicodeString result = nfd->normalize(text, status);
    if (U_FAILURE(status)) throw std::bad_alloc();
    text = result;
}

void removeNonspacingMarks(icu::UnicodeString &text)
{
    for (int32_t i = 0; i < text.length();) {
        UChar32 c = text.char32At(i);
        if (u_charType(c) == U_NON_SPACING_MARK)
            text.remove(i, U16_LENGTH(c));
        else
            i += U16_LENGTH(c);
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
    const bool              decomposing = options.canonical || options.diacriticInsensitive;
    const icu::Normalizer2 *nfd         = decomposing ? nfdNormalizer() : nullptr;
    const size_t            end         = start + length;
    icu::UnicodeString      segment;

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
            if (nfd->hasBoundaryBefore(static_cast<UChar32>(next))) break;
            segmentEnd += nextWidth;
        }
        const size_t before = out.units.size();
        if (first < 0x80 && segmentEnd == i + 1) {
            char16_t unit = static_cast<char16_t>(first);
            out.units.push_back(options.caseInsensitive ? asciiLower(unit) : unit);
        } else {
            segment.remove();
            for (size_t k = i; k < segmentEnd; ++k)
                segment.append(static_cast<UChar>(units.at(k)));
            if (options.widthInsensitive) foldWidth(segment);
            if (decomposing) decompose(nfd, segment);
            if (options.caseInsensitive) {
                segment.foldCase(U_FOLD_CASE_DEFAULT);
                if (decomposing) decompose(nfd, segment);
            }
            if (options.diacriticInsensitive) removeNonspacingMarks(segment);
            if (segment.isBogus()) throw std::bad_alloc();
            out.units.append(reinterpret_cast<const char16_t *>(segment.getBuffer()),
                             static_cast<size_t>(segment.length()));
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
