// MoreCFQ.cpp: the toolkit core (error codes from failed creations, null-tolerant
// retain and release, scratch memory blocks, empty containers), the container
// conversions, numbers, the shallow merge and string normalisation, and the
// one assertion routine of the system.
//
// Every creating function keeps the out-parameter contract of MoreCFQ.h: the
// result is built in a local and handed over once, at the single exit, so a
// failure never leaves a half-made result behind; temporary blocks are given
// back on every path.
#include "MoreCFQ.h"

#include <cstdio>
#include <cstdlib>

// ---------------------------------------------------------------------------
// Assertions

void CFQAssertionFailed(const char *file, unsigned line, const char *expressionText) noexcept
{
    std::fprintf(stderr, "%s:%u: failed assertion `%s'\n", file, line, expressionText);
    std::fflush(stderr);
    std::abort();
}

// ---------------------------------------------------------------------------
// Error codes, retain and release

OSStatus CFQErrorBoolean(Boolean shouldBeTrue) noexcept
{
    OSStatus err = noErr;

    if (!shouldBeTrue) err = kCFQErrorObjectNotMade;
    return err;
}

OSStatus CFQError(const void *shouldBeNotNULL) noexcept
{
    return CFQErrorBoolean(shouldBeNotNULL != NULL);
}

CFTypeRef CFQRetain(CFTypeRef cf) noexcept
{
    if (cf != NULL) (void)CFRetain(cf);
    return cf;
}

void CFQRelease(CFTypeRef cf) noexcept
{
    if (cf != NULL) CFRelease(cf);
}

// ---------------------------------------------------------------------------
// Memory blocks

OSStatus CFQAllocateEntries(CFIndex count, size_t entrySize, void **blockPtrPtr) noexcept
{
    const size_t kLargestBlock = 0x7FFFFFFF; // the largest request CFQAllocate accepts

    VZ_ASSERT(blockPtrPtr != NULL);
    VZ_ASSERT(*blockPtrPtr == NULL);

    if (count < 0 || (entrySize != 0 && (size_t)count > kLargestBlock / entrySize)) {
        return kCFQErrorNoMemory;
    }
    return CFQAllocate((ByteCount)((size_t)count * entrySize), blockPtrPtr);
}

OSStatus CFQAllocate(ByteCount bytesToAllocate, void **blockPtrPtr) noexcept
{
    // The size is read as the 32-bit signed count of the system's target, so
    // a request of 2 GiB or more is refused here exactly as it is there,
    // rather than passed on to the allocator.
    typedef SInt32 CFIndex;

    OSStatus err = noErr;

    // The expression's text is part of the message; keep the space after the cast.
    // clang-format off
    VZ_ASSERT(((CFIndex) bytesToAllocate) >= 0);
    // clang-format on
    VZ_ASSERT(blockPtrPtr != NULL);
    VZ_ASSERT(*blockPtrPtr == NULL);

    // A request for nothing still yields a distinct block, so that success and
    // a non-null block always go together.
    if (bytesToAllocate == 0) bytesToAllocate = 1;
    *blockPtrPtr = CFAllocatorAllocate(kCFAllocatorDefault, (::CFIndex)bytesToAllocate, 0);
    if (*blockPtrPtr == NULL) err = kCFQErrorNoMemory;

    VZ_ASSERT((err == noErr) == (*blockPtrPtr != NULL));
    return err;
}

void CFQDeallocate(void *blockPtr) noexcept
{
    if (blockPtr != NULL) CFAllocatorDeallocate(kCFAllocatorDefault, blockPtr);
}

// ---------------------------------------------------------------------------
// Empty containers

OSStatus CFQDictionaryCreateMutable(CFMutableDictionaryRef *result) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    *result = CFDictionaryCreateMutable(kCFAllocatorDefault, 0, &kCFTypeDictionaryKeyCallBacks,
                                        &kCFTypeDictionaryValueCallBacks);
    err     = CFQError(*result);

    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

OSStatus CFQArrayCreateMutable(CFMutableArrayRef *result) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    *result = CFArrayCreateMutable(kCFAllocatorDefault, 0, &kCFTypeArrayCallBacks);
    err     = CFQError(*result);

    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

// ---------------------------------------------------------------------------
// Container conversions

// The keys (wantKeys) or the values of dict as a new immutable array, in the
// dictionary's own enumeration order. The two public functions below differ
// only in which half they ask for, so the keys array and the values array of
// one unchanged dictionary correspond index by index.
static OSStatus CreateArrayWithDictionaryHalf(CFDictionaryRef dict, bool wantKeys,
                                              CFArrayRef *result) noexcept
{
    OSStatus     err   = noErr;
    CFIndex      count = 0;
    const void **half  = NULL; // scratch block, given back at exit
    CFArrayRef   array = NULL; // owned until handed over

    count = CFDictionaryGetCount(dict);
    err   = CFQAllocateEntries(count, sizeof(const void *), (void **)&half);
    if (err == noErr) {
        if (wantKeys) {
            CFDictionaryGetKeysAndValues(dict, half, NULL);
        } else {
            CFDictionaryGetKeysAndValues(dict, NULL, half);
        }
        array = CFArrayCreate(kCFAllocatorDefault, half, count, &kCFTypeArrayCallBacks);
        err   = CFQError(array);
    }
    if (err == noErr) {
        *result = array;
        array   = NULL;
    }

    CFQRelease(array);
    CFQDeallocate(half);
    return err;
}

