// SCError.h: the status of the last failed call of the SystemConfiguration
// subset, per thread, with the errno of the system call behind it when there
// was one (os/SystemError.h maps system errors onto statuses).
//
// Every entry point that fails records its status here before returning NULL
// or false; a successful call leaves the last failure in place, so callers
// read SCError() only right after a failure, as they do on the platform.
#ifndef VZ_PLATFORM_SCERROR_H
#define VZ_PLATFORM_SCERROR_H

namespace vz {

// Records the status of a failure, and takes the errno that made it.
void setSCError(int status) noexcept;

// Records status and returns false, for the Boolean entry points.
inline bool failWith(int status) noexcept
{
    setSCError(status);
    return false;
}

} // namespace vz

#endif
