// Encodings.cpp: conversions between the compact forms that digests carry (six
// MAC bytes, IPv4 addresses, a password string) and the property-list forms
// stored in entities (a MAC address string, dotted decimal strings, an array
// of them, the encoded password data).
//
// None of these functions keeps state. On failure every out-parameter stays
// NULL and every caller buffer is left as it was.
#include "VaviVAZDigest.h"

#include "MoreCFQ.h"

#include <cstdio>

enum {
    kMacStringLength     = 17, // "02:0a:1b:ff:07:c4"
    kMacAddressByteCount = 6,
    kErrorMacDoesNotScan = -1 // a MAC string is not six hexadecimal groups
};

OSStatus VaviVAZCreateStringWithMacAddress(const UInt8 *macAddr, CFStringRef *result) noexcept
{
    OSStatus    err = noErr;
    int         i   = 0;
    char        text[kMacAddressByteCount * 3 + 1]; // "xx:" per byte, then the terminator
    CFStringRef string = NULL;                      // owned until handed over

    VZ_ASSERT(macAddr != NULL);
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    for (i = 0; i < kMacAddressByteCount; i++) {
        std::snprintf(&text[i * 3], sizeof(text) - (size_t)(i * 3), "%2.2x:", macAddr[i]);
    }
    text[kMacStringLength] = 0; // drops the colon after the last group

    string = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
    err    = CFQError(string);
    if (err == noErr) {
        *result = string;
        string  = NULL;
    }

    CFQRelease(string);
    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

OSStatus VaviVAZStringToMacAddress(CFStringRef cfStr, UInt8 *macAddr) noexcept
{
    OSStatus     err = noErr;
    int          i   = 0;
    char         text[kMacStringLength + 1];
    unsigned int scanned[kMacAddressByteCount];
    int          macAsInts[kMacAddressByteCount];

    VZ_ASSERT(cfStr != NULL);
    VZ_ASSERT(macAddr != NULL);

    // Longer strings and strings outside ASCII do not fit and are refused
    // before scanning.
    err = CFQErrorBoolean(CFStringGetCString(cfStr, text, sizeof(text), kCFStringEncodingASCII));
    if (err == noErr) {
        if (std::sscanf(text, "%02x:%02x:%02x:%02x:%02x:%02x", &scanned[0], &scanned[1],
                        &scanned[2], &scanned[3], &scanned[4],
                        &scanned[5]) != kMacAddressByteCount) {
            err = kErrorMacDoesNotScan;
        }
    }
    // The scan takes a sign as part of a group, so "-1:00:00:00:00:00" reads
    // its first group as -1. MAC strings come from port records, which are
    // data, so such a string is refused as unscannable instead of tripping the
    // range assertion below.
    if (err == noErr) {
        for (i = 0; i < kMacAddressByteCount; i++) {
            macAsInts[i] = (int)scanned[i];
            if ((macAsInts[i] < 0) || (macAsInts[i] >= 256)) err = kErrorMacDoesNotScan;
        }
    }
    if (err == noErr) {
        for (i = 0; i < kMacAddressByteCount; i++) {
            VZ_ASSERT((macAsInts[i] >= 0) && (macAsInts[i] < 256));
            macAddr[i] = (UInt8)macAsInts[i];
        }
    }
    return err;
}

OSStatus VaviVAZCreateStringWithInetAddress(struct in_addr addr, CFStringRef *result) noexcept
{
    OSStatus    err    = noErr;
    CFStringRef string = NULL; // owned until handed over

    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    string =
        CFStringCreateWithCString(kCFAllocatorDefault, inet_ntoa(addr), kCFStringEncodingASCII);
    err = CFQError(string);
    if (err == noErr) {
        *result = string;
        string  = NULL;
    }

    CFQRelease(string);
    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

OSStatus VaviVAZCreateArrayWithInetAddresses(UInt32 addrCount, const struct in_addr *addresses,
                                             CFArrayRef *result) noexcept
{
    OSStatus          err    = noErr;
    UInt32            index  = 0;
    CFMutableArrayRef array  = NULL; // owned until handed over
    CFStringRef       string = NULL; // one address at a time

    VZ_ASSERT((addrCount == 0) || (addresses != NULL));
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    err = CFQArrayCreateMutable(&array);
    for (index = 0; (err == noErr) && (index < addrCount); index++) {
        err = VaviVAZCreateStringWithInetAddress(addresses[index], &string);
        if (err == noErr) CFArrayAppendValue(array, string);
        CFQRelease(string);
        string = NULL;
    }
    if (err == noErr) {
        *result = array;
        array   = NULL;
    }

    CFQRelease(array);
    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

OSStatus VaviVAZCopyEncodedPPPPassword(CFStringRef password, CFDataRef *encodedPassword) noexcept
{
    OSStatus  err    = noErr;
    CFIndex   length = 0;    // in UTF-16 code units
    UniChar  *units  = NULL; // scratch block, given back at exit
    CFDataRef data   = NULL; // owned until handed over

    VZ_ASSERT(password != NULL);
    VZ_ASSERT(encodedPassword != NULL);
    VZ_ASSERT(*encodedPassword == NULL);

    length = CFStringGetLength(password);
    err    = CFQAllocateEntries(length, sizeof(UniChar), (void **)&units);
    if (err == noErr) {
        CFStringGetCharacters(password, CFRangeMake(0, length), units);
        data = CFDataCreate(kCFAllocatorDefault, (const UInt8 *)units,
                            length * (CFIndex)sizeof(UniChar));
        err  = CFQError(data);
    }
    if (err == noErr) {
        *encodedPassword = data;
        data             = NULL;
    }

    CFQRelease(data);
    CFQDeallocate(units);
    VZ_ASSERT((err == noErr) == (*encodedPassword != NULL));
    return err;
}
