// CFDictionary.h: key-value collections.
//
// Keys and values are kept through callback records (retain, release,
// description, equality, hash). kCFTypeDictionaryKeyCallBacks and
// kCFTypeDictionaryValueCallBacks retain objects and compare with CFEqual and
// CFHash; kCFCopyStringDictionaryKeyCallBacks copies string keys; a NULL
// record stores raw pointers, compared by address.
//
// A dictionary enumerates in insertion order: replacing the value of a key
// keeps its place, removing a key keeps the order of the rest. Every listing
// of the same dictionary is therefore deterministic.
#ifndef VZ_CFDICTIONARY_H
#define VZ_CFDICTIONARY_H

#include <CoreFoundation/CFBase.h>

typedef const struct __CFDictionary *CFDictionaryRef;
typedef struct __CFDictionary       *CFMutableDictionaryRef;

typedef const void *(*CFDictionaryRetainCallBack)(CFAllocatorRef allocator, const void *value);
typedef void (*CFDictionaryReleaseCallBack)(CFAllocatorRef allocator, const void *value);
typedef CFStringRef (*CFDictionaryCopyDescriptionCallBack)(const void *value);
typedef Boolean (*CFDictionaryEqualCallBack)(const void *value1, const void *value2);
typedef CFHashCode (*CFDictionaryHashCallBack)(const void *value);

typedef struct {
    CFIndex                             version;
    CFDictionaryRetainCallBack          retain;
    CFDictionaryReleaseCallBack         release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack           equal;
    CFDictionaryHashCallBack            hash;
} CFDictionaryKeyCallBacks;

typedef struct {
    CFIndex                             version;
    CFDictionaryRetainCallBack          retain;
    CFDictionaryReleaseCallBack         release;
    CFDictionaryCopyDescriptionCallBack copyDescription;
    CFDictionaryEqualCallBack           equal;
} CFDictionaryValueCallBacks;

typedef void (*CFDictionaryApplierFunction)(const void *key, const void *value, void *context);

extern "C" {

extern const CFDictionaryKeyCallBacks   kCFTypeDictionaryKeyCallBacks;
extern const CFDictionaryKeyCallBacks   kCFCopyStringDictionaryKeyCallBacks;
extern const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks;

CFTypeID        CFDictionaryGetTypeID(void) noexcept;
CFDictionaryRef CFDictionaryCreate(CFAllocatorRef allocator, const void **keys, const void **values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks) noexcept;
CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef allocator, CFDictionaryRef theDict) noexcept;
CFMutableDictionaryRef
                       CFDictionaryCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                                 const CFDictionaryKeyCallBacks   *keyCallBacks,
                                                 const CFDictionaryValueCallBacks *valueCallBacks) noexcept;
CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                                     CFDictionaryRef theDict) noexcept;

CFIndex     CFDictionaryGetCount(CFDictionaryRef theDict) noexcept;
CFIndex     CFDictionaryGetCountOfKey(CFDictionaryRef theDict, const void *key) noexcept;
CFIndex     CFDictionaryGetCountOfValue(CFDictionaryRef theDict, const void *value) noexcept;
Boolean     CFDictionaryContainsKey(CFDictionaryRef theDict, const void *key) noexcept;
Boolean     CFDictionaryContainsValue(CFDictionaryRef theDict, const void *value) noexcept;
const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key) noexcept;
Boolean     CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void *key,
                                          const void **value) noexcept;
// Fills keys and values (either may be NULL) in enumeration order.
void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys,
                                  const void **values) noexcept;
void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void *context) noexcept;

// Adds only when the key is absent.
void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void *key,
                          const void *value) noexcept;
// Adds or replaces.
void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key,
                          const void *value) noexcept;
// Replaces only when the key is present.
void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void *key,
                              const void *value) noexcept;
void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key) noexcept;
void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict) noexcept;

} // extern "C"

#endif
