// SystemError.cpp: statuses for failed system calls, and their errno.
#include "SystemError.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cerrno>

namespace {

// The reason of the status statusFromErrno() made last on this thread.
struct Pending {
    int error  = 0;
    int status = kSCStatusOK;
};
thread_local Pending tPending;

} // namespace

namespace vz {

int statusFromErrno(int error) noexcept
{
    int status = (error == EACCES || error == EPERM || error == EROFS) ? kSCStatusAccessError
                                                                       : kSCStatusFailed;
    tPending   = Pending{error, status};
    return status;
}

int takeSystemError(int status) noexcept
{
    int error = tPending.status == status ? tPending.error : 0;
    tPending  = Pending{};
    return error;
}

} // namespace vz
