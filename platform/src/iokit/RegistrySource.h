// RegistrySource.h: where the registry of the current root comes from.
//
// That is the root's snapshot file (kRegistrySnapshotFile, format in
// IOKitLib.h), read through the snapshot cache and turned into a Registry
// once per version of the file: a call that finds the file unchanged gets the
// registry of the last one. A missing file is a registry of a bare root,
// except on a live root (Root.h): there the registry is the running
// machine's, built from sysfs (SysfsRegistry.h) once per process. Each source describes its
// tree to a RegistryBuilder (Registry.h); the IOKit calls never see which
// source answered.
//
// VZFlushPlatformCaches() drops the registries kept here; handles keep theirs.
#ifndef VZ_PLATFORM_REGISTRYSOURCE_H
#define VZ_PLATFORM_REGISTRYSOURCE_H

#include "Registry.h"

#include <IOKit/IOReturn.h>

#include <memory>

namespace vz {

// kIOReturnSuccess with the registry; kIOReturnError when the snapshot cannot
// be read or parsed or describes no registry (RegistrySnapshot.h);
// kIOReturnNoMemory.
[[nodiscard]] IOReturn loadRegistry(std::shared_ptr<const Registry> *registry) noexcept;

} // namespace vz

#endif
