// Internal.h: the catalogue's own state and steps that its white-box tests
// reach: the default script's name and the listing of one folder.
#ifndef VZ_CCL_INTERNAL_H
#define VZ_CCL_INTERNAL_H

#include "VaviVAZCCLScanner.h"

#include <CoreServices/CoreServices.h>

// The default script's name, one reference held; NULL until it is set or
// chosen.
extern CFStringRef gDefaultCCL;

// Appends to array the names of the scripts directly inside the folder ref,
// in the order the file system lists them; stray items are skipped (see
// VaviVAZCCLScanner.h). Errors: -108 the listing buffers, -4960 a name's
// string, the File Manager's status when the folder cannot be opened or read
// (or an item cannot be examined for want of memory). Names appended before
// an error stay in the array.
OSStatus AddCCLsInFolderToArray(const FSRef *ref, CFMutableArrayRef array) noexcept;

#endif
