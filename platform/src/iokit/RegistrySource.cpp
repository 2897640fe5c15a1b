// RegistrySource.cpp: the registry of the current root, kept for as long as
// its source is unchanged.
#include "RegistrySource.h"

#include "LiveObjects.h"
#include "RegistrySnapshot.h"
#include "Root.h"
#include "SnapshotCache.h"
#include "SysfsRegistry.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>

#include <mutex>
#include <string>

namespace vz {

namespace {

// The last registry built from a snapshot, with the parsed tree it was built
// from. The snapshot cache hands out the same tree for as long as the file
// holds the same bytes, so an equal tree pointer means an unchanged file (the
// kept reference stops the address from being reused). Beside it, the live
// registry of the sysfs folder it was built from.
struct Kept {
    std::mutex                      mutex;
    std::string                     path;
    CFRef<CFDictionaryRef>          tree;
    std::shared_ptr<const Registry> registry;
    std::string                     sysfs;
    std::shared_ptr<const Registry> live;
};

void flushKept();

Kept &kept()
{
    static Kept *instance = [] {
        registerCacheFlusher(flushKept);
        return new Kept; // never destroyed: handles may outlive static destruction
    }();
    return *instance;
}

void flushKept()
{
    CFRef<CFDictionaryRef>          tree;
    std::shared_ptr<const Registry> registry, live;
    {
        std::lock_guard<std::mutex> hold(kept().mutex);
        tree     = std::move(kept().tree);
        registry = std::move(kept().registry);
        live     = std::move(kept().live);
        kept().path.clear();
        kept().sysfs.clear();
    }
    // Released here, outside the mutex.
}

// The running machine's registry, built once per process (and sysfs
// folder): a scan walks the registry three times and must see one machine
// in all three, and the build costs a few reads per port.
IOReturn loadLive(std::shared_ptr<const Registry> *registry)
{
    std::string folder = sysfsDirectory();
    Kept       &k      = kept();
    {
        std::lock_guard<std::mutex> hold(k.mutex);
        if (k.live && k.sysfs == folder) {
            *registry = k.live;
            return kIOReturnSuccess;
        }
    }
    std::shared_ptr<const Registry> built;
    if (IOReturn status = registryFromSysfs(folder, &built); status != kIOReturnSuccess)
        return status;
    std::shared_ptr<const Registry> old;
    {
        std::lock_guard<std::mutex> hold(k.mutex);
        old     = std::move(k.live);
        k.sysfs = folder;
        k.live  = built;
    }
    *registry = std::move(built);
    return kIOReturnSuccess;
}

IOReturn load(std::shared_ptr<const Registry> *registry)
{
    std::string            path = pathUnderRoot(kRegistrySnapshotFile);
    FileIdentity           identity;
    CFRef<CFDictionaryRef> tree;
    if (loadStoreSnapshot(path, &identity, &tree) != kSCStatusOK) return kIOReturnError;
    // A snapshot always wins: it is what a prepared root is for. Without
    // one, a live root is this machine.
    if (!identity.exists && isLiveRoot()) return loadLive(registry);

    Kept &k = kept();
    {
        std::lock_guard<std::mutex> hold(k.mutex);
        if (k.registry && k.path == path && k.tree.get() == tree.get()) {
            *registry = k.registry;
            return kIOReturnSuccess;
        }
    }
    std::shared_ptr<const Registry> built;
    if (IOReturn status = registryFromSnapshot(tree.get(), &built); status != kIOReturnSuccess)
        return status;
    CFRef<CFDictionaryRef>          oldTree;
    std::shared_ptr<const Registry> oldRegistry;
    {
        std::lock_guard<std::mutex> hold(k.mutex);
        oldTree     = std::move(k.tree);
        oldRegistry = std::move(k.registry);
        k.path      = path;
        k.tree      = tree;
        k.registry  = built;
    }
    *registry = std::move(built);
    return kIOReturnSuccess;
}

} // namespace

IOReturn loadRegistry(std::shared_ptr<const Registry> *registry) noexcept
{
    return guarded(kIOReturnNoMemory, [&] { return load(registry); });
}

} // namespace vz

IOReturn VZRegistryCreateSnapshot(CFDictionaryRef *tree) noexcept
{
    if (tree == nullptr) return kIOReturnBadArgument;
    *tree = nullptr;
    std::shared_ptr<const vz::Registry> registry;
    vz::CFRef<CFDictionaryRef>          root;
    IOReturn                            status = vz::loadRegistry(&registry);
    if (status == kIOReturnSuccess) status = vz::snapshotFromRegistry(*registry, &root);
    if (status == kIOReturnSuccess) *tree = root.release();
    return status;
}
