// Dictionary.cpp: dictionaries.
//
// Entries live in one array in insertion order, which is the enumeration
// order: replacing a value keeps the entry's place, removing an entry closes
// the gap. Up to kLinearLimit entries a lookup scans the array (most
// dictionaries of a network store hold a handful of keys); above it an
// open-addressing index (linear probing) of entry positions is kept beside
// the array. Adding an entry adds one slot; removing one takes its slot out
// by shifting the rest of its probe run back (no deletion markers) and
// renumbers the positions behind it, without hashing the other keys again.
//
// The callback records are interned: a dictionary holds one pointer to a
// shared key-and-value record. Standard object callbacks take a fast path.
#include "Containers.h"
#include "Description.h"
#include "StringStorage.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

namespace {

struct CallBackPair {
    CFDictionaryKeyCallBacks   keys;
    CFDictionaryValueCallBacks values;
};

} // namespace

struct __CFDictionary : vz::Object {
    enum : uint8_t {
        kMutable        = 1,
        kStandardKeys   = 2,
        kStandardValues = 4,
        kInline         = 8,
        kObjectKeys     = 16 // keys are objects: the standard or the copy-string record
    };
    const CallBackPair  *callBacks;
    uint32_t             count     = 0;
    uint32_t             capacity  = 0;
    uint32_t             indexSize = 0; // 0: no index
    vz::DictionaryEntry *entries   = nullptr;
    uint32_t            *index     = nullptr;

    __CFDictionary(uint8_t flags, const CallBackPair *cb) noexcept
        : Object(vz::kDictionaryTypeID, flags), callBacks(cb)
    {
    }
    bool isMutable() const noexcept { return (bits & kMutable) != 0; }
    bool standardKeys() const noexcept { return (bits & kStandardKeys) != 0; }
    bool standardValues() const noexcept { return (bits & kStandardValues) != 0; }
};

using namespace vz;

namespace {

constexpr uint32_t kLinearLimit = 8;
constexpr uint32_t kEmptySlot   = 0xFFFFFFFFu;

const void *retainCallBack(CFAllocatorRef, const void *value)
{
    return CFRetain(value);
}
void releaseCallBack(CFAllocatorRef, const void *value)
{
    CFRelease(value);
}
const void *copyStringCallBack(CFAllocatorRef, const void *value)
{
    return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(value));
}

constexpr CFDictionaryKeyCallBacks   kNullKeyCallBacks   = {0,       nullptr, nullptr,
                                                            nullptr, nullptr, nullptr};
constexpr CFDictionaryValueCallBacks kNullValueCallBacks = {0, nullptr, nullptr, nullptr, nullptr};

std::mutex &internMutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}

const CallBackPair *internCallBacks(const CFDictionaryKeyCallBacks   *keys,
                                    const CFDictionaryValueCallBacks *values, uint8_t &flags)
{
    CallBackPair pair{keys ? *keys : kNullKeyCallBacks, values ? *values : kNullValueCallBacks};
    if (std::memcmp(&pair.keys, &kCFTypeDictionaryKeyCallBacks, sizeof pair.keys) == 0)
        flags |= __CFDictionary::kStandardKeys | __CFDictionary::kObjectKeys;
    if (std::memcmp(&pair.keys, &kCFCopyStringDictionaryKeyCallBacks, sizeof pair.keys) == 0)
        flags |= __CFDictionary::kObjectKeys;
    if (std::memcmp(&pair.values, &kCFTypeDictionaryValueCallBacks, sizeof pair.values) == 0)
        flags |= __CFDictionary::kStandardValues;
    static auto *records = new std::vector<const CallBackPair *>;
    return guarded<const CallBackPair *>(nullptr, [&]() -> const CallBackPair * {
        std::lock_guard<std::mutex> lock(internMutex());
        for (auto *record : *records)
            if (std::memcmp(record, &pair, sizeof pair) == 0) return record;
        auto copy = std::make_unique<CallBackPair>(pair);
        records->push_back(copy.get());
        return copy.release();
    });
}

