// SystemError.h: the status a store reports for a failed system call, and
// the system's reason behind it.
//
// statusFromErrno() is the one place where a failed call of the stores
// (reading, locking, writing, syncing, renaming) becomes a status, so it also
// keeps the call's errno, per thread, beside the status it made. When an
// entry point then reports that status (sc/SCError.h), it takes the errno
// with it, and the tools can say what happened in the system's words ("no
// space left on the device") where the status alone says only that
// something failed.
#ifndef VZ_PLATFORM_SYSTEMERROR_H
#define VZ_PLATFORM_SYSTEMERROR_H

namespace vz {

// A store status for a failed system call: 1003 for a refused access
// (EACCES, EPERM, EROFS), 1001 for anything else. Keeps error as the reason
// of that status until takeSystemError().
int statusFromErrno(int error) noexcept;

// The errno that made status, when statusFromErrno() made it since the last
// take, else 0; forgets it either way, so that a later failure without a
// system call behind it is never given an earlier one's reason.
int takeSystemError(int status) noexcept;

} // namespace vz

#endif
