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
//   4. gPrefsMarkedDepth and gPrefsKeptDepth lie between 0 and the depth,
//      and the object holds exactly gPrefsMarkedDepth marks, one for each of
//      the outermost levels.
//
// The dirty flag is set by any bracket that closes as a successful writer and
// is cleared only by the outermost close, which commits and then applies. So
// an inner writer's change is kept even when an outer caller later fails; a
// failed commit is not retried, and a failed outermost writer commits nothing.
//
// Every level marks the snapshot as its open found it (VZPreferencesPushMark),
// and a writer that fails puts it back at its close: inside a caller's bracket
// too, a failed operation leaves nothing that the caller's next successful
// writer would commit. The one exception is the rule above: a level inside
// which a writer closed successfully keeps that writer's change, and so
// restores nothing (gPrefsKeptDepth counts those levels); the model's own
// operations therefore make their steps through the in-bracket bodies of the
// public writers (Internal.h), while a caller built on the public writers,
// such as a recipe, keeps the ones that succeeded before it failed. A caller
// whose change is all or nothing abandons the outermost bracket instead
// (MoreSCAbandon): back to the outermost mark, kept changes and all, with the
// dirty flag cleared, so that its close neither commits nor applies.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"

SCPreferencesRef gPrefsRef       = NULL;
SInt32           gPrefsOpenCount = 0;
Boolean          gPrefsLocked    = false;
Boolean          gPrefsDirty     = false;

// The outermost levels that hold a mark in gPrefsRef (a level whose mark
// could not be pushed fails to open, and so do the levels inside it), and the
// outermost levels inside which a writer closed successfully.
static SInt32 gPrefsMarkedDepth = 0;
static SInt32 gPrefsKeptDepth   = 0;

static CFStringRef gClientName = NULL; // owned; NULL means the default name

// The invariants, in the order in which they are checked. The object rule
// (2) is left out at the end of MoreSCOpen, where its exception is checked.
static void AssertInvariants(Boolean withObjectRule) noexcept
{
    VZ_ASSERT(gPrefsOpenCount >= 0);
    if (withObjectRule) VZ_ASSERT((gPrefsOpenCount == 0) == (gPrefsRef == NULL));
    VZ_ASSERT(!gPrefsDirty || (gPrefsOpenCount != 0));
    VZ_ASSERT(!gPrefsDirty || (gPrefsRef != NULL));
    VZ_ASSERT(!gPrefsLocked || (gPrefsOpenCount != 0));
    VZ_ASSERT(!gPrefsLocked || (gPrefsRef != NULL));
    VZ_ASSERT(0 <= gPrefsMarkedDepth && gPrefsMarkedDepth <= gPrefsOpenCount);
    VZ_ASSERT(0 <= gPrefsKeptDepth && gPrefsKeptDepth <= gPrefsOpenCount);
}

OSStatus MoreSCOpen(Boolean lockThePrefs, Boolean waitForLock) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(!waitForLock || lockThePrefs);
    AssertInvariants(true);

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
    // A level that could not be put back at its close must not edit at all.
    if (gPrefsRef != NULL) {
        if (gPrefsMarkedDepth == gPrefsOpenCount && VZPreferencesPushMark(gPrefsRef)) {
            gPrefsMarkedDepth += 1;
        } else if (err == noErr) {
            err = (gPrefsMarkedDepth == gPrefsOpenCount) ? MoreSCErrorBoolean(false)
                                                         : static_cast<OSStatus>(kSCStatusFailed);
        }
    }
    gPrefsOpenCount += 1;

    VZ_ASSERT(gPrefsOpenCount > 0);
    AssertInvariants(false);
    VZ_ASSERT(((gPrefsOpenCount == 1) && (err != noErr) && (gPrefsRef == NULL)) ||
              (gPrefsRef != NULL));
    return err;
}

void MoreSCClose(OSStatus *err, Boolean commit) noexcept
{
    OSStatus closeErr  = noErr; // the first failure of commit, then apply
    Boolean  junkBool  = false;
    Boolean  succeeded = false; // a writer without error

    VZ_ASSERT(err != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0);
    VZ_ASSERT(((gPrefsOpenCount == 1) && (*err != noErr) && (gPrefsRef == NULL)) ||
              (gPrefsRef != NULL));
    VZ_ASSERT(!gPrefsDirty || (gPrefsRef != NULL));
    VZ_ASSERT(!gPrefsLocked || (gPrefsRef != NULL));

    succeeded = commit && (*err == noErr);
    if (succeeded) gPrefsDirty = true;
    if (gPrefsMarkedDepth == gPrefsOpenCount) {
        // A restore that cannot finish leaves the object refusing to commit:
        // what it was to undo is never written.
        (void)VZPreferencesPopMark(gPrefsRef,
                                   commit && !succeeded && (gPrefsOpenCount > gPrefsKeptDepth));
        gPrefsMarkedDepth -= 1;
    }
    gPrefsOpenCount -= 1;
    if (succeeded || gPrefsKeptDepth > gPrefsOpenCount) gPrefsKeptDepth = gPrefsOpenCount;
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

    AssertInvariants(true);
}

OSStatus MoreSCAbandon(void) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(gPrefsOpenCount == 1);
    AssertInvariants(false);

    // The outermost mark is the snapshot as the open read it. It is pushed
    // again at once, so that the bracket can go on as though just opened; a
    // level that cannot be marked refuses to open (MoreSCOpen), so without
    // the mark nothing more is edited.
    if (gPrefsMarkedDepth == 1) {
        err               = MoreSCErrorBoolean(VZPreferencesPopMark(gPrefsRef, true));
        gPrefsMarkedDepth = 0;
        if (err == noErr) {
            if (VZPreferencesPushMark(gPrefsRef)) {
                gPrefsMarkedDepth = 1;
            } else {
                err = MoreSCErrorBoolean(false);
            }
        }
    }
    // A restore that could not finish leaves the object refusing to commit;
    // either way the close has nothing to commit or apply.
    gPrefsDirty     = false;
    gPrefsKeptDepth = 0;

    AssertInvariants(false);
    return err;
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
