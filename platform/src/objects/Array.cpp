// Array.cpp: arrays.
//
// An array holds a pointer to an interned callback record (one shared copy per
// distinct record, never freed) and its values: inline after the header for
// an immutable array, in a malloc block that grows by doubling for a mutable
// one. Arrays with the standard object callbacks take a fast path that calls
// the runtime directly; a NULL record stores raw pointers, compared by
// address.
#include "Containers.h"
#include "Description.h"
#include "Unicode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

struct __CFArray : vz::Object {
    enum : uint8_t { kMutable = 1, kStandard = 2, kInline = 4 };
    const CFArrayCallBacks *callBacks;
    uint32_t                count    = 0;
    uint32_t                capacity = 0;
    const void            **values   = nullptr;

    __CFArray(uint8_t flags, const CFArrayCallBacks *cb) noexcept
        : Object(vz::kArrayTypeID, flags), callBacks(cb)
    {
    }
    bool isMutable() const noexcept { return (bits & kMutable) != 0; }
    bool isStandard() const noexcept { return (bits & kStandard) != 0; }
};

using namespace vz;

namespace {

const void *retainCallBack(CFAllocatorRef, const void *value)
{
    return CFRetain(value);
}
void releaseCallBack(CFAllocatorRef, const void *value)
{
    CFRelease(value);
}

constexpr CFArrayCallBacks kNullCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

std::mutex &internMutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

// One shared copy of each distinct callback record; standard tells whether it
// is the standard object record.
const CFArrayCallBacks *internCallBacks(const CFArrayCallBacks *cb, bool &standard)
{
    standard = false;
    if (cb == nullptr) return &kNullCallBacks;
    if (std::memcmp(cb, &kCFTypeArrayCallBacks, sizeof *cb) == 0) {
        standard = true;
        return &kCFTypeArrayCallBacks;
    }
    if (std::memcmp(cb, &kNullCallBacks, sizeof *cb) == 0) return &kNullCallBacks;
    static auto *records = new std::vector<const CFArrayCallBacks *>;
    return guarded<const CFArrayCallBacks *>(nullptr, [&]() -> const CFArrayCallBacks * {
        std::lock_guard<std::mutex> lock(internMutex());
        for (auto *record : *records)
            if (std::memcmp(record, cb, sizeof *cb) == 0) return record;
        auto copy = std::make_unique<CFArrayCallBacks>(*cb);
        records->push_back(copy.get());
        return copy.release();
    });
}

const void *retainValue(const __CFArray *a, const void *value)
{
    if (a->isStandard()) {
        if (value == nullptr) fatal("NULL value added to an array of objects");
        retainObject(value);
        return value;
    }
    return a->callBacks->retain ? a->callBacks->retain(nullptr, value) : value;
}

void releaseValue(const __CFArray *a, const void *value)
{
    if (a->isStandard()) {
        releaseObject(value);
        return;
    }
    if (a->callBacks->release) a->callBacks->release(nullptr, value);
}

bool valuesEqual(const __CFArray *a, const void *x, const void *y)
{
    if (x == y) return true;
    if (a->isStandard()) return CFEqual(x, y);
    return a->callBacks->equal ? a->callBacks->equal(x, y) : false;
}

void destroyArray(Object *object)
{
    auto *a = static_cast<__CFArray *>(object);
    for (uint32_t i = 0; i < a->count; ++i)
        releaseValue(a, a->values[i]);
    if (a->bits & __CFArray::kInline) {
        deleteObjectWithTail<__CFArray>(object);
        return;
    }
    std::free(a->values);
    deleteObject<__CFArray>(object);
}

bool equalArrays(const Object *x, const Object *y)
{
    auto *a = static_cast<const __CFArray *>(x);
    auto *b = static_cast<const __CFArray *>(y);
    if (a->count != b->count) return false;
    for (uint32_t i = 0; i < a->count; ++i)
        if (!valuesEqual(a, a->values[i], b->values[i])) return false;
    return true;
}

CFHashCode hashArray(const Object *object)
{
    return static_cast<const __CFArray *>(object)->count;
}

CFStringRef describeArray(const Object *object)
{
    return guarded<CFStringRef>(nullptr, [&] {
        std::u16string text;
        appendNestedDescription(text, object, true, 0);
        return createStringFromDescription(text);
    });
}

const __CFArray *checkArray(CFArrayRef array, const char *function)
{
    if (array == nullptr || typeOf(array) != kArrayTypeID) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not an array",
                      function);
        fatal(message);
    }
    return array;
}

__CFArray *checkMutable(CFMutableArrayRef array, const char *function)
{
    checkArray(array, function);
    if (!array->isMutable()) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with an immutable array", function);
        fatal(message);
    }
    return array;
}

