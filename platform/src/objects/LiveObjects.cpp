// LiveObjects.cpp: the live-object count, the allocation failure switch and
// the registry of cache flushers, with their test-facing entry points.
#include "LiveObjects.h"

#include <VZPlatformTesting.h>

#include <mutex>
#include <vector>

namespace vz {

std::atomic<long> gLiveObjects{0};

namespace {

// The failure switch. countdown < 0: disarmed.
std::atomic<long> gFailCountdown{-1};
std::atomic<bool> gFailPersist{false};
std::atomic<long> gFailuresHit{0};
thread_local int  tExemptions = 0;

std::mutex &flusherMutex()
{
    static std::mutex *mutex = new std::mutex;
    return *mutex;
}
std::vector<void (*)()> &flushers()
{
    static auto *list = new std::vector<void (*)()>;
    return *list;
}

} // namespace

AllocationFailureExemption::AllocationFailureExemption() noexcept { ++tExemptions; }
AllocationFailureExemption::~AllocationFailureExemption() { --tExemptions; }

bool allocationAllowed() noexcept
{
    if (tExemptions != 0) return true;
    long countdown = gFailCountdown.load(std::memory_order_relaxed);
    if (countdown < 0) return true;
    if (countdown > 0) {
        gFailCountdown.fetch_sub(1, std::memory_order_relaxed);
        return true;
    }
    if (!gFailPersist.load(std::memory_order_relaxed)) gFailCountdown.store(-1);
    gFailuresHit.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void registerCacheFlusher(void (*flush)()) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(flusherMutex());
        flushers().push_back(flush);
    } catch (...) {
    }
}

} // namespace vz

CFIndex VZGetLiveObjectCount(void) noexcept
{
    return vz::gLiveObjects.load();
}

void VZFlushPlatformCaches(void) noexcept
{
    std::vector<void (*)()> copy;
    try {
        std::lock_guard<std::mutex> lock(vz::flusherMutex());
        copy = vz::flushers();
    } catch (...) {
        return;
    }
    for (auto flush : copy)
        flush();
}

void VZArmAllocationFailure(long countdown, Boolean persist) noexcept
{
    vz::gFailuresHit.store(0);
    vz::gFailPersist.store(persist != 0);
    vz::gFailCountdown.store(countdown < 0 ? 0 : countdown);
}

void VZClearAllocationFailure(void) noexcept
{
    vz::gFailCountdown.store(-1);
    vz::gFailPersist.store(false);
}

long VZGetAllocationFailureCount(void) noexcept
{
    return vz::gFailuresHit.load();
}