OSStatus CFQArrayCreateWithDictionaryKeys(CFDictionaryRef dict, CFArrayRef *result) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    err = CreateArrayWithDictionaryHalf(dict, true, result);

    VZ_ASSERT((err == noErr) == (*result != NULL));
    VZ_ASSERT((*result == NULL) || (CFDictionaryGetCount(dict) == CFArrayGetCount(*result)));
    return err;
}

OSStatus CFQArrayCreateWithDictionaryValues(CFDictionaryRef dict, CFArrayRef *result) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    err = CreateArrayWithDictionaryHalf(dict, false, result);

    VZ_ASSERT((err == noErr) == (*result != NULL));
    VZ_ASSERT((*result == NULL) || (CFDictionaryGetCount(dict) == CFArrayGetCount(*result)));
    return err;
}

OSStatus CFQDictionaryCreateWithArrayOfKeysAndValues(CFArrayRef keys, CFArrayRef values,
                                                     CFDictionaryRef *result) noexcept
{
    OSStatus        err        = noErr;
    CFIndex         count      = 0;
    const void    **keysPtr    = NULL; // scratch block, given back at exit
    const void    **valuesPtr  = NULL; // scratch block, given back at exit
    CFDictionaryRef dictionary = NULL; // owned until handed over

    VZ_ASSERT(keys != NULL);
    VZ_ASSERT(values != NULL);
    VZ_ASSERT(CFArrayGetCount(keys) == CFArrayGetCount(values));
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    count = CFArrayGetCount(keys);
    err   = CFQAllocateEntries(count, sizeof(const void *), (void **)&keysPtr);
    if (err == noErr) {
        err = CFQAllocateEntries(count, sizeof(const void *), (void **)&valuesPtr);
    }
    if (err == noErr) {
        CFArrayGetValues(keys, CFRangeMake(0, count), keysPtr);
        CFArrayGetValues(values, CFRangeMake(0, count), valuesPtr);
        dictionary =
            CFDictionaryCreate(kCFAllocatorDefault, keysPtr, valuesPtr, count,
                               &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
        err = CFQError(dictionary);
    }
    if (err == noErr) {
        *result    = dictionary;
        dictionary = NULL;
    }

    CFQRelease(dictionary);
    CFQDeallocate(keysPtr);
    CFQDeallocate(valuesPtr);
    return err;
}

// ---------------------------------------------------------------------------
// Merge, numbers, normalisation

// One entry of CFQDictionaryMerge: context is the destination dictionary.
static void MergeOne(const void *key, const void *value, void *context) noexcept
{
    CFMutableDictionaryRef dst = (CFMutableDictionaryRef)context;

    VZ_ASSERT(context != NULL);
    VZ_ASSERT(CFGetTypeID(dst) == CFDictionaryGetTypeID());

    CFDictionarySetValue(dst, key, value);
}

OSStatus CFQDictionaryMerge(CFMutableDictionaryRef dst, CFDictionaryRef src) noexcept
{
    VZ_ASSERT(dst != NULL);
    VZ_ASSERT(src != NULL);

    CFDictionaryApplyFunction(src, MergeOne, (void *)dst);
    return noErr;
}

OSStatus CFQDictionarySetNumber(CFMutableDictionaryRef dict, const void *key, SInt32 value) noexcept
{
    OSStatus    err    = noErr;
    CFNumberRef number = NULL; // released at exit; the dictionary keeps its own reference

    // kCFNumberLongType is the 32-bit signed integer of the system's target.
    number = CFNumberCreate(kCFAllocatorDefault, kCFNumberLongType, &value);
    err    = CFQError(number);
    if (err == noErr) CFDictionarySetValue(dict, key, number);

    CFQRelease(number);
    return err;
}

OSStatus CFQStringNormalize(CFStringRef *strPtr) noexcept
{
    OSStatus           err        = noErr;
    CFMutableStringRef normalized = NULL; // owned until it replaces *strPtr

    VZ_ASSERT(strPtr != NULL);
    VZ_ASSERT(*strPtr != NULL);

    normalized = CFStringCreateMutableCopy(kCFAllocatorDefault, 0, *strPtr);
    err        = CFQError(normalized);
    if (err == noErr) {
        CFStringNormalize(normalized, kCFStringNormalizationFormD);
        CFQRelease(*strPtr);
        *strPtr    = normalized;
        normalized = NULL;
    }

    CFQRelease(normalized);
    VZ_ASSERT(*strPtr != NULL);
    return err;
}