void checkRange(const __CFArray *a, CFRange range, const char *function)
{
    if (range.location < 0 || range.length < 0 ||
        static_cast<uint64_t>(range.location) + static_cast<uint64_t>(range.length) > a->count) {
        char message[160];
        std::snprintf(message, sizeof message, "%s: range {%ld, %ld} out of bounds (count %u)",
                      function, range.location, range.length, a->count);
        fatal(message);
    }
}

void reserve(__CFArray *a, size_t needed)
{
    if (needed <= a->capacity) return;
    if (needed > 0x7FFFFFFF) fatal("array too large");
    size_t capacity = std::max<size_t>(needed, a->capacity < 4 ? 4 : a->capacity * 2);
    void  *grown    = std::realloc(a->values, capacity * sizeof(const void *));
    if (grown == nullptr) fatal("out of memory");
    a->values   = static_cast<const void **>(grown);
    a->capacity = static_cast<uint32_t>(capacity);
}

__CFArray *makeMutable(const CFArrayCallBacks *callBacks)
{
    bool                    standard = false;
    const CFArrayCallBacks *cb       = internCallBacks(callBacks, standard);
    if (cb == nullptr) return nullptr;
    uint8_t flags = __CFArray::kMutable | (standard ? __CFArray::kStandard : 0);
    return newObject<__CFArray>(flags, cb);
}

// An immutable array with room for count values inline.
__CFArray *makeImmutable(const CFArrayCallBacks *cb, bool standard, size_t count)
{
    if (count > 0x7FFFFFFF) return nullptr;
    uint8_t flags = __CFArray::kInline | (standard ? __CFArray::kStandard : 0);
    auto   *a     = newObjectWithTail<__CFArray>(count * sizeof(const void *), flags, cb);
    if (a == nullptr) return nullptr;
    a->values = reinterpret_cast<const void **>(reinterpret_cast<uint8_t *>(a) + sizeof(__CFArray));
    a->capacity = static_cast<uint32_t>(count);
    return a;
}

} // namespace

namespace vz {

const TypeClass kArrayClass = {"CFArray", destroyArray, equalArrays, hashArray, describeArray};

CFArrayRef createArrayAdopting(const void **values, size_t count, bool makeMutableArray) noexcept
{
    __CFArray *a = nullptr;
    if (makeMutableArray) {
        a = makeMutable(&kCFTypeArrayCallBacks);
        if (a != nullptr && count != 0) {
            a->values = static_cast<const void **>(std::malloc(count * sizeof(const void *)));
            if (a->values == nullptr) {
                releaseObject(a);
                a = nullptr;
            } else {
                a->capacity = static_cast<uint32_t>(count);
            }
        }
    } else {
        a = makeImmutable(&kCFTypeArrayCallBacks, true, count);
    }
    if (a == nullptr) {
        for (size_t i = 0; i < count; ++i)
            releaseObject(values[i]);
        return nullptr;
    }
    if (count != 0) std::memcpy(a->values, values, count * sizeof(const void *));
    a->count = static_cast<uint32_t>(count);
    return a;
}

std::span<const void *const> arrayValues(CFArrayRef array) noexcept
{
    return std::span<const void *const>(array->values, array->count);
}

bool isMutableContainer(CFTypeRef container) noexcept
{
    return (static_cast<const Object *>(container)->bits & 1) != 0; // kMutable in both kinds
}

bool hasStandardCallBacks(CFTypeRef container) noexcept
{
    if (typeOf(container) == kArrayTypeID) return static_cast<CFArrayRef>(container)->isStandard();
    return dictionaryHoldsObjects(static_cast<CFDictionaryRef>(container));
}

} // namespace vz

const CFArrayCallBacks kCFTypeArrayCallBacks = {0, retainCallBack, releaseCallBack,
                                                CFCopyDescription, CFEqual};

CFTypeID CFArrayGetTypeID(void) noexcept
{
    return kArrayTypeID;
}

CFArrayRef CFArrayCreate(CFAllocatorRef, const void **values, CFIndex numValues,
                         const CFArrayCallBacks *callBacks) noexcept
{
    if (numValues < 0 || (numValues > 0 && values == nullptr)) fatal("CFArrayCreate: bad values");
    bool                    standard = false;
    const CFArrayCallBacks *cb       = internCallBacks(callBacks, standard);
    if (cb == nullptr) return nullptr;
    __CFArray *a = makeImmutable(cb, standard, static_cast<size_t>(numValues));
    if (a == nullptr) return nullptr;
    for (CFIndex i = 0; i < numValues; ++i) {
        a->values[i] = retainValue(a, values[i]);
        a->count     = static_cast<uint32_t>(i + 1);
    }
    return a;
}

