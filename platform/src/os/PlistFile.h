// PlistFile.h: reading a property-list file straight into objects.
//
// The file is opened and bounded as every whole-file read is (WholeFile.h),
// then read whole straight into the parser's own buffer, never copied once
// more, and parsed in one call; the pages of it already parsed go back to
// the system during the parse, so reading a large file costs about the
// larger of its bytes and its tree, not both. A refusal found after pages
// went back is read once more holding the file, for its line and column.
// A file that changes while it is read (its metadata
// before and after differ, or its size is not what was read) is read again
// from the start, as readWholeFile() does.
#ifndef VZ_PLATFORM_PLISTFILE_H
#define VZ_PLATFORM_PLISTFILE_H

#include "Runtime.h"

#include <CoreFoundation/CoreFoundation.h>

#include <string>

namespace vz {

// Reads the property list in the file at path with the mutability option
// (as CFPropertyListCreateFromXMLData takes it). 0 with *result the tree;
// an errno of the read as readWholeFile() gives them (ENOENT, EISDIR,
// EINVAL, EFBIG, EAGAIN, ENOMEM, or the errno of a failed call); or EBADMSG
// when the text is not a property list, with *message (when not null)
// saying why, as the reader words it.
[[nodiscard]] int readPropertyListFile(const std::string &path, CFOptionFlags mutabilityOption,
                                       CFRef<CFPropertyListRef> *result,
                                       std::string              *message) noexcept;

} // namespace vz

#endif
