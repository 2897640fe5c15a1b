// UTF.h: the platform's one implementation of the UTF-8 and UTF-16 forms,
// over ICU's U8_ and U16_ macros: encoding a code point in either form,
// stepping through UTF-16 units (a lone surrogate stands for itself) and
// through UTF-8 bytes (an ill-formed sequence, by Unicode's rules: overlong
// forms, encoded surrogates, values above U+10FFFF, truncated sequences, is
// reported, never decoded). Every conversion between the two forms, strict
// or lossy, is built from these.
#ifndef VZ_PLATFORM_UTF_H
#define VZ_PLATFORM_UTF_H

#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <cstddef>
#include <cstdint>

namespace vz {

inline bool isHighSurrogate(char16_t unit) noexcept
{
    return U16_IS_LEAD(unit);
}
inline bool isLowSurrogate(char16_t unit) noexcept
{
    return U16_IS_TRAIL(unit);
}
inline bool isSurrogate(char32_t c) noexcept
{
    return U_IS_SURROGATE(c);
}
inline char32_t combineSurrogates(char16_t high, char16_t low) noexcept
{
    return static_cast<char32_t>(U16_GET_SUPPLEMENTARY(high, low));
}

// Writes the UTF-8 form of code point c (not a surrogate, at most U+10FFFF)
// to out and returns its length, 1 to 4 bytes.
inline size_t encodeUTF8(char32_t c, char *out) noexcept
{
    size_t length = 0;
    U8_APPEND_UNSAFE(reinterpret_cast<uint8_t *>(out), length, c);
    return length;
}

// Appends the UTF-16 form of code point c (at most U+10FFFF) to units, any
// container of char16_t with push_back. May throw std::bad_alloc.
template <typename Units> void appendUTF16(Units &units, char32_t c)
{
    if (U_IS_BMP(c)) {
        units.push_back(static_cast<char16_t>(c));
        return;
    }
    units.push_back(static_cast<char16_t>(U16_LEAD(c)));
    units.push_back(static_cast<char16_t>(U16_TRAIL(c)));
}

// The code point of the UTF-16 units at units[i], moving i past it; a lone
// surrogate is returned as itself.
inline char32_t nextUTF16(const char16_t *units, size_t &i, size_t length) noexcept
{
    UChar32 c = 0;
    U16_NEXT(units, i, length, c);
    return static_cast<char32_t>(c);
}

// The code point of the UTF-8 sequence at bytes[i], moving i past it; -1 for
// an ill-formed sequence, with i moved past its maximal ill-formed part.
inline int32_t nextUTF8(const uint8_t *bytes, size_t &i, size_t length) noexcept
{
    UChar32 c = 0;
    U8_NEXT(bytes, i, length, c);
    return c;
}

// Appends the UTF-16 form of UTF-8 bytes to units (any container of char16_t
// with push_back); false at the first ill-formed sequence, units then holding
// what came before it. May throw what units' push_back throws.
template <typename Units> bool appendUTF16FromUTF8(Units &units, const uint8_t *bytes, size_t count)
{
    for (size_t i = 0; i < count;) {
        int32_t c = nextUTF8(bytes, i, count);
        if (c < 0) return false;
        appendUTF16(units, static_cast<char32_t>(c));
    }
    return true;
}

} // namespace vz

#endif
