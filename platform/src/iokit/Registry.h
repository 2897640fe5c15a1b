// Registry.h: the device registry as a value: a tree of entries, each with a
// class, a name and properties, whatever it was loaded from. Loaders (the
// snapshot file, RegistrySnapshot.h) describe the tree to a RegistryBuilder;
// the IOKit calls read the Registry it makes.
//
// Invariants:
//   1. Entries are stored in registry order (depth first, children in
//      order); entry 0 is the root. The subtree of entry i is the range
//      [i, subtreeEnd(i)), so its children are i + 1, then subtreeEnd of the
//      previous child, up to subtreeEnd(i).
//   2. A registry never changes once built. Handles share it, so a handle
//      stays valid, and answers as before, after the file it came from
//      changed.
//   3. Every class name is held once (classIndex), so that matching decides
//      conformance once per class, not once per entry.
//   4. The reserved keys of the snapshot format (kRegistryClassKey,
//      kRegistryNameKey, kRegistryChildrenKey) are never properties, even
//      when a loader hands over a dictionary that holds them.
#ifndef VZ_PLATFORM_REGISTRY_H
#define VZ_PLATFORM_REGISTRY_H

#include "Runtime.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vz {

inline constexpr const char *kRegistryClassKey    = "IOObjectClass";
inline constexpr const char *kRegistryNameKey     = "IORegistryEntryName";
inline constexpr const char *kRegistryChildrenKey = "IORegistryEntryChildren";
// The class of a root that names none.
inline constexpr const char *kRegistryRootClass = "IORegistryEntry";

class Registry {
  public:
    using Index                      = uint32_t;
    static constexpr Index kNoParent = UINT32_MAX;

    size_t size() const noexcept { return entries_.size(); }
    Index  parent(Index entry) const noexcept { return entries_[entry].parent; }
    Index  subtreeEnd(Index entry) const noexcept { return entries_[entry].subtreeEnd; }

    CFStringRef        className(Index entry) const noexcept;
    const std::string &classNameUTF8(Index entry) const noexcept;
    uint32_t           classIndex(Index entry) const noexcept { return entries_[entry].classIndex; }
    size_t             classCount() const noexcept { return classes_.size(); }
    const std::string &classUTF8(uint32_t classIndex) const noexcept
    {
        return classes_[classIndex].utf8;
    }
    bool conformsTo(Index entry, std::string_view className) const noexcept;

    // The entry's own name, or its class name.
    CFStringRef name(Index entry) const noexcept;
    // The entry's own name; NULL when the class names it.
    CFStringRef ownName(Index entry) const noexcept { return entries_[entry].name.get(); }

    // The property under key, borrowed; NULL when there is none.
    CFTypeRef property(Index entry, CFStringRef key) const noexcept;
    // A new mutable dictionary of the entry's properties; NULL when it cannot
    // be made.
    CFMutableDictionaryRef copyProperties(Index entry) const noexcept;

  private:
    friend class RegistryBuilder;

    struct ClassName {
        CFRef<CFStringRef> name;
        std::string        utf8;
    };
    struct Entry {
        Index                  parent     = kNoParent;
        Index                  subtreeEnd = 0;
        uint32_t               classIndex = 0;
        CFRef<CFStringRef>     name; // empty: the class name
        CFRef<CFDictionaryRef> properties;
    };

    std::vector<ClassName> classes_;
    std::vector<Entry>     entries_;
};

// Collects entries in any order (each after its parent) and lays them out in
// registry order. The root exists from the start, as entry 0.
class RegistryBuilder {
  public:
    RegistryBuilder(); // may throw std::bad_alloc

    // Sets the root's class (kRegistryRootClass when NULL), name (may be NULL)
    // and properties (may be NULL).
    void setRoot(CFStringRef className, CFStringRef name,
                 CFDictionaryRef properties); // may throw std::bad_alloc
    // Adds an entry as the last child of parent; returns its index for later
    // addEntry calls. name may be NULL (the entry is named by its class);
    // properties may be NULL (none).
    Registry::Index addEntry(Registry::Index parent, CFStringRef className, CFStringRef name,
                             CFDictionaryRef properties); // may throw std::bad_alloc

    // The registry; the builder is spent.
    std::shared_ptr<const Registry> finish(); // may throw std::bad_alloc

  private:
    struct Node {
        CFRef<CFStringRef>           className;
        CFRef<CFStringRef>           name;
        CFRef<CFDictionaryRef>       properties;
        std::vector<Registry::Index> children;
    };
    std::vector<Node> nodes_;
};

} // namespace vz

#endif
