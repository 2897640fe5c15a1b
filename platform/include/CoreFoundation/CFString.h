// CFString.h: strings of UTF-16 code units.
//
// Every length, index and range counts UTF-16 code units, as on the platform:
// a character outside the Basic Multilingual Plane counts two. Conversions to
// and from bytes cover ASCII, UTF-8, UTF-16 (host order), Mac OS Roman and ISO
// Latin 1. A conversion without a loss byte stops at the first character that
// the encoding cannot hold and reports how many characters it converted.
#ifndef VZ_CFSTRING_H
#define VZ_CFSTRING_H

#include <CoreFoundation/CFBase.h>

typedef const struct __CFArray      *CFArrayRef;
typedef const struct __CFDictionary *CFDictionaryRef;
typedef const struct __CFData       *CFDataRef;
typedef const struct __CFLocale     *CFLocaleRef;

typedef UInt32 CFStringEncoding;

enum {
    kCFStringEncodingMacRoman      = 0,
    kCFStringEncodingWindowsLatin1 = 0x0500,
    kCFStringEncodingISOLatin1     = 0x0201,
    kCFStringEncodingNextStepLatin = 0x0B01,
    kCFStringEncodingASCII         = 0x0600,
    kCFStringEncodingUnicode       = 0x0100,
    kCFStringEncodingUTF8          = 0x08000100,
    kCFStringEncodingNonLossyASCII = 0x0BFF,
    kCFStringEncodingUTF16         = 0x0100,
    kCFStringEncodingUTF16BE       = 0x10000100,
    kCFStringEncodingUTF16LE       = 0x14000100,
    kCFStringEncodingUTF32         = 0x0c000100,
    kCFStringEncodingUTF32BE       = 0x18000100,
    kCFStringEncodingUTF32LE       = 0x1c000100
};

enum { kCFStringEncodingInvalidId = 0xffffffffU };

typedef CFOptionFlags CFStringCompareFlags;
enum {
    kCFCompareCaseInsensitive      = 1,
    kCFCompareBackwards            = 4,
    kCFCompareAnchored             = 8,
    kCFCompareNonliteral           = 16,
    kCFCompareLocalized            = 32,
    kCFCompareNumerically          = 64,
    kCFCompareDiacriticInsensitive = 128,
    kCFCompareWidthInsensitive     = 256,
    kCFCompareForcedOrdering       = 512
};

typedef enum {
    kCFStringNormalizationFormD  = 0,
    kCFStringNormalizationFormKD = 1,
    kCFStringNormalizationFormC  = 2,
    kCFStringNormalizationFormKC = 3
} CFStringNormalizationForm;

