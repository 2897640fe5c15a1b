// SystemError.h: the status a store reports for a failed system call.
#ifndef VZ_PLATFORM_SYSTEMERROR_H
#define VZ_PLATFORM_SYSTEMERROR_H

namespace vz {

// A store status for a failed system call: 1003 for a refused access
// (EACCES, EPERM, EROFS), 1001 for anything else.
int statusFromErrno(int error) noexcept;

} // namespace vz

#endif
