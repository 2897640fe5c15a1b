// StoreFile.h: property-list files whose top level is a dictionary (the
// preferences store, the dynamic store, the system version file), read whole
// and written atomically.
#ifndef VZ_PLATFORM_STOREFILE_H
#define VZ_PLATFORM_STOREFILE_H

#include "Runtime.h"
#include "WholeFile.h"

#include <span>
#include <string>

namespace vz {

class PlistReader;

// The dictionary an XML property list holds; empty when the bytes are not a
// property list or hold something other than a dictionary at the top. The
// tree is immutable.
CFRef<CFDictionaryRef> parseDictionary(std::span<const uint8_t> bytes) noexcept;
// The same of the count bytes a read put into the reader's own buffer
// (readWholeFile() with the reader's room), parsed where they are.
CFRef<CFDictionaryRef> parseDictionary(PlistReader &reader, size_t count) noexcept;

// Reads the dictionary file at path. Returns a status: 0 with the file's
// identity and tree (an empty dictionary and exists false when there is no
// file), 1003 when the file cannot be opened or read for lack of access, 1001
// when it cannot be read otherwise (a folder where the file should be) or
// does not hold a dictionary.
[[nodiscard]] int readDictionaryFile(const std::string &path, FileIdentity *identity,
                                     CFRef<CFDictionaryRef> *root) noexcept;

// The XML text of a tree; empty when the tree holds something XML cannot
// carry.
CFRef<CFDataRef> serializeDictionary(CFDictionaryRef root) noexcept;

// A new empty immutable dictionary, or empty on allocation failure.
CFRef<CFDictionaryRef> emptyDictionary() noexcept;

} // namespace vz

#endif