const CallBackPair *standardCallBacks()
{
    static const CallBackPair *pair = [] {
        uint8_t flags = 0;
        return internCallBacks(&kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks,
                               flags);
    }();
    return pair;
}

CFHashCode hashKey(const __CFDictionary *d, const void *key)
{
    if (d->standardKeys()) {
        if (typeOf(key) == kStringTypeID) return stringHash(static_cast<CFStringRef>(key));
        return CFHash(key);
    }
    if (d->callBacks->keys.hash) return d->callBacks->keys.hash(key);
    return reinterpret_cast<CFHashCode>(key);
}

bool keysEqual(const __CFDictionary *d, const void *a, const void *b)
{
    if (a == b) return true;
    if (d->standardKeys()) {
        if (typeOf(a) == kStringTypeID && typeOf(b) == kStringTypeID)
            return stringsEqual(static_cast<CFStringRef>(a), static_cast<CFStringRef>(b));
        return CFEqual(a, b);
    }
    return d->callBacks->keys.equal ? d->callBacks->keys.equal(a, b) : false;
}

bool valuesEqual(const __CFDictionary *d, const void *a, const void *b)
{
    if (a == b) return true;
    if (d->standardValues()) return CFEqual(a, b);
    return d->callBacks->values.equal ? d->callBacks->values.equal(a, b) : false;
}

const void *retainKey(const __CFDictionary *d, const void *key)
{
    if (d->standardKeys()) {
        if (key == nullptr) fatal("NULL key added to a dictionary of objects");
        retainObject(key);
        return key;
    }
    return d->callBacks->keys.retain ? d->callBacks->keys.retain(nullptr, key) : key;
}

const void *retainValue(const __CFDictionary *d, const void *value)
{
    if (d->standardValues()) {
        if (value == nullptr) fatal("NULL value added to a dictionary of objects");
        retainObject(value);
        return value;
    }
    return d->callBacks->values.retain ? d->callBacks->values.retain(nullptr, value) : value;
}

void releaseKey(const __CFDictionary *d, const void *key)
{
    if (d->standardKeys())
        releaseObject(key);
    else if (d->callBacks->keys.release)
        d->callBacks->keys.release(nullptr, key);
}

void releaseValue(const __CFDictionary *d, const void *value)
{
    if (d->standardValues())
        releaseObject(value);
    else if (d->callBacks->values.release)
        d->callBacks->values.release(nullptr, value);
}

uint32_t indexSizeFor(uint32_t count)
{
    uint32_t size = 16;
    while (size < count * 2)
        size *= 2;
    return size;
}

// Fills the index from the entries; index must have indexSize slots.
void fillIndex(__CFDictionary *d)
{
    std::memset(d->index, 0xFF, d->indexSize * sizeof(uint32_t));
    uint32_t mask = d->indexSize - 1;
    for (uint32_t i = 0; i < d->count; ++i) {
        uint32_t slot = static_cast<uint32_t>(hashKey(d, d->entries[i].key)) & mask;
        while (d->index[slot] != kEmptySlot)
            slot = (slot + 1) & mask;
        d->index[slot] = i;
    }
}

// Brings a mutable dictionary's index in line with its entries.
void rebuildIndex(__CFDictionary *d)
{
    if (d->count <= kLinearLimit) {
        std::free(d->index);
        d->index     = nullptr;
        d->indexSize = 0;
        return;
    }
    uint32_t size = indexSizeFor(d->count);
    if (size != d->indexSize) {
        std::free(d->index);
        d->index = static_cast<uint32_t *>(std::malloc(size * sizeof(uint32_t)));
        if (d->index == nullptr) fatal("out of memory");
        d->indexSize = size;
    }
    fillIndex(d);
}

