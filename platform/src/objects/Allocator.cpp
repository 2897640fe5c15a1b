// Allocator.cpp: the allocators. Every allocator hands out malloc memory,
// except kCFAllocatorNull, which allocates nothing and frees nothing (the
// NoCopy constructors use it to borrow bytes). Blocks honour the allocation
// failure switch so that callers' out-of-memory paths can be tested.
#include "Runtime.h"

#include <cstdlib>

struct __CFAllocator : vz::Object {
    bool isNull;
    constexpr explicit __CFAllocator(bool null) noexcept
        : Object(vz::kAllocatorTypeID, 0, ImmortalTag{}), isNull(null)
    {
    }
};

namespace vz {

const TypeClass kAllocatorClass = {"CFAllocator", [](Object *) {}, nullptr, nullptr, nullptr};

} // namespace vz

namespace {

constinit __CFAllocator gSystemAllocator(false);
constinit __CFAllocator gMallocAllocator(false);
constinit __CFAllocator gNullAllocator(true);

bool isNullAllocator(CFAllocatorRef allocator)
{
    return allocator == &gNullAllocator;
}

} // namespace

const CFAllocatorRef kCFAllocatorDefault       = nullptr;
const CFAllocatorRef kCFAllocatorSystemDefault = &gSystemAllocator;
const CFAllocatorRef kCFAllocatorMalloc        = &gMallocAllocator;
const CFAllocatorRef kCFAllocatorNull          = &gNullAllocator;

CFAllocatorRef CFAllocatorGetDefault(void) noexcept
{
    return kCFAllocatorSystemDefault;
}
CFTypeID CFAllocatorGetTypeID(void) noexcept
{
    return vz::kAllocatorTypeID;
}

void *CFAllocatorAllocate(CFAllocatorRef allocator, CFIndex size, CFOptionFlags) noexcept
{
    if (isNullAllocator(allocator) || size <= 0) return nullptr;
    if (!vz::allocationAllowed()) return nullptr;
    return std::malloc(static_cast<size_t>(size));
}

void *CFAllocatorReallocate(CFAllocatorRef allocator, void *ptr, CFIndex newsize,
                            CFOptionFlags hint) noexcept
{
    if (isNullAllocator(allocator)) return nullptr;
    if (ptr == nullptr) return CFAllocatorAllocate(allocator, newsize, hint);
    if (newsize <= 0) {
        std::free(ptr);
        return nullptr;
    }
    if (!vz::allocationAllowed()) return nullptr;
    return std::realloc(ptr, static_cast<size_t>(newsize));
}

void CFAllocatorDeallocate(CFAllocatorRef allocator, void *ptr) noexcept
{
    if (isNullAllocator(allocator) || ptr == nullptr) return;
    std::free(ptr);
}
