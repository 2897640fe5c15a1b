// SystemError.cpp: statuses for failed system calls.
#include "SystemError.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cerrno>

namespace vz {

int statusFromErrno(int error) noexcept
{
    if (error == EACCES || error == EPERM || error == EROFS) return kSCStatusAccessError;
    return kSCStatusFailed;
}

} // namespace vz