// The position of key among the entries, or -1, keys compared by equal: a
// scan of a small dictionary, a probe of the index of a larger one.
template <typename Equal> long findEntryBy(const __CFDictionary *d, const void *key, Equal equal)
{
    if (d->indexSize == 0) {
        for (uint32_t i = 0; i < d->count; ++i)
            if (equal(d->entries[i].key, key)) return i;
        return -1;
    }
    uint32_t mask = d->indexSize - 1;
    uint32_t slot = static_cast<uint32_t>(hashKey(d, key)) & mask;
    for (;;) {
        uint32_t entry = d->index[slot];
        if (entry == kEmptySlot) return -1;
        if (equal(d->entries[entry].key, key)) return entry;
        slot = (slot + 1) & mask;
    }
}

// The position of key among the entries, or -1.
long findEntry(const __CFDictionary *d, const void *key)
{
    return findEntryBy(d, key, [d](const void *a, const void *b) { return keysEqual(d, a, b); });
}

void appendEntry(__CFDictionary *d, const void *key, const void *value)
{
    if (d->count == d->capacity) {
        uint32_t capacity = d->capacity < 4 ? 4 : d->capacity * 2;
        void    *grown    = std::realloc(d->entries, capacity * sizeof(DictionaryEntry));
        if (grown == nullptr) fatal("out of memory");
        d->entries  = static_cast<DictionaryEntry *>(grown);
        d->capacity = capacity;
    }
    d->entries[d->count++] = DictionaryEntry{key, value};
    if (d->count > kLinearLimit && (d->indexSize == 0 || d->count * 2 > d->indexSize)) {
        rebuildIndex(d);
        return;
    }
    if (d->indexSize != 0) {
        uint32_t mask = d->indexSize - 1;
        uint32_t slot = static_cast<uint32_t>(hashKey(d, key)) & mask;
        while (d->index[slot] != kEmptySlot)
            slot = (slot + 1) & mask;
        d->index[slot] = d->count - 1;
    }
}

// Whether slot lies cyclically in (from, to].
bool cyclicallyBetween(uint32_t from, uint32_t slot, uint32_t to)
{
    return from <= to ? (from < slot && slot <= to) : (from < slot || slot <= to);
}

// Takes the entry at position out of the index, before the entries move:
// its slot is emptied and every later slot of the same probe run whose home
// lies outside (hole, slot] moves back into the hole, so that every key
// stays reachable from its home; then the positions behind it drop by one.
void unindexEntry(__CFDictionary *d, uint32_t position)
{
    uint32_t mask = d->indexSize - 1;
    uint32_t hole = static_cast<uint32_t>(hashKey(d, d->entries[position].key)) & mask;
    while (d->index[hole] != position)
        hole = (hole + 1) & mask;
    for (uint32_t slot = (hole + 1) & mask; d->index[slot] != kEmptySlot;
         slot          = (slot + 1) & mask) {
        uint32_t home = static_cast<uint32_t>(hashKey(d, d->entries[d->index[slot]].key)) & mask;
        if (cyclicallyBetween(hole, home, slot)) continue;
        d->index[hole] = d->index[slot];
        hole           = slot;
    }
    d->index[hole] = kEmptySlot;
    for (uint32_t i = 0; i < d->indexSize; ++i)
        if (d->index[i] != kEmptySlot && d->index[i] > position) --d->index[i];
}

void removeEntryAt(__CFDictionary *d, uint32_t position)
{
    DictionaryEntry old = d->entries[position];
    if (d->indexSize != 0) unindexEntry(d, position);
    std::memmove(d->entries + position, d->entries + position + 1,
                 (d->count - position - 1) * sizeof(DictionaryEntry));
    --d->count;
    if (d->indexSize != 0 && d->count <= kLinearLimit) rebuildIndex(d);
    releaseKey(d, old.key);
    releaseValue(d, old.value);
}

void destroyDictionary(Object *object)
{
    auto *d = static_cast<__CFDictionary *>(object);
    if (d->standardKeys() && d->standardValues()) {
        // Every tree read from a file: no callbacks to consult per entry.
        for (uint32_t i = 0; i < d->count; ++i) {
            releaseObject(d->entries[i].key);
            releaseObject(d->entries[i].value);
        }
    } else {
        for (uint32_t i = 0; i < d->count; ++i) {
            releaseKey(d, d->entries[i].key);
            releaseValue(d, d->entries[i].value);
        }
    }
    if (d->bits & __CFDictionary::kInline) {
        deleteObjectWithTail<__CFDictionary>(object);
        return;
    }
    std::free(d->entries);
    std::free(d->index);
    deleteObject<__CFDictionary>(object);
}

