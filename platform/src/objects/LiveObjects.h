// LiveObjects.h: the process-wide count of live objects and the allocation
// failure switch.
//
// Every object's constructor counts itself in and its destructor out;
// immortal constants count themselves out when they become immortal. Tests
// compare the count before and after each test, so a leaked reference or a
// double release shows as a failure.
//
// The failure switch makes the Nth next allocation fail, so that tests can
// walk every error path of a Create function (the way expat's allocation tests
// do). It is checked by newObject() and by CFAllocatorAllocate.
#ifndef VZ_PLATFORM_LIVEOBJECTS_H
#define VZ_PLATFORM_LIVEOBJECTS_H

#include <atomic>

namespace vz {

extern std::atomic<long> gLiveObjects;

inline void countObjectIn() noexcept
{
    gLiveObjects.fetch_add(1, std::memory_order_relaxed);
}
inline void countObjectOut() noexcept
{
    gLiveObjects.fetch_sub(1, std::memory_order_relaxed);
}

// False when an armed failure fires for this allocation.
bool allocationAllowed() noexcept;

// While one of these lives, allocations on this thread never fail on purpose:
// for objects the platform makes for itself and cannot report a failure of
// (the immortal constants of CFSTR).
class AllocationFailureExemption {
public:
    AllocationFailureExemption() noexcept;
    ~AllocationFailureExemption();
    AllocationFailureExemption(const AllocationFailureExemption &)            = delete;
    AllocationFailureExemption &operator=(const AllocationFailureExemption &) = delete;
};

// Registers a function that drops whatever objects a cache keeps alive;
// VZFlushPlatformCaches() calls them all.
void registerCacheFlusher(void (*flush)()) noexcept;

} // namespace vz

#endif
