// Matching.h: the entries of a registry that a matching dictionary selects.
//
// A matching dictionary selects the entries that conform to the class under
// kIOProviderClassKey (every entry when it has none) and whose properties
// equal each of its other values (CFEqual: numbers by value). The class is
// decided once per distinct class of the registry.
#ifndef VZ_PLATFORM_MATCHING_H
#define VZ_PLATFORM_MATCHING_H

#include "Registry.h"

#include <IOKit/IOReturn.h>

#include <vector>

namespace vz {

// kIOReturnSuccess with the selected entries in registry order, or
// kIOReturnBadArgument when the class is not a string.
[[nodiscard]] IOReturn findMatchingEntries(const Registry &registry, CFDictionaryRef matching,
                                           std::vector<Registry::Index> *entries);
// may throw std::bad_alloc

} // namespace vz

#endif
