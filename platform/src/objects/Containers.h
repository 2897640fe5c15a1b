// Containers.h: the internal faces of arrays, dictionaries, numbers, data and
// dates that the property-list reader, writer and deep copy use to build and
// walk trees without a retain and release per value.
#ifndef VZ_PLATFORM_CONTAINERS_H
#define VZ_PLATFORM_CONTAINERS_H

#include "Runtime.h"

#include <cstdint>
#include <span>

namespace vz {

// Arrays and dictionaries made with the standard object callbacks, adopting
// the references passed in: each value (and key) arrives with one reference
// that the container takes over, and on failure the function releases them
// all itself. A dictionary keeps the last value of a key given twice (its
// place is the first's); with keysInterned, the caller promises that equal
// keys are one object (as the property-list reader's are), and a repeated
// key is found by its address. nullptr when allocation fails.
CFArrayRef      createArrayAdopting(const void **values, size_t count, bool makeMutable) noexcept;
CFDictionaryRef createDictionaryAdopting(const void **keys, const void **values, size_t count,
                                         bool makeMutable, bool keysInterned = false) noexcept;

// Borrowed views of a container's contents, in enumeration order, valid while
// the container is unchanged.
std::span<const void *const> arrayValues(CFArrayRef array) noexcept;
struct DictionaryEntry {
    const void *key;
    const void *value;
};
std::span<const DictionaryEntry> dictionaryEntries(CFDictionaryRef dict) noexcept;
bool isMutableContainer(CFTypeRef container) noexcept; // array or dictionary
// True when the container's callbacks hold objects (the standard records, or
// copied string keys), so that its contents may be walked as objects.
bool hasStandardCallBacks(CFTypeRef container) noexcept;
bool dictionaryHoldsObjects(CFDictionaryRef dict) noexcept;

// Numbers: integers of up to 64 bits (unsigned above the signed range) and
// reals.
enum class NumberKind : uint8_t { Signed, Unsigned, Real };
CFNumberRef createSignedNumber(int64_t value) noexcept;
CFNumberRef createUnsignedNumber(uint64_t value) noexcept; // Signed when it fits
CFNumberRef createRealNumber(double value) noexcept;
struct NumberValue {
    NumberKind kind;
    union {
        int64_t  i;
        uint64_t u;
        double   d;
    };
};
NumberValue numberValue(CFNumberRef number) noexcept;

bool isMutableData(CFDataRef data) noexcept;

} // namespace vz

#endif
