// FileErrors.h: the File Manager status of a failed system call.
#ifndef VZ_PLATFORM_FILEERRORS_H
#define VZ_PLATFORM_FILEERRORS_H

#include <CoreServices/Files.h>

namespace vz {

// ENOENT and ELOOP (a link that leads nowhere, or round in a circle) are
// fnfErr, ENOTDIR dirNFErr, EACCES and EPERM afpAccessDenied, ENAMETOOLONG
// bdNamErr, ENOMEM memFullErr; anything else is ioErr.
OSErr fileErrorFromErrno(int error) noexcept;

} // namespace vz

#endif
