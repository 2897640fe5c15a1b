// IcuLibrary.h: ICU's functions, loaded with ICU's libraries at their first
// use.
//
// Strings need ICU only beyond ASCII or for the locale's rules (localized
// comparison, normalization, case mapping, legacy encodings, the locale's
// name), and most runs of the commands and the probe never get there; linked
// in, ICU's libraries cost every process start about half a millisecond. So
// they are opened when a string first needs them, and every call into ICU
// goes through this table, filled once. The functions are ICU's C interface
// under the versioned names of the ICU the platform was built with, which its
// headers give.
#ifndef VZ_PLATFORM_ICULIBRARY_H
#define VZ_PLATFORM_ICULIBRARY_H

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucol.h>
#include <unicode/uloc.h>
#include <unicode/unorm2.h>
#include <unicode/ustring.h>

#include <climits>
#include <new>
#include <string>

namespace vz {

struct IcuLibrary {
    decltype(&::u_charDigitValue)           charDigitValue;
    decltype(&::u_charType)                 charType;
    decltype(&::u_getIntPropertyValue)      getIntPropertyValue;
    decltype(&::u_isUWhiteSpace)            isUWhiteSpace;
    decltype(&::u_strFoldCase)              strFoldCase;
    decltype(&::u_strToLower)               strToLower;
    decltype(&::u_strToTitle)               strToTitle;
    decltype(&::u_strToUpper)               strToUpper;
    decltype(&::ucnv_close)                 ucnvClose;
    decltype(&::ucnv_open)                  ucnvOpen;
    decltype(&::ucnv_toUChars)              ucnvToUChars;
    decltype(&::ucol_close)                 ucolClose;
    decltype(&::ucol_getSortKey)            ucolGetSortKey;
    decltype(&::ucol_open)                  ucolOpen;
    decltype(&::ucol_setAttribute)          ucolSetAttribute;
    decltype(&::ucol_strcoll)               ucolStrcoll;
    decltype(&::uloc_canonicalize)          ulocCanonicalize;
    decltype(&::unorm2_getNFCInstance)      unorm2GetNFCInstance;
    decltype(&::unorm2_getNFDInstance)      unorm2GetNFDInstance;
    decltype(&::unorm2_getNFKCInstance)     unorm2GetNFKCInstance;
    decltype(&::unorm2_getNFKDInstance)     unorm2GetNFKDInstance;
    decltype(&::unorm2_getRawDecomposition) unorm2GetRawDecomposition;
    decltype(&::unorm2_hasBoundaryBefore)   unorm2HasBoundaryBefore;
    decltype(&::unorm2_isNormalized)        unorm2IsNormalized;
    decltype(&::unorm2_normalize)           unorm2Normalize;
};

// The table, ICU loaded on the first call (from any thread). A process
// without ICU's libraries stops here with a message, as it would have at its
// start with them linked.
const IcuLibrary &icuLibrary() noexcept;

// Fills out from an ICU function that writes UTF-16 into a buffer of a given
// capacity and returns the length it needs (write(dest, capacity, status)),
// growing the buffer once when the first guess was short. False when ICU
// fails. May throw std::bad_alloc.
template <typename Write> bool writeUTF16(std::u16string &out, size_t guess, Write &&write)
{
    out.resize(guess);
    UErrorCode status = U_ZERO_ERROR;
    int32_t    length =
        write(reinterpret_cast<UChar *>(out.data()), static_cast<int32_t>(out.size()), &status);
    if (status == U_BUFFER_OVERFLOW_ERROR && length > 0) {
        out.resize(static_cast<size_t>(length));
        status = U_ZERO_ERROR;
        length = write(reinterpret_cast<UChar *>(out.data()), length, &status);
    }
    if (U_FAILURE(status) || length < 0 || static_cast<size_t>(length) > out.size()) return false;
    out.resize(static_cast<size_t>(length));
    return true;
}

// Puts text in the normalizer's form, unless it is in it already. Throws
// std::bad_alloc when ICU cannot.
inline void normalizeInPlace(const UNormalizer2 *normalizer, std::u16string &text)
{
    if (text.size() > INT32_MAX) throw std::bad_alloc();
    const IcuLibrary &icu    = icuLibrary();
    const auto       *source = reinterpret_cast<const UChar *>(text.data());
    const auto        length = static_cast<int32_t>(text.size());
    UErrorCode        check  = U_ZERO_ERROR;
    if (icu.unorm2IsNormalized(normalizer, source, length, &check) && U_SUCCESS(check)) return;
    std::u16string result;
    if (!writeUTF16(
            result, text.size() + 16, [&](UChar *dest, int32_t capacity, UErrorCode *error) {
                return icu.unorm2Normalize(normalizer, source, length, dest, capacity, error);
            }))
        throw std::bad_alloc();
    text = std::move(result);
}

} // namespace vz

#endif
