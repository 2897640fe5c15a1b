// MoreCFQ.h: the property-list toolkit under the whole library: turning
// failed creations into error codes, null-tolerant retain and release, scratch
// memory, empty containers, container conversions, numbers, merge and string
// normalisation; and the one assertion routine of the system.
//
// Error codes: 0 success, -4960 a property-list object could not be made,
// -108 a memory block could not be allocated.
//
// A creating function's out-parameter must be non-NULL and point to NULL on
// entry; on success it holds one reference (or block) the caller owns, on
// failure it stays NULL.
#ifndef VZ_MORECFQ_H
#define VZ_MORECFQ_H

#include <CoreFoundation/CoreFoundation.h>

// Writes "file:line: failed assertion `expr'" to standard error, flushes it
// and aborts. Never compiled out; the expression text is API, so write it
// exactly as agreed.
[[noreturn]] void CFQAssertionFailed(const char *file, unsigned line,
                                     const char *expressionText) noexcept;

#define VZ_ASSERT(expr)                                                                           \
    ((expr) ? (void) 0 : CFQAssertionFailed(__FILE__, __LINE__, #expr))

// The size of a memory block, a 32-bit count as on the system's target.
typedef UInt32 ByteCount;

enum {
    kCFQErrorObjectNotMade = -4960, // a property-list object could not be made
    kCFQErrorNoMemory      = -108   // a memory block could not be allocated
};

OSStatus  CFQErrorBoolean(Boolean shouldBeTrue) noexcept;
OSStatus  CFQError(const void *shouldBeNotNULL) noexcept;
CFTypeRef CFQRetain(CFTypeRef cf) noexcept;
void      CFQRelease(CFTypeRef cf) noexcept;

OSStatus CFQAllocate(ByteCount bytesToAllocate, void **blockPtrPtr) noexcept;
void     CFQDeallocate(void *blockPtr) noexcept;

OSStatus CFQDictionaryCreateMutable(CFMutableDictionaryRef *result) noexcept;
OSStatus CFQArrayCreateMutable(CFMutableArrayRef *result) noexcept;

OSStatus CFQArrayCreateWithDictionaryKeys(CFDictionaryRef dict, CFArrayRef *result) noexcept;
OSStatus CFQArrayCreateWithDictionaryValues(CFDictionaryRef dict, CFArrayRef *result) noexcept;
OSStatus CFQDictionaryCreateWithArrayOfKeysAndValues(CFArrayRef keys, CFArrayRef values,
                                                     CFDictionaryRef *result) noexcept;
OSStatus CFQDictionaryMerge(CFMutableDictionaryRef dst, CFDictionaryRef src) noexcept;
OSStatus CFQDictionarySetNumber(CFMutableDictionaryRef dict, const void *key,
                                SInt32 value) noexcept;
OSStatus CFQStringNormalize(CFStringRef *strPtr) noexcept;

#endif
