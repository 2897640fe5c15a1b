// Walks.cpp: walking a property list, every node (deep) or one level in a
// fixed order (shallow).
//
// A walk that cannot obtain memory for a dictionary's keys skips that
// dictionary's children without a word: the callbacks return nothing, so
// there is nobody to tell, and the walk over the rest stays useful.
#include "MoreCFQ.h"

#include <cstdlib>

Boolean CFQPropertyListIsLeaf(CFTypeRef node) noexcept
{
    CFTypeID type = CFGetTypeID(node);

    return type != CFDictionaryGetTypeID() && type != CFArrayGetTypeID();
}

void CFQPropertyListDeepApplyFunction(CFTypeRef propList, CFQPropertyListDeepApplierFunction func,
                                      void *context) noexcept
{
    CFIndex      count = 0;
    CFIndex      index = 0;
    const void **keys  = NULL; // malloc'd, freed before returning

    VZ_ASSERT(propList != NULL);
    VZ_ASSERT(func != NULL);

    func(propList, context);
    if (CFGetTypeID(propList) == CFDictionaryGetTypeID()) {
        count = CFDictionaryGetCount((CFDictionaryRef)propList);
        if (count > 0) keys = (const void **)malloc((size_t)count * sizeof(const void *));
        if (keys != NULL) {
            CFDictionaryGetKeysAndValues((CFDictionaryRef)propList, keys, NULL);
            for (index = 0; index < count; index++) {
                CFQPropertyListDeepApplyFunction(
                    CFDictionaryGetValue((CFDictionaryRef)propList, keys[index]), func, context);
            }
        }
    } else if (CFGetTypeID(propList) == CFArrayGetTypeID()) {
        count = CFArrayGetCount((CFArrayRef)propList);
        for (index = 0; index < count; index++) {
            CFQPropertyListDeepApplyFunction(CFArrayGetValueAtIndex((CFArrayRef)propList, index),
                                             func, context);
        }
    }

    free(keys);
}

// Literal order of two keys, which must be strings.
static CFComparisonResult CompareKeysLiterally(const void *key1, const void *key2, void *) noexcept
{
    return CFStringCompare((CFStringRef)key1, (CFStringRef)key2, 0);
}

static void ApplyToDictionary(CFDictionaryRef dict, CFQPropertyListShallowApplierFunction func,
                              void *context) noexcept
{
    CFIndex           count            = 0;
    CFIndex           index            = 0;
    const void      **keys             = NULL; // malloc'd, freed at exit
    CFArrayRef        keysArray        = NULL; // owned
    CFMutableArrayRef keysArrayMutable = NULL; // owned
    CFTypeRef         key              = NULL;

    count = CFDictionaryGetCount(dict);
    if (count > 0) keys = (const void **)malloc((size_t)count * sizeof(const void *));
    if (keys != NULL) {
        CFDictionaryGetKeysAndValues(dict, keys, NULL);
        keysArray = CFArrayCreate(NULL, keys, count, &kCFTypeArrayCallBacks);
        VZ_ASSERT(keysArray != NULL);
        keysArrayMutable = CFArrayCreateMutableCopy(NULL, 0, keysArray);
        VZ_ASSERT(keysArrayMutable != NULL);
        CFArraySortValues(keysArrayMutable, CFRangeMake(0, count), CompareKeysLiterally, NULL);
        for (index = 0; index < count; index++) {
            key = CFArrayGetValueAtIndex(keysArrayMutable, index);
            func(key, CFDictionaryGetValue(dict, key), context);
        }
    }

    CFQRelease(keysArrayMutable);
    CFQRelease(keysArray);
    free(keys);
}

static void ApplyToArray(CFArrayRef array, CFQPropertyListShallowApplierFunction func,
                         void *context) noexcept
{
    CFIndex     count       = 0;
    SInt32      index       = 0;
    CFNumberRef indexNumber = NULL; // owned, one per element

    count = CFArrayGetCount(array);
    for (index = 0; index < count; index++) {
        indexNumber = CFNumberCreate(NULL, kCFNumberSInt32Type, &index);
        if (indexNumber != NULL) {
            func(indexNumber, CFArrayGetValueAtIndex(array, index), context);
            CFRelease(indexNumber);
        }
    }
}

void CFQPropertyListShallowApplyFunction(CFTypeRef                             propList,
                                         CFQPropertyListShallowApplierFunction func,
                                         void                                 *context) noexcept
{
    VZ_ASSERT(propList != NULL);
    VZ_ASSERT(func != NULL);

    if (CFGetTypeID(propList) == CFDictionaryGetTypeID()) {
        ApplyToDictionary((CFDictionaryRef)propList, func, context);
    } else if (CFGetTypeID(propList) == CFArrayGetTypeID()) {
        ApplyToArray((CFArrayRef)propList, func, context);
    } else {
        VZ_ASSERT(false);
    }
}
