// RegistrySource.h: where the registry of the current root comes from.
//
// Today that is the root's snapshot file (kRegistrySnapshotFile, format in
// IOKitLib.h), read through the snapshot cache and turned into a Registry
// once per version of the file: a call that finds the file unchanged gets the
// registry of the last one. A missing file is a registry of a bare root.
//
// Another source plugs in here, beside the snapshot: it describes its tree to
// a RegistryBuilder (Registry.h) and hands the registry out the same way; the
// IOKit calls never see which source answered.
//
// VZFlushPlatformCaches() drops the registry kept here; handles keep theirs.
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
