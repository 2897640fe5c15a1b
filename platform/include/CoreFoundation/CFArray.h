// CFArray.h: ordered collections of values.
//
// An array keeps its values through a callback record: retain, release,
// description and equality. kCFTypeArrayCallBacks retains objects and compares
// them with CFEqual; a NULL callback record stores raw pointers, compared by
// address.
#ifndef VZ_CFARRAY_H
#define VZ_CFARRAY_H

#include <CoreFoundation/CFBase.h>

typedef const struct __CFArray *CFArrayRef;
typedef struct __CFArray       *CFMutableArrayRef;

typedef const void *(*CFArrayRetainCallBack)(CFAllocatorRef allocator, const void *value);
typedef void (*CFArrayReleaseCallBack)(CFAllocatorRef allocator, const void *value);
typedef CFStringRef (*CFArrayCopyDescriptionCallBack)(const void *value);
typedef Boolean (*CFArrayEqualCallBack)(const void *value1, const void *value2);

typedef struct {
    CFIndex                        version;
    CFArrayRetainCallBack          retain;
    CFArrayReleaseCallBack         release;
    CFArrayCopyDescriptionCallBack copyDescription;
    CFArrayEqualCallBack           equal;
} CFArrayCallBacks;

typedef void (*CFArrayApplierFunction)(const void *value, void *context);

extern "C" {

extern const CFArrayCallBacks kCFTypeArrayCallBacks;

CFTypeID          CFArrayGetTypeID(void) noexcept;
CFArrayRef        CFArrayCreate(CFAllocatorRef allocator, const void **values, CFIndex numValues,
                                const CFArrayCallBacks *callBacks) noexcept;
CFArrayRef        CFArrayCreateCopy(CFAllocatorRef allocator, CFArrayRef theArray) noexcept;
CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef allocator, CFIndex capacity,
                                       const CFArrayCallBacks *callBacks) noexcept;
CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef allocator, CFIndex capacity,
                                           CFArrayRef theArray) noexcept;

CFIndex     CFArrayGetCount(CFArrayRef theArray) noexcept;
const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) noexcept;
void        CFArrayGetValues(CFArrayRef theArray, CFRange range, const void **values) noexcept;
CFIndex     CFArrayGetCountOfValue(CFArrayRef theArray, CFRange range, const void *value) noexcept;
Boolean     CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void *value) noexcept;
CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void *value) noexcept;
CFIndex CFArrayGetLastIndexOfValue(CFArrayRef theArray, CFRange range, const void *value) noexcept;
void    CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                             void *context) noexcept;
// The index at which value is or would be inserted in a range sorted by
// comparator: the first element not less than value, or the range's end.
CFIndex CFArrayBSearchValues(CFArrayRef theArray, CFRange range, const void *value,
                             CFComparatorFunction comparator, void *context) noexcept;

void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value) noexcept;
void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) noexcept;
void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) noexcept;
void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) noexcept;
void CFArrayRemoveAllValues(CFMutableArrayRef theArray) noexcept;
void CFArrayReplaceValues(CFMutableArrayRef theArray, CFRange range, const void **newValues,
                          CFIndex newCount) noexcept;
void CFArrayExchangeValuesAtIndices(CFMutableArrayRef theArray, CFIndex idx1,
                                    CFIndex idx2) noexcept;
// A stable sort of the range.
void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator,
                       void *context) noexcept;
void CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray,
                        CFRange otherRange) noexcept;

} // extern "C"

#endif