bool equalDictionaries(const Object *x, const Object *y)
{
    auto *a = static_cast<const __CFDictionary *>(x);
    auto *b = static_cast<const __CFDictionary *>(y);
    if (a->count != b->count) return false;
    for (uint32_t i = 0; i < a->count; ++i) {
        long j = findEntry(b, a->entries[i].key);
        if (j < 0 || !valuesEqual(a, a->entries[i].value, b->entries[j].value)) return false;
    }
    return true;
}

CFHashCode hashDictionary(const Object *object)
{
    return static_cast<const __CFDictionary *>(object)->count;
}

CFStringRef describeDictionary(const Object *object)
{
    return guarded<CFStringRef>(nullptr, [&] {
        std::u16string text;
        appendNestedDescription(text, object, true, 0);
        return createStringFromDescription(text);
    });
}

const __CFDictionary *checkDictionary(CFDictionaryRef dict, const char *function)
{
    if (dict == nullptr || typeOf(dict) != kDictionaryTypeID) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not a dictionary",
                      function);
        fatal(message);
    }
    return dict;
}

__CFDictionary *checkMutable(CFMutableDictionaryRef dict, const char *function)
{
    checkDictionary(dict, function);
    if (!dict->isMutable()) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with an immutable dictionary", function);
        fatal(message);
    }
    return dict;
}

// An immutable dictionary with room for count entries (and their index) in
// one block.
__CFDictionary *makeImmutable(const CallBackPair *cb, uint8_t flags, size_t count)
{
    if (count > 0x3FFFFFFF) return nullptr;
    uint32_t indexSize = count > kLinearLimit ? indexSizeFor(static_cast<uint32_t>(count)) : 0;
    size_t   tail      = count * sizeof(DictionaryEntry) + indexSize * sizeof(uint32_t);
    auto *d = newObjectWithTail<__CFDictionary>(tail, uint8_t(flags | __CFDictionary::kInline), cb);
    if (d == nullptr) return nullptr;
    auto *base = reinterpret_cast<uint8_t *>(d) + sizeof(__CFDictionary);
    d->entries = reinterpret_cast<DictionaryEntry *>(base);
    d->index =
        indexSize ? reinterpret_cast<uint32_t *>(base + count * sizeof(DictionaryEntry)) : nullptr;
    d->indexSize = indexSize;
    d->capacity  = static_cast<uint32_t>(count);
    if (indexSize != 0) std::memset(d->index, 0xFF, indexSize * sizeof(uint32_t));
    return d;
}

// The entry of a key among keys that are one object per text: the same
// search as findEntry(), by address.
long findInternedEntry(const __CFDictionary *d, const void *key)
{
    return findEntryBy(d, key, [](const void *a, const void *b) { return a == b; });
}

// Adds an entry to a dictionary under construction (immutable, inline),
// keeping the first place and the last value of a repeated key. The key and
// value arrive retained.
void addWhileBuilding(__CFDictionary *d, const void *key, const void *value,
                      bool keysInterned = false)
{
    long existing = keysInterned ? findInternedEntry(d, key) : findEntry(d, key);
    if (existing >= 0) {
        releaseKey(d, key);
        releaseValue(d, d->entries[existing].value);
        d->entries[existing].value = value;
        return;
    }
    d->entries[d->count++] = DictionaryEntry{key, value};
    if (d->indexSize != 0) {
        uint32_t mask = d->indexSize - 1;
        uint32_t slot = static_cast<uint32_t>(hashKey(d, key)) & mask;
        while (d->index[slot] != kEmptySlot)
            slot = (slot + 1) & mask;
        d->index[slot] = d->count - 1;
    }
}

