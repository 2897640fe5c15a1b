// StringForms.cpp: strings as zero-terminated byte strings and as file-name
// records, and the localised, normalised form of a message.
#include "MoreCFQ.h"

#include <cstdlib>

// The byte written just past the converted bytes before the conversion and
// checked after it: a conversion that writes beyond the room it was given is
// a fault of the conversion, not of the caller, and must not go unnoticed.
static const UInt8 kGuardByte = 0xA5;

OSStatus CFQStringCopyCString(CFStringRef str, CFStringEncoding encoding, char **cStrPtr) noexcept
{
    OSStatus err       = noErr;
    CFRange  range     = CFRangeMake(0, 0);
    CFIndex  cStrLen   = 0;
    CFIndex  converted = 0;
    char    *cStr      = NULL; // malloc'd, owned until handed over

    VZ_ASSERT(str != NULL);
    VZ_ASSERT(cStrPtr != NULL);
    VZ_ASSERT(*cStrPtr == NULL);

    range = CFRangeMake(0, CFStringGetLength(str));
    (void)CFStringGetBytes(str, range, encoding, 0, false, NULL, 0, &cStrLen);
    cStr = (char *)malloc((size_t)cStrLen + 1);
    if (cStr == NULL) err = kCFQErrorNoMemory;
    if (err == noErr) {
        ((UInt8 *)cStr)[cStrLen] = kGuardByte;
        converted = CFStringGetBytes(str, range, encoding, 0, false, (UInt8 *)cStr, cStrLen, NULL);
        if (converted != range.length) err = kCFQErrorNotConvertible;
    }
    if (err == noErr) {
        *cStrPtr = cStr;
        cStr     = NULL;
        // The expression's text is part of the message.
        // clang-format off
        VZ_ASSERT(((const UInt8 *)*cStrPtr)[cStrLen] == 0xA5);
        // clang-format on
        (*cStrPtr)[cStrLen] = 0;
    }

    free(cStr);
    VZ_ASSERT((err == noErr) == (*cStrPtr != NULL));
    return err;
}

OSStatus CFQStringGetHFSUniStr255(CFStringRef str, HFSUniStr255 *hfsStr) noexcept
{
    OSStatus err    = noErr;
    CFIndex  length = 0;

    VZ_ASSERT(str != NULL);
    VZ_ASSERT(hfsStr != NULL);

    length = CFStringGetLength(str);
    if (length > 255) err = kCFQErrorNameTooLong;
    if (err == noErr) {
        hfsStr->length = (UInt16)length;
        CFStringGetCharacters(str, CFRangeMake(0, length), hfsStr->unicode);
    }
    return err;
}

OSStatus CFQStringCreateWithHFSUniStr255(const HFSUniStr255 *hfsStr, CFStringRef *strPtr) noexcept
{
    OSStatus    err = noErr;
    CFStringRef str = NULL; // owned until handed over

    VZ_ASSERT(hfsStr != NULL);
    VZ_ASSERT(strPtr != NULL);
    VZ_ASSERT(*strPtr == NULL);

    // A record cannot hold more than 255 units; a larger count would read
    // past its end.
    if (hfsStr->length > 255) err = kCFQErrorNameTooLong;
    if (err == noErr) {
        str = CFStringCreateWithCharacters(NULL, hfsStr->unicode, hfsStr->length);
        err = CFQError(str);
    }
    if (err == noErr) {
        *strPtr = str;
        str     = NULL;
    }

    CFQRelease(str);
    VZ_ASSERT((err == noErr) == (*strPtr != NULL));
    return err;
}

OSStatus CFQCopyLocalisedNormalisedString(CFStringRef key, CFStringRef comment,
                                          CFStringRef *resultPtr) noexcept
{
    OSStatus    err        = noErr;
    CFBundleRef mainBundle = NULL; // borrowed
    CFStringRef result     = NULL; // owned until handed over

    VZ_ASSERT(key != NULL);
    VZ_ASSERT(comment != NULL);
    VZ_ASSERT(resultPtr != NULL);
    VZ_ASSERT(*resultPtr == NULL);

    mainBundle = CFBundleGetMainBundle();
    err        = CFQError(mainBundle);
    if (err == noErr) {
        result = CFBundleCopyLocalizedString(mainBundle, key, key, NULL);
        err    = CFQError(result);
    }
    if (err == noErr) err = CFQStringNormalize(&result);
    if (err == noErr) {
        *resultPtr = result;
        result     = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*resultPtr != NULL));
    return err;
}