CFArrayRef CFArrayCreateCopy(CFAllocatorRef allocator, CFArrayRef theArray) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayCreateCopy");
    if (!a->isMutable()) {
        retainObject(a);
        return a;
    }
    return CFArrayCreate(allocator, a->values, a->count,
                         a->callBacks == &kNullCallBacks ? nullptr : a->callBacks);
}

CFMutableArrayRef CFArrayCreateMutable(CFAllocatorRef, CFIndex,
                                       const CFArrayCallBacks *callBacks) noexcept
{
    return makeMutable(callBacks);
}

CFMutableArrayRef CFArrayCreateMutableCopy(CFAllocatorRef, CFIndex, CFArrayRef theArray) noexcept
{
    const __CFArray *a    = checkArray(theArray, "CFArrayCreateMutableCopy");
    __CFArray       *copy = makeMutable(a->callBacks == &kNullCallBacks ? nullptr : a->callBacks);
    if (copy == nullptr) return nullptr;
    if (a->count != 0) {
        copy->values = static_cast<const void **>(std::malloc(a->count * sizeof(const void *)));
        if (copy->values == nullptr) {
            releaseObject(copy);
            return nullptr;
        }
        copy->capacity = a->count;
    }
    for (uint32_t i = 0; i < a->count; ++i) {
        copy->values[i] = retainValue(copy, a->values[i]);
        copy->count     = i + 1;
    }
    return copy;
}

CFIndex CFArrayGetCount(CFArrayRef theArray) noexcept
{
    return checkArray(theArray, "CFArrayGetCount")->count;
}

const void *CFArrayGetValueAtIndex(CFArrayRef theArray, CFIndex idx) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayGetValueAtIndex");
    checkRange(a, CFRangeMake(idx, 1), "CFArrayGetValueAtIndex");
    return a->values[idx];
}

void CFArrayGetValues(CFArrayRef theArray, CFRange range, const void **values) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayGetValues");
    checkRange(a, range, "CFArrayGetValues");
    if (range.length > 0)
        std::memcpy(values, a->values + range.location,
                    static_cast<size_t>(range.length) * sizeof(const void *));
}

CFIndex CFArrayGetCountOfValue(CFArrayRef theArray, CFRange range, const void *value) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayGetCountOfValue");
    checkRange(a, range, "CFArrayGetCountOfValue");
    CFIndex found = 0;
    for (CFIndex i = range.location; i < range.location + range.length; ++i)
        if (valuesEqual(a, a->values[i], value)) ++found;
    return found;
}

Boolean CFArrayContainsValue(CFArrayRef theArray, CFRange range, const void *value) noexcept
{
    return CFArrayGetFirstIndexOfValue(theArray, range, value) != kCFNotFound;
}

CFIndex CFArrayGetFirstIndexOfValue(CFArrayRef theArray, CFRange range, const void *value) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayGetFirstIndexOfValue");
    checkRange(a, range, "CFArrayGetFirstIndexOfValue");
    for (CFIndex i = range.location; i < range.location + range.length; ++i)
        if (valuesEqual(a, a->values[i], value)) return i;
    return kCFNotFound;
}

CFIndex CFArrayGetLastIndexOfValue(CFArrayRef theArray, CFRange range, const void *value) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayGetLastIndexOfValue");
    checkRange(a, range, "CFArrayGetLastIndexOfValue");
    for (CFIndex i = range.location + range.length - 1; i >= range.location; --i)
        if (valuesEqual(a, a->values[i], value)) return i;
    return kCFNotFound;
}

void CFArrayApplyFunction(CFArrayRef theArray, CFRange range, CFArrayApplierFunction applier,
                          void *context) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayApplyFunction");
    checkRange(a, range, "CFArrayApplyFunction");
    if (applier == nullptr) fatal("CFArrayApplyFunction called with a NULL function");
    for (CFIndex i = range.location; i < range.location + range.length; ++i)
        applier(a->values[i], context);
}

CFIndex CFArrayBSearchValues(CFArrayRef theArray, CFRange range, const void *value,
                             CFComparatorFunction comparator, void *context) noexcept
{
    const __CFArray *a = checkArray(theArray, "CFArrayBSearchValues");
    checkRange(a, range, "CFArrayBSearchValues");
    if (comparator == nullptr) fatal("CFArrayBSearchValues called with a NULL comparator");
    CFIndex low  = range.location;
    CFIndex high = range.location + range.length;
    while (low < high) {
        CFIndex middle = low + (high - low) / 2;
        if (comparator(a->values[middle], value, context) == kCFCompareLessThan)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

void CFArrayAppendValue(CFMutableArrayRef theArray, const void *value) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArrayAppendValue");
    reserve(a, a->count + 1u);
    a->values[a->count++] = retainValue(a, value);
}

void CFArrayInsertValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArrayInsertValueAtIndex");
    if (idx < 0 || static_cast<uint64_t>(idx) > a->count)
        fatal("CFArrayInsertValueAtIndex: index out of bounds");
    const void *stored = retainValue(a, value);
    reserve(a, a->count + 1u);
    std::memmove(a->values + idx + 1, a->values + idx, (a->count - idx) * sizeof(const void *));
    a->values[idx] = stored;
    ++a->count;
}