extern "C" {

CFTypeID CFStringGetTypeID(void) noexcept;

// The immortal constant string for a C string literal; one object per text.
CFStringRef __CFStringMakeConstantString(const char *cStr) noexcept;

// Creation.
CFStringRef CFStringCreateWithCString(CFAllocatorRef alloc, const char *cStr,
                                      CFStringEncoding encoding) noexcept;
CFStringRef CFStringCreateWithBytes(CFAllocatorRef alloc, const UInt8 *bytes, CFIndex numBytes,
                                    CFStringEncoding encoding,
                                    Boolean          isExternalRepresentation) noexcept;
CFStringRef CFStringCreateWithCharacters(CFAllocatorRef alloc, const UniChar *chars,
                                         CFIndex numChars) noexcept;
CFStringRef CFStringCreateWithSubstring(CFAllocatorRef alloc, CFStringRef str,
                                        CFRange range) noexcept;
CFStringRef CFStringCreateCopy(CFAllocatorRef alloc, CFStringRef theString) noexcept;
CFStringRef CFStringCreateWithFormat(CFAllocatorRef alloc, CFDictionaryRef formatOptions,
                                     CFStringRef format, ...) noexcept;
CFStringRef CFStringCreateWithFormatAndArguments(CFAllocatorRef  alloc,
                                                 CFDictionaryRef formatOptions, CFStringRef format,
                                                 va_list arguments) noexcept;
CFStringRef CFStringCreateFromExternalRepresentation(CFAllocatorRef alloc, CFDataRef data,
                                                     CFStringEncoding encoding) noexcept;
CFDataRef   CFStringCreateExternalRepresentation(CFAllocatorRef alloc, CFStringRef theString,
                                                 CFStringEncoding encoding, UInt8 lossByte) noexcept;

CFMutableStringRef CFStringCreateMutable(CFAllocatorRef alloc, CFIndex maxLength) noexcept;
CFMutableStringRef CFStringCreateMutableCopy(CFAllocatorRef alloc, CFIndex maxLength,
                                             CFStringRef theString) noexcept;

// Access.
CFIndex     CFStringGetLength(CFStringRef theString) noexcept;
UniChar     CFStringGetCharacterAtIndex(CFStringRef theString, CFIndex idx) noexcept;
void        CFStringGetCharacters(CFStringRef theString, CFRange range, UniChar *buffer) noexcept;
Boolean     CFStringGetCString(CFStringRef theString, char *buffer, CFIndex bufferSize,
                               CFStringEncoding encoding) noexcept;
const char *CFStringGetCStringPtr(CFStringRef theString, CFStringEncoding encoding) noexcept;
const UniChar *CFStringGetCharactersPtr(CFStringRef theString) noexcept;
CFIndex        CFStringGetBytes(CFStringRef theString, CFRange range, CFStringEncoding encoding,
                                UInt8 lossByte, Boolean isExternalRepresentation, UInt8 *buffer,
                                CFIndex maxBufLen, CFIndex *usedBufLen) noexcept;
CFIndex CFStringGetMaximumSizeForEncoding(CFIndex length, CFStringEncoding encoding) noexcept;
SInt32  CFStringGetIntValue(CFStringRef str) noexcept;
double  CFStringGetDoubleValue(CFStringRef str) noexcept;

// Encodings.
CFStringEncoding CFStringGetSystemEncoding(void) noexcept;
Boolean          CFStringIsEncodingAvailable(CFStringEncoding encoding) noexcept;
CFStringRef      CFStringGetNameOfEncoding(CFStringEncoding encoding) noexcept;

// Comparison and searching. Without options a comparison is literal, unit by
// unit; kCFCompareLocalized collates with ICU (the current locale when none
// is given).
CFComparisonResult CFStringCompare(CFStringRef theString1, CFStringRef theString2,
                                   CFStringCompareFlags compareOptions) noexcept;
CFComparisonResult CFStringCompareWithOptions(CFStringRef theString1, CFStringRef theString2,
                                              CFRange              rangeToCompare,
                                              CFStringCompareFlags compareOptions) noexcept;
CFComparisonResult CFStringCompareWithOptionsAndLocale(CFStringRef          theString1,
                                                       CFStringRef          theString2,
                                                       CFRange              rangeToCompare,
                                                       CFStringCompareFlags compareOptions,
                                                       CFLocaleRef          locale) noexcept;
CFRange            CFStringFind(CFStringRef theString, CFStringRef stringToFind,
                                CFStringCompareFlags compareOptions) noexcept;
Boolean            CFStringFindWithOptions(CFStringRef theString, CFStringRef stringToFind,
                                           CFRange rangeToSearch, CFStringCompareFlags searchOptions,
                                           CFRange *result) noexcept;
CFArrayRef         CFStringCreateArrayWithFindResults(CFAllocatorRef alloc, CFStringRef theString,
                                                      CFStringRef stringToFind, CFRange rangeToSearch,
                                                      CFStringCompareFlags compareOptions) noexcept;
Boolean            CFStringHasPrefix(CFStringRef theString, CFStringRef prefix) noexcept;
Boolean            CFStringHasSuffix(CFStringRef theString, CFStringRef suffix) noexcept;

// Splitting and joining.
CFArrayRef  CFStringCreateArrayBySeparatingStrings(CFAllocatorRef alloc, CFStringRef theString,
                                                   CFStringRef separatorString) noexcept;
CFStringRef CFStringCreateByCombiningStrings(CFAllocatorRef alloc, CFArrayRef theArray,
                                             CFStringRef separatorString) noexcept;

// Editing a mutable string.
void CFStringAppend(CFMutableStringRef theString, CFStringRef appendedString) noexcept;
void CFStringAppendCharacters(CFMutableStringRef theString, const UniChar *chars,
                              CFIndex numChars) noexcept;
void CFStringAppendCString(CFMutableStringRef theString, const char *cStr,
                           CFStringEncoding encoding) noexcept;
void CFStringAppendFormat(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                          CFStringRef format, ...) noexcept;
void CFStringAppendFormatAndArguments(CFMutableStringRef theString, CFDictionaryRef formatOptions,
                                      CFStringRef format, va_list arguments) noexcept;
void CFStringInsert(CFMutableStringRef str, CFIndex idx, CFStringRef insertedStr) noexcept;
void CFStringDelete(CFMutableStringRef theString, CFRange range) noexcept;
void CFStringReplace(CFMutableStringRef theString, CFRange range, CFStringRef replacement) noexcept;
void CFStringReplaceAll(CFMutableStringRef theString, CFStringRef replacement) noexcept;
CFIndex CFStringFindAndReplace(CFMutableStringRef theString, CFStringRef stringToFind,
                               CFStringRef replacementString, CFRange rangeToSearch,
                               CFStringCompareFlags compareOptions) noexcept;
void    CFStringPad(CFMutableStringRef theString, CFStringRef padString, CFIndex length,
                    CFIndex indexIntoPad) noexcept;
void    CFStringTrim(CFMutableStringRef theString, CFStringRef trimString) noexcept;
void    CFStringTrimWhitespace(CFMutableStringRef theString) noexcept;
void    CFStringLowercase(CFMutableStringRef theString, CFLocaleRef locale) noexcept;
void    CFStringUppercase(CFMutableStringRef theString, CFLocaleRef locale) noexcept;
void    CFStringCapitalize(CFMutableStringRef theString, CFLocaleRef locale) noexcept;
void    CFStringNormalize(CFMutableStringRef theString, CFStringNormalizationForm theForm) noexcept;

// Writes the string to standard error as UTF-8.
void CFShowStr(CFStringRef str) noexcept;

} // extern "C"

// One immortal object per distinct text; each use site looks its constant up
// once.
#define CFSTR(cStr)                                                                                \
    ([]() noexcept -> CFStringRef {                                                                \
        static const CFStringRef vzConstantString = __CFStringMakeConstantString("" cStr "");      \
        return vzConstantString;                                                                   \
    }())

#endif
