// FileErrors.cpp: errno to File Manager status.
#include "FileErrors.h"

#include <cerrno>

namespace vz {

OSErr fileErrorFromErrno(int error) noexcept
{
    switch (error) {
    case ENOENT:
    case ELOOP:
        return fnfErr;
    case ENOTDIR:
        return dirNFErr;
    case EACCES:
    case EPERM:
        return afpAccessDenied;
    case ENAMETOOLONG:
        return bdNamErr;
    case ENOMEM:
        return memFullErr;
    default:
        return ioErr;
    }
}

} // namespace vz