__CFDictionary *makeMutable(const CFDictionaryKeyCallBacks   *keys,
                            const CFDictionaryValueCallBacks *values)
{
    uint8_t             flags = __CFDictionary::kMutable;
    const CallBackPair *cb    = internCallBacks(keys, values, flags);
    if (cb == nullptr) return nullptr;
    return newObject<__CFDictionary>(flags, cb);
}

const CFDictionaryKeyCallBacks *keyRecordOf(const __CFDictionary *d)
{
    return std::memcmp(&d->callBacks->keys, &kNullKeyCallBacks, sizeof kNullKeyCallBacks) == 0
               ? nullptr
               : &d->callBacks->keys;
}
const CFDictionaryValueCallBacks *valueRecordOf(const __CFDictionary *d)
{
    return std::memcmp(&d->callBacks->values, &kNullValueCallBacks, sizeof kNullValueCallBacks) == 0
               ? nullptr
               : &d->callBacks->values;
}

} // namespace

namespace vz {

const TypeClass kDictionaryClass = {"CFDictionary", destroyDictionary, equalDictionaries,
                                    hashDictionary, describeDictionary};

CFDictionaryRef createDictionaryAdopting(const void **keys, const void **values, size_t count,
                                         bool makeMutableDictionary, bool keysInterned) noexcept
{
    const CallBackPair *cb    = standardCallBacks();
    uint8_t             flags = __CFDictionary::kStandardKeys | __CFDictionary::kObjectKeys |
                    __CFDictionary::kStandardValues;
    __CFDictionary *d = nullptr;
    if (cb != nullptr) {
        if (makeMutableDictionary) {
            d = newObject<__CFDictionary>(uint8_t(flags | __CFDictionary::kMutable), cb);
        } else {
            d = makeImmutable(cb, flags, count);
        }
    }
    if (d == nullptr) {
        for (size_t i = 0; i < count; ++i) {
            releaseObject(keys[i]);
            releaseObject(values[i]);
        }
        return nullptr;
    }
    if (makeMutableDictionary) {
        for (size_t i = 0; i < count; ++i) {
            long existing = findEntry(d, keys[i]);
            if (existing >= 0) {
                releaseObject(keys[i]);
                releaseObject(d->entries[existing].value);
                d->entries[existing].value = values[i];
            } else {
                appendEntry(d, keys[i], values[i]);
            }
        }
        return d;
    }
    for (size_t i = 0; i < count; ++i)
        addWhileBuilding(d, keys[i], values[i], keysInterned);
    return d;
}

bool dictionaryHoldsObjects(CFDictionaryRef dict) noexcept
{
    constexpr uint8_t both = __CFDictionary::kObjectKeys | __CFDictionary::kStandardValues;
    return (dict->bits & both) == both;
}

std::span<const DictionaryEntry> dictionaryEntries(CFDictionaryRef dict) noexcept
{
    return std::span<const DictionaryEntry>(dict->entries, dict->count);
}

} // namespace vz

