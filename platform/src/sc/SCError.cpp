// SCError.cpp: SCError, SCErrorString, and the per-thread last status with
// the system's reason behind it.
#include "SCError.h"

#include "SystemError.h"

#include <SystemConfiguration/SystemConfiguration.h>
#include <VZPlatformTools.h>

namespace {

thread_local int tLastStatus      = kSCStatusOK;
thread_local int tLastSystemError = 0;

} // namespace

namespace vz {

void setSCError(int status) noexcept
{
    tLastStatus      = status;
    tLastSystemError = takeSystemError(status);
}

} // namespace vz

int VZGetLastSystemError(void) noexcept
{
    return tLastSystemError;
}

int SCError(void) noexcept
{
    return tLastStatus;
}

const char *SCErrorString(int status) noexcept
{
    switch (status) {
    case kSCStatusOK:
        return "no error";
    case kSCStatusFailed:
        return "the operation failed";
    case kSCStatusInvalidArgument:
        return "an argument is not valid";
    case kSCStatusAccessError:
        return "access to a file was refused";
    case kSCStatusNoKey:
        return "nothing is stored at that key or path";
    case kSCStatusKeyExists:
        return "the key is already in use";
    case kSCStatusLocked:
        return "the lock is already held";
    case kSCStatusNeedLock:
        return "the operation needs the lock";
    case kSCStatusNoStoreSession:
        return "no dynamic store session";
    case kSCStatusNoPrefsSession:
        return "no preferences session";
    case kSCStatusPrefsBusy:
        return "another writer holds the preferences lock";
    case kSCStatusNoConfigFile:
        return "the configuration file does not exist";
    case kSCStatusNoLink:
        return "the entry is not a link";
    case kSCStatusStale:
        return "the store changed since this snapshot was taken";
    case kSCStatusMaxLink:
        return "links nested too deeply, or a cycle of links";
    default:
        return "unknown status";
    }
}