void CFArraySetValueAtIndex(CFMutableArrayRef theArray, CFIndex idx, const void *value) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArraySetValueAtIndex");
    if (idx < 0 || static_cast<uint64_t>(idx) > a->count)
        fatal("CFArraySetValueAtIndex: index out of bounds");
    if (static_cast<uint64_t>(idx) == a->count) {
        CFArrayAppendValue(theArray, value);
        return;
    }
    const void *stored = retainValue(a, value);
    const void *old    = a->values[idx];
    a->values[idx]     = stored;
    releaseValue(a, old);
}

void CFArrayRemoveValueAtIndex(CFMutableArrayRef theArray, CFIndex idx) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArrayRemoveValueAtIndex");
    checkRange(a, CFRangeMake(idx, 1), "CFArrayRemoveValueAtIndex");
    const void *old = a->values[idx];
    std::memmove(a->values + idx, a->values + idx + 1, (a->count - idx - 1) * sizeof(const void *));
    --a->count;
    releaseValue(a, old);
}

void CFArrayRemoveAllValues(CFMutableArrayRef theArray) noexcept
{
    __CFArray *a     = checkMutable(theArray, "CFArrayRemoveAllValues");
    uint32_t   count = a->count;
    a->count         = 0;
    for (uint32_t i = 0; i < count; ++i)
        releaseValue(a, a->values[i]);
}

void CFArrayReplaceValues(CFMutableArrayRef theArray, CFRange range, const void **newValues,
                          CFIndex newCount) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArrayReplaceValues");
    checkRange(a, range, "CFArrayReplaceValues");
    if (newCount < 0 || (newCount > 0 && newValues == nullptr))
        fatal("CFArrayReplaceValues: bad values");
    guardedVoid([&] {
        // Retain the new values before releasing the old, which may be the
        // same objects.
        std::vector<const void *> incoming(static_cast<size_t>(newCount));
        for (CFIndex i = 0; i < newCount; ++i)
            incoming[i] = retainValue(a, newValues[i]);
        std::vector<const void *> outgoing(a->values + range.location,
                                           a->values + range.location + range.length);
        size_t tail = a->count - static_cast<size_t>(range.location + range.length);
        reserve(a, a->count - range.length + newCount);
        std::memmove(a->values + range.location + newCount,
                     a->values + range.location + range.length, tail * sizeof(const void *));
        if (newCount > 0)
            std::memcpy(a->values + range.location, incoming.data(),
                        static_cast<size_t>(newCount) * sizeof(const void *));
        a->count = static_cast<uint32_t>(a->count - range.length + newCount);
        for (const void *old : outgoing)
            releaseValue(a, old);
    });
}

void CFArrayExchangeValuesAtIndices(CFMutableArrayRef theArray, CFIndex idx1, CFIndex idx2) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArrayExchangeValuesAtIndices");
    checkRange(a, CFRangeMake(idx1, 1), "CFArrayExchangeValuesAtIndices");
    checkRange(a, CFRangeMake(idx2, 1), "CFArrayExchangeValuesAtIndices");
    std::swap(a->values[idx1], a->values[idx2]);
}

void CFArraySortValues(CFMutableArrayRef theArray, CFRange range, CFComparatorFunction comparator,
                       void *context) noexcept
{
    __CFArray *a = checkMutable(theArray, "CFArraySortValues");
    checkRange(a, range, "CFArraySortValues");
    if (comparator == nullptr) fatal("CFArraySortValues called with a NULL comparator");
    // The range's values are fixed for the sort (only their order changes):
    // localised comparisons of its strings can compare sort keys.
    SortScope keys(a->values + range.location, static_cast<size_t>(range.length));
    guardedVoid([&] {
        std::stable_sort(a->values + range.location, a->values + range.location + range.length,
                         [&](const void *x, const void *y) {
                             return comparator(x, y, context) == kCFCompareLessThan;
                         });
    });
}

void CFArrayAppendArray(CFMutableArrayRef theArray, CFArrayRef otherArray,
                        CFRange otherRange) noexcept
{
    __CFArray       *a     = checkMutable(theArray, "CFArrayAppendArray");
    const __CFArray *other = checkArray(otherArray, "CFArrayAppendArray");
    checkRange(other, otherRange, "CFArrayAppendArray");
    guardedVoid([&] {
        std::vector<const void *> copy(other->values + otherRange.location,
                                       other->values + otherRange.location + otherRange.length);
        for (const void *value : copy)
            CFArrayAppendValue(a, value);
    });
}