const CFDictionaryKeyCallBacks kCFTypeDictionaryKeyCallBacks = {
    0, retainCallBack, releaseCallBack, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryKeyCallBacks kCFCopyStringDictionaryKeyCallBacks = {
    0, copyStringCallBack, releaseCallBack, CFCopyDescription, CFEqual, CFHash};
const CFDictionaryValueCallBacks kCFTypeDictionaryValueCallBacks = {
    0, retainCallBack, releaseCallBack, CFCopyDescription, CFEqual};

CFTypeID CFDictionaryGetTypeID(void) noexcept
{
    return kDictionaryTypeID;
}

CFDictionaryRef CFDictionaryCreate(CFAllocatorRef, const void **keys, const void **values,
                                   CFIndex numValues, const CFDictionaryKeyCallBacks *keyCallBacks,
                                   const CFDictionaryValueCallBacks *valueCallBacks) noexcept
{
    if (numValues < 0 || (numValues > 0 && (keys == nullptr || values == nullptr)))
        fatal("CFDictionaryCreate: bad keys or values");
    uint8_t             flags = 0;
    const CallBackPair *cb    = internCallBacks(keyCallBacks, valueCallBacks, flags);
    if (cb == nullptr) return nullptr;
    __CFDictionary *d = makeImmutable(cb, flags, static_cast<size_t>(numValues));
    if (d == nullptr) return nullptr;
    for (CFIndex i = 0; i < numValues; ++i)
        addWhileBuilding(d, retainKey(d, keys[i]), retainValue(d, values[i]));
    return d;
}

CFDictionaryRef CFDictionaryCreateCopy(CFAllocatorRef, CFDictionaryRef theDict) noexcept
{
    const __CFDictionary *d = checkDictionary(theDict, "CFDictionaryCreateCopy");
    if (!d->isMutable()) {
        retainObject(d);
        return d;
    }
    uint8_t         flags = d->bits & (__CFDictionary::kStandardKeys | __CFDictionary::kObjectKeys |
                               __CFDictionary::kStandardValues);
    __CFDictionary *copy  = makeImmutable(d->callBacks, flags, d->count);
    if (copy == nullptr) return nullptr;
    for (uint32_t i = 0; i < d->count; ++i)
        addWhileBuilding(copy, retainKey(copy, d->entries[i].key),
                         retainValue(copy, d->entries[i].value));
    return copy;
}

CFMutableDictionaryRef
CFDictionaryCreateMutable(CFAllocatorRef, CFIndex, const CFDictionaryKeyCallBacks *keyCallBacks,
                          const CFDictionaryValueCallBacks *valueCallBacks) noexcept
{
    return makeMutable(keyCallBacks, valueCallBacks);
}

CFMutableDictionaryRef CFDictionaryCreateMutableCopy(CFAllocatorRef, CFIndex,
                                                     CFDictionaryRef theDict) noexcept
{
    const __CFDictionary *d    = checkDictionary(theDict, "CFDictionaryCreateMutableCopy");
    __CFDictionary       *copy = makeMutable(keyRecordOf(d), valueRecordOf(d));
    if (copy == nullptr) return nullptr;
    if (d->count != 0) {
        copy->entries =
            static_cast<DictionaryEntry *>(std::malloc(d->count * sizeof(DictionaryEntry)));
        if (copy->entries == nullptr) {
            releaseObject(copy);
            return nullptr;
        }
        copy->capacity = d->count;
    }
    for (uint32_t i = 0; i < d->count; ++i)
        copy->entries[i] = DictionaryEntry{retainKey(copy, d->entries[i].key),
                                           retainValue(copy, d->entries[i].value)};
    copy->count = d->count;
    rebuildIndex(copy);
    return copy;
}

CFIndex CFDictionaryGetCount(CFDictionaryRef theDict) noexcept
{
    return checkDictionary(theDict, "CFDictionaryGetCount")->count;
}

CFIndex CFDictionaryGetCountOfKey(CFDictionaryRef theDict, const void *key) noexcept
{
    return findEntry(checkDictionary(theDict, "CFDictionaryGetCountOfKey"), key) >= 0 ? 1 : 0;
}

CFIndex CFDictionaryGetCountOfValue(CFDictionaryRef theDict, const void *value) noexcept
{
    const __CFDictionary *d     = checkDictionary(theDict, "CFDictionaryGetCountOfValue");
    CFIndex               found = 0;
    for (uint32_t i = 0; i < d->count; ++i)
        if (valuesEqual(d, d->entries[i].value, value)) ++found;
    return found;
}

Boolean CFDictionaryContainsKey(CFDictionaryRef theDict, const void *key) noexcept
{
    return findEntry(checkDictionary(theDict, "CFDictionaryContainsKey"), key) >= 0;
}

Boolean CFDictionaryContainsValue(CFDictionaryRef theDict, const void *value) noexcept
{
    return CFDictionaryGetCountOfValue(theDict, value) != 0;
}

const void *CFDictionaryGetValue(CFDictionaryRef theDict, const void *key) noexcept
{
    const __CFDictionary *d        = checkDictionary(theDict, "CFDictionaryGetValue");
    long                  position = findEntry(d, key);
    return position >= 0 ? d->entries[position].value : nullptr;
}

Boolean CFDictionaryGetValueIfPresent(CFDictionaryRef theDict, const void *key,
                                      const void **value) noexcept
{
    const __CFDictionary *d        = checkDictionary(theDict, "CFDictionaryGetValueIfPresent");
    long                  position = findEntry(d, key);
    if (position < 0) return false;
    if (value != nullptr) *value = d->entries[position].value;
    return true;
}

void CFDictionaryGetKeysAndValues(CFDictionaryRef theDict, const void **keys,
                                  const void **values) noexcept
{
    const __CFDictionary *d = checkDictionary(theDict, "CFDictionaryGetKeysAndValues");
    for (uint32_t i = 0; i < d->count; ++i) {
        if (keys != nullptr) keys[i] = d->entries[i].key;
        if (values != nullptr) values[i] = d->entries[i].value;
    }
}

void CFDictionaryApplyFunction(CFDictionaryRef theDict, CFDictionaryApplierFunction applier,
                               void *context) noexcept
{
    const __CFDictionary *d = checkDictionary(theDict, "CFDictionaryApplyFunction");
    if (applier == nullptr) fatal("CFDictionaryApplyFunction called with a NULL function");
    for (uint32_t i = 0; i < d->count; ++i)
        applier(d->entries[i].key, d->entries[i].value, context);
}

void CFDictionaryAddValue(CFMutableDictionaryRef theDict, const void *key,
                          const void *value) noexcept
{
    __CFDictionary *d = checkMutable(theDict, "CFDictionaryAddValue");
    if (findEntry(d, key) >= 0) return;
    appendEntry(d, retainKey(d, key), retainValue(d, value));
}

void CFDictionarySetValue(CFMutableDictionaryRef theDict, const void *key,
                          const void *value) noexcept
{
    __CFDictionary *d        = checkMutable(theDict, "CFDictionarySetValue");
    long            position = findEntry(d, key);
    if (position < 0) {
        appendEntry(d, retainKey(d, key), retainValue(d, value));
        return;
    }
    const void *stored         = retainValue(d, value);
    const void *old            = d->entries[position].value;
    d->entries[position].value = stored;
    releaseValue(d, old);
}

void CFDictionaryReplaceValue(CFMutableDictionaryRef theDict, const void *key,
                              const void *value) noexcept
{
    __CFDictionary *d        = checkMutable(theDict, "CFDictionaryReplaceValue");
    long            position = findEntry(d, key);
    if (position < 0) return;
    const void *stored         = retainValue(d, value);
    const void *old            = d->entries[position].value;
    d->entries[position].value = stored;
    releaseValue(d, old);
}

void CFDictionaryRemoveValue(CFMutableDictionaryRef theDict, const void *key) noexcept
{
    __CFDictionary *d        = checkMutable(theDict, "CFDictionaryRemoveValue");
    long            position = findEntry(d, key);
    if (position >= 0) removeEntryAt(d, static_cast<uint32_t>(position));
}

void CFDictionaryRemoveAllValues(CFMutableDictionaryRef theDict) noexcept
{
    __CFDictionary                    *d     = checkMutable(theDict, "CFDictionaryRemoveAllValues");
    uint32_t                           count = d->count;
    std::unique_ptr<DictionaryEntry[]> old;
    // Release after the dictionary is empty, so a release that reaches back
    // into it sees a consistent state.
    old.reset(new (std::nothrow) DictionaryEntry[count ? count : 1]);
    if (old == nullptr) fatal("out of memory");
    if (count != 0) std::memcpy(old.get(), d->entries, count * sizeof(DictionaryEntry));
    d->count = 0;
    rebuildIndex(d);
    for (uint32_t i = 0; i < count; ++i) {
        releaseKey(d, old[i].key);
        releaseValue(d, old[i].value);
    }
}
