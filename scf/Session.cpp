// Session.cpp: the preferences session: the process-wide, nestable bracket
// around the one preferences object every operation of the model works on,
// the client name it is opened under, and the conversion of the platform's
// failures into error codes.
//
// Invariants, checked on entry to and exit from MoreSCOpen and MoreSCClose:
//
//   1. gPrefsOpenCount >= 0.
//   2. The object exists exactly while a bracket is open, with one exception:
//      right after a failed outermost open the depth is 1 and there is no
//      object, until the matching close.
//   3. gPrefsDirty and gPrefsLocked are only ever set while a bracket is
//      open on an object.
//
// The dirty flag is set by any bracket that closes as a successful writer and
// is cleared only by the outermost close, which commits and then applies. So
// an inner writer's change is kept even when an outer caller later fails; a
// failed commit is not retried, and a failed outermost writer commits nothing.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"

SCPreferencesRef gPrefsRef       = NULL;
SInt32           gPrefsOpenCount = 0;
Boolean          gPrefsLocked    = false;
Boolean          gPrefsDirty     = false;

static CFStringRef gClientName = NULL; // owned; NULL means the default name

static void AssertFlagsNeedAnOpenBracket(void) noexcept
{
    VZ_ASSERT(gPrefsOpenCount >= 0);
    VZ_ASSERT(!gPrefsDirty || (gPrefsOpenCount != 0));
    VZ_ASSERT(!gPrefsDirty || (gPrefsRef != NULL));
    VZ_ASSERT(!gPrefsLocked || (gPrefsOpenCount != 0));
    VZ_ASSERT(!gPrefsLocked || (gPrefsRef != NULL));
}

OSStatus MoreSCOpen(Boolean lockThePrefs, Boolean waitForLock) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(!waitForLock || lockThePrefs);
    AssertFlagsNeedAnOpenBracket();
    VZ_ASSERT((gPrefsOpenCount == 0) == (gPrefsRef == NULL));

    // With the lock held every level below has what it needs.
    if (!gPrefsLocked) {
        if (gPrefsOpenCount == 0) {
            gPrefsRef = SCPreferencesCreate(
                NULL, (gClientName != NULL) ? gClientName : CFSTR("VaviVAZ"), NULL);
            err = MoreSCError(gPrefsRef);
        }
        // A nested open may take the lock the outer one did not; it is then
        // held until the outermost close.
        if (err == noErr && lockThePrefs) {
            err          = MoreSCErrorBoolean(SCPreferencesLock(gPrefsRef, waitForLock));
            gPrefsLocked = (err == noErr);
        }
    }
    gPrefsOpenCount += 1;

    VZ_ASSERT(gPrefsOpenCount > 0);
    AssertFlagsNeedAnOpenBracket();
    VZ_ASSERT(((gPrefsOpenCount == 1) && (err != noErr) && (gPrefsRef == NULL)) ||
              (gPrefsRef != NULL));
    return err;
}

void MoreSCClose(OSStatus *err, Boolean commit) noexcept
{
    OSStatus closeErr = noErr; // the first failure of commit, then apply
    Boolean  junkBool = false;

    VZ_ASSERT(err != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0);
    VZ_ASSERT(((gPrefsOpenCount == 1) && (*err != noErr) && (gPrefsRef == NULL)) ||
              (gPrefsRef != NULL));
    VZ_ASSERT(!gPrefsDirty || (gPrefsRef != NULL));
    VZ_ASSERT(!gPrefsLocked || (gPrefsRef != NULL));

    if (commit && *err == noErr) gPrefsDirty = true;
    gPrefsOpenCount -= 1;
    if (gPrefsOpenCount == 0) {
        if (gPrefsDirty) {
            // Apply hands the committed store to the running system, so it
            // must never run after a failed commit.
            closeErr = MoreSCErrorBoolean(SCPreferencesCommitChanges(gPrefsRef));
            if (closeErr == noErr)
                closeErr = MoreSCErrorBoolean(SCPreferencesApplyChanges(gPrefsRef));
            if (*err == noErr) *err = closeErr;
            gPrefsDirty = false;
        }
        if (gPrefsLocked) {
            junkBool = SCPreferencesUnlock(gPrefsRef);
            VZ_ASSERT(junkBool);
            gPrefsLocked = false;
        }
        CFQRelease(gPrefsRef);
        gPrefsRef = NULL;
    }

    AssertFlagsNeedAnOpenBracket();
    VZ_ASSERT((gPrefsOpenCount == 0) == (gPrefsRef == NULL));
}

SCPreferencesRef MoreSCGetSCPreferencesRef(void) noexcept
{
    VZ_ASSERT(gPrefsOpenCount >= 0);
    VZ_ASSERT(gPrefsRef != NULL);
    return gPrefsRef;
}

OSStatus MoreSCSetClient(CFStringRef clientName) noexcept
{
    // Retain first: setting the name already held must not free it.
    CFQRetain(clientName);
    CFQRelease(gClientName);
    gClientName = clientName;
    return noErr;
}

CFStringRef MoreSCGetClient(void) noexcept
{
    return gClientName;
}

OSStatus MoreSCErrorBoolean(Boolean success) noexcept
{
    OSStatus err = noErr;

    if (!success) {
        err = MoreSCToOSStatus(SCError());
        if (err == noErr) err = kSCStatusFailed;
    }
    return err;
}

OSStatus MoreSCError(const void *object) noexcept
{
    return MoreSCErrorBoolean(object != NULL);
}

OSStatus MoreSCToOSStatus(OSStatus status) noexcept
{
    return status;
}
