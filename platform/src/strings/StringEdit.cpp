// StringEdit.cpp: the editing of mutable strings beyond insert and delete:
// find and replace, padding, trimming, case mapping and normalisation.
//
// Each function computes the new content first and replaces the buffer at the
// end, so an argument that is the edited string itself (replacing a string's
// occurrences by itself, padding with itself) reads the old content. Case
// mapping and normalisation go through ICU, with in-place shortcuts for ASCII
// text where the result cannot differ: ASCII is normalised under every form,
// and its case maps the ASCII way in every locale but Turkish and Azeri, where
// "i" and "I" map to the dotted and dotless forms.
#include "IcuLibrary.h"
#include "Unicode.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct Match {
    size_t location;
    size_t length;
};

bool collectMatch(void *context, size_t location, size_t length)
{
    static_cast<std::vector<Match> *>(context)->push_back({location, length});
    return true;
}

bool isWhitespaceOrNewline(char16_t unit) noexcept
{
    if (unit < 0x80) return unit == ' ' || (unit >= '\t' && unit <= '\r');
    return vz::icuLibrary().isUWhiteSpace(unit);
}

bool isASCIIText(const std::u16string &text) noexcept
{
    return std::all_of(text.begin(), text.end(), [](char16_t unit) { return unit < 0x80; });
}

// Languages whose case rules change ASCII letters.
bool mapsASCIIOwnWay(const std::string &locale) noexcept
{
    std::string language = locale.substr(0, locale.find('_'));
    return language == "tr" || language == "az";
}

enum class CaseKind { Lower, Upper, Title };

void mapCase(CFMutableStringRef theString, CFLocaleRef locale, CaseKind kind,
             const char *function) noexcept
{
    vz::checkMutableString(theString, function);
    vz::guardedVoid([&] {
        // Without a locale the mapping is the locale-independent one.
        std::string name = locale == nullptr ? std::string() : vz::icuLocaleName(locale, function);
        std::u16string &buffer = vz::mutableBuffer(theString);
        if (kind != CaseKind::Title && isASCIIText(buffer) && !mapsASCIIOwnWay(name)) {
            for (char16_t &unit : buffer)
                unit = kind == CaseKind::Lower ? vz::asciiLower(unit) : vz::asciiUpper(unit);
            return;
        }
        if (buffer.size() > INT32_MAX) throw std::bad_alloc();
        const vz::IcuLibrary &icu    = vz::icuLibrary();
        const auto           *source = reinterpret_cast<const UChar *>(buffer.data());
        const auto            length = static_cast<int32_t>(buffer.size());
        const char           *where  = name.c_str();
        std::u16string        result;
        // Title case finds words with the locale's word boundaries.
        bool mapped = vz::writeUTF16(
            result, buffer.size() + 16, [&](UChar *dest, int32_t capacity, UErrorCode *error) {
                switch (kind) {
                case CaseKind::Lower:
                    return icu.strToLower(dest, capacity, source, length, where, error);
                case CaseKind::Upper:
                    return icu.strToUpper(dest, capacity, source, length, where, error);
                case CaseKind::Title:
                    break;
                }
                return icu.strToTitle(dest, capacity, source, length, nullptr, where, error);
            });
        if (!mapped) throw std::bad_alloc();
        buffer = std::move(result);
    });
}

} // namespace

using namespace vz; // the C entry points below are thin skins over the helpers above

// Replaces every match in the range, found as a repeated search with the
// options finds them, and returns how many it replaced.
CFIndex CFStringFindAndReplace(CFMutableStringRef theString, CFStringRef stringToFind,
                               CFStringRef replacementString, CFRange rangeToSearch,
                               CFStringCompareFlags compareOptions) noexcept
{
    checkMutableString(theString, "CFStringFindAndReplace");
    checkString(stringToFind, "CFStringFindAndReplace");
    checkString(replacementString, "CFStringFindAndReplace");
    checkRange(rangeToSearch, unitsOf(theString).length, "CFStringFindAndReplace");
    CFIndex replaced = 0;
    guardedVoid([&] {
        std::vector<Match> matches;
        findMatches(theString, stringToFind, static_cast<size_t>(rangeToSearch.location),
                    static_cast<size_t>(rangeToSearch.length), compareOptions, collectMatch,
                    &matches);
        if (matches.empty()) return;
        std::sort(matches.begin(), matches.end(),
                  [](const Match &a, const Match &b) { return a.location < b.location; });
        std::u16string        replacement = toU16String(replacementString);
        const std::u16string &old         = mutableBuffer(theString);
        std::u16string        result;
        size_t                copied = 0;
        for (const Match &match : matches) {
            result.append(old, copied, match.location - copied);
            result.append(replacement);
            copied = match.location + match.length;
        }
        result.append(old, copied, std::u16string::npos);
        setMutableUnits(theString, std::move(result));
        replaced = static_cast<CFIndex>(matches.size());
    });
    return replaced;
}

