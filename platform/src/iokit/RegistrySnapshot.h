// RegistrySnapshot.h: the registry a snapshot file describes (the format is
// in IOKitLib.h), built from the file's parsed tree, and the tree that
// describes a registry, from which a snapshot file is written.
#ifndef VZ_PLATFORM_REGISTRYSNAPSHOT_H
#define VZ_PLATFORM_REGISTRYSNAPSHOT_H

#include "Registry.h"

#include <IOKit/IOReturn.h>

namespace vz {

// kIOReturnSuccess with the registry, or kIOReturnError when an entry has
// another shape: a class that is missing (below the root) or not a string, a
// name that is not a string, children that are not an array of
// dictionaries. kIOReturnNoMemory when the registry cannot be made.
[[nodiscard]] IOReturn registryFromSnapshot(CFDictionaryRef                  root,
                                            std::shared_ptr<const Registry> *registry) noexcept;

// kIOReturnSuccess with the snapshot tree of the registry (every entry with
// its class, its own name when it has one, its properties and its children),
// which registryFromSnapshot() turns back into an equal registry; or
// kIOReturnNoMemory.
[[nodiscard]] IOReturn snapshotFromRegistry(const Registry         &registry,
                                            CFRef<CFDictionaryRef> *root) noexcept;

} // namespace vz

#endif