// Truncates the string to length units, or extends it to length with units of
// padString taken in turn from indexIntoPad on. A NULL padString is allowed
// when nothing is to be added.
void CFStringPad(CFMutableStringRef theString, CFStringRef padString, CFIndex length,
                 CFIndex indexIntoPad) noexcept
{
    checkMutableString(theString, "CFStringPad");
    if (length < 0) fatal("CFStringPad: negative length");
    std::u16string &buffer = mutableBuffer(theString);
    size_t          target = static_cast<size_t>(length);
    if (target <= buffer.size()) {
        buffer.resize(target);
        return;
    }
    checkString(padString, "CFStringPad");
    StringUnits pad = unitsOf(padString);
    if (indexIntoPad < 0 || static_cast<size_t>(indexIntoPad) >= pad.length)
        fatal("CFStringPad: index into the pad string out of bounds");
    guardedVoid([&] {
        std::u16string padUnits = toU16String(padString);
        size_t         next     = static_cast<size_t>(indexIntoPad);
        buffer.reserve(target);
        while (buffer.size() < target) {
            buffer.push_back(padUnits[next]);
            next = next + 1 == padUnits.size() ? 0 : next + 1;
        }
    });
}

// Removes trimString repeatedly from both ends: "xxaxx" trimmed by "x" is "a".
void CFStringTrim(CFMutableStringRef theString, CFStringRef trimString) noexcept
{
    checkMutableString(theString, "CFStringTrim");
    checkString(trimString, "CFStringTrim");
    guardedVoid([&] {
        std::u16string  trim   = toU16String(trimString);
        std::u16string &buffer = mutableBuffer(theString);
        if (trim.empty()) return;
        size_t n = trim.size(), begin = 0, end = buffer.size();
        while (end - begin >= n && buffer.compare(begin, n, trim) == 0)
            begin += n;
        while (end - begin >= n && buffer.compare(end - n, n, trim) == 0)
            end -= n;
        buffer.erase(end);
        buffer.erase(0, begin);
    });
}

// Removes white space and line breaks (Unicode's White_Space characters) from
// both ends.
void CFStringTrimWhitespace(CFMutableStringRef theString) noexcept
{
    checkMutableString(theString, "CFStringTrimWhitespace");
    std::u16string &buffer = mutableBuffer(theString);
    size_t          begin = 0, end = buffer.size();
    while (begin < end && isWhitespaceOrNewline(buffer[begin]))
        ++begin;
    while (end > begin && isWhitespaceOrNewline(buffer[end - 1]))
        --end;
    buffer.erase(end);
    buffer.erase(0, begin);
}

void CFStringLowercase(CFMutableStringRef theString, CFLocaleRef locale) noexcept
{
    mapCase(theString, locale, CaseKind::Lower, "CFStringLowercase");
}

void CFStringUppercase(CFMutableStringRef theString, CFLocaleRef locale) noexcept
{
    mapCase(theString, locale, CaseKind::Upper, "CFStringUppercase");
}

// The first letter of each word in title case, the others in lower case;
// words are found by ICU's word boundaries for the locale.
void CFStringCapitalize(CFMutableStringRef theString, CFLocaleRef locale) noexcept
{
    mapCase(theString, locale, CaseKind::Title, "CFStringCapitalize");
}

void CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm) noexcept
{
    checkMutableString(theString, "CFStringNormalize");
    const IcuLibrary   &icu        = icuLibrary();
    UErrorCode          status     = U_ZERO_ERROR;
    const UNormalizer2 *normalizer = nullptr;
    switch (theForm) {
    case kCFStringNormalizationFormD:
        normalizer = icu.unorm2GetNFDInstance(&status);
        break;
    case kCFStringNormalizationFormKD:
        normalizer = icu.unorm2GetNFKDInstance(&status);
        break;
    case kCFStringNormalizationFormC:
        normalizer = icu.unorm2GetNFCInstance(&status);
        break;
    case kCFStringNormalizationFormKC:
        normalizer = icu.unorm2GetNFKCInstance(&status);
        break;
    default:
        fatal("CFStringNormalize called with an unknown normalization form");
    }
    if (U_FAILURE(status) || normalizer == nullptr) fatal("the ICU normalization data is missing");
    std::u16string &buffer = mutableBuffer(theString);
    if (isASCIIText(buffer)) return;
    guardedVoid([&] { normalizeInPlace(normalizer, buffer); });
}
