// CreateDelete.cpp: new set and service IDs, linking a service into a set,
// copying a service or a whole set, deleting services and sets, and the sweep
// of shared services that no set refers to any more.
//
// Invariants this file keeps:
//
//   1. A shared service lives as long as some set links to it (every entry
//      of a set's order reaches its service through a link): every delete
//      that succeeds ends with the sweep.
//   2. The composite operations do their steps through the in-bracket forms
//      of the public writers, so only their own close marks the session as
//      a writer, and only on success.
//   3. A failed operation leaves the snapshot as it found it: with no writer
//      closing successfully inside it (2), its bracket puts back everything
//      its steps did (Session.cpp). Nothing here removes by hand what a
//      failed step made, so no clean-up can itself fail half way, or depend
//      on a sweep that a set elsewhere in the store makes fail.
//
// New IDs: the store chooses them (SCPreferencesPathCreateUniqueChild),
// except on 10.2.x systems, whose store is not relied on for that: there new
// children are numbered, one above the largest key under the parent that
// reads as a decimal number, 0 under an empty or missing parent.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

// Numbers new children on every system version when true (for trying the
// numbering on a store without changing the system version).
static const Boolean kForceUseOfWorkAround = false;

static Boolean UseNumberedChildren(void) noexcept
{
    return kForceUseOfWorkAround || MoreSCIsTenTwo();
}

// ---------------------------------------------------------------------------
// New children.

// Applied to every entry of the parent: raises *context (an SInt32, starting
// at the smallest value) to the entry's key when the key is at most 15 ASCII
// characters, starts with a decimal digit and reads wholly as a decimal
// number that fits 32 bits. Every other entry is skipped.
static void LargestNumericKey(const void *key, const void *value, void *context) noexcept
{
    SInt32 *largest = static_cast<SInt32 *>(context);
    char    text[16];
    char   *end    = NULL;
    long    number = 0;

    (void)value;
    // Keys read from a store file are strings; one of another kind can only
    // come from a dictionary built in memory, and is not a number either.
    if (CFGetTypeID(key) == CFStringGetTypeID() &&
        CFStringGetCString(static_cast<CFStringRef>(key), text, sizeof(text),
                           kCFStringEncodingASCII) &&
        text[0] >= '0' && text[0] <= '9') {
        errno  = 0;
        number = strtol(text, &end, 10);
        // The 32-bit range is checked by hand: long is wider here than on
        // the system's target, where strtol reports such a key as ERANGE.
        if (errno == 0 && *end == '\0' && number <= INT32_MAX && number > *largest) {
            *largest = static_cast<SInt32>(number);
        }
    }
}

// The 10.2.x scheme: a new empty child of parentPath numbered one above the
// largest numeric key there.
static OSStatus CreateNumberedChild(CFStringRef parentPath, CFStringRef *childPath) noexcept
{
    OSStatus               err         = noErr;
    CFDictionaryRef        parent      = NULL; // borrowed from the snapshot, or emptyParent
    CFMutableDictionaryRef emptyParent = NULL; // owned
    CFMutableDictionaryRef child       = NULL; // owned
    CFStringRef            result      = NULL; // owned until handed over
    SInt32                 largest     = INT32_MIN;

    VZ_ASSERT(childPath != NULL);
    VZ_ASSERT(*childPath == NULL);

    parent = SCPreferencesPathGetValue(gPrefsRef, parentPath);
    if (parent == NULL) {
        // Nothing stored there yet: the first child is numbered 0.
        if (SCError() == kSCStatusNoKey) {
            err    = CFQDictionaryCreateMutable(&emptyParent);
            parent = emptyParent;
        } else {
            err = MoreSCErrorBoolean(false);
        }
    }
    // A parent that is itself a link (one the store could not follow) gets
    // no child.
    if (err == noErr && (CFGetTypeID(parent) != CFDictionaryGetTypeID() ||
                         CFDictionaryContainsKey(parent, kSCResvLink))) {
        err = MoreSCErrorBoolean(false);
    }
    if (err == noErr) {
        CFDictionaryApplyFunction(parent, LargestNumericKey, &largest);
        if (largest == INT32_MIN) largest = -1;
        // No number is left above the largest one.
        if (largest == INT32_MAX) err = MoreSCErrorBoolean(false);
    }
    if (err == noErr) {
        result = CFStringCreateWithFormat(NULL, NULL, CFSTR("%@/%i"), parentPath,
                                          static_cast<int>(largest + 1));
        err    = CFQError(result);
    }
    if (err == noErr) err = CFQDictionaryCreateMutable(&child);
    if (err == noErr) err = MoreSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef, result, child));
    if (err == noErr) {
        *childPath = result;
        result     = NULL;
    }

    CFQRelease(result);
    CFQRelease(child);
    CFQRelease(emptyParent);
    VZ_ASSERT((err == noErr) == (*childPath != NULL));
    return err;
}

OSStatus MakeNewSeAndCopyIDAndPath(CFStringRef prefix, CFStringRef *newSeID,
                                   CFStringRef *newSePath) noexcept
{
    OSStatus    err        = noErr;
    CFStringRef parentPath = NULL; // owned
    CFStringRef childPath  = NULL; // owned until handed over
    CFStringRef childID    = NULL; // owned until handed over

    VZ_ASSERT(prefix != NULL);
    VZ_ASSERT(newSeID != NULL);
    VZ_ASSERT(*newSeID == NULL);
    VZ_ASSERT(newSePath != NULL);
    VZ_ASSERT(*newSePath == NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    parentPath = CFStringCreateWithFormat(NULL, NULL, CFSTR("/%@"), prefix);
    err        = CFQError(parentPath);
    if (err == noErr) {
        if (UseNumberedChildren()) {
            err = CreateNumberedChild(parentPath, &childPath);
        } else {
            childPath = SCPreferencesPathCreateUniqueChild(gPrefsRef, parentPath);
            err       = MoreSCError(childPath);
        }
    }
    if (err == noErr) {
        VZ_ASSERT(CFGetTypeID(childPath) == CFStringGetTypeID());
        err = CopySeIDFromSePath(childPath, &childID);
    }
    if (err == noErr) {
        *newSeID   = childID;
        *newSePath = childPath;
        childID    = NULL;
        childPath  = NULL;
    }

    CFQRelease(childID);
    CFQRelease(childPath);
    CFQRelease(parentPath);
    VZ_ASSERT((err == noErr) == (*newSeID != NULL));
    VZ_ASSERT((err == noErr) == (*newSePath != NULL));
    return err;
}

// ---------------------------------------------------------------------------
// Links.

// Adds serviceID -> { __LINK__: "/NetworkServices/<serviceID>" } to
// servicesDict, unless the key is there already.
static OSStatus AddServiceLinkToDict(CFStringRef            serviceID,
                                     CFMutableDictionaryRef servicesDict) noexcept
{
    OSStatus        err         = noErr;
    CFStringRef     servicePath = NULL; // owned
    CFDictionaryRef linkDict    = NULL; // owned
    const void     *linkKey     = kSCResvLink;
    const void     *linkValue   = NULL;

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(servicesDict != NULL);

    err = CreateServicePathWithServiceID(serviceID, &servicePath);
    if (err == noErr) {
        linkValue = servicePath;
        linkDict = CFDictionaryCreate(NULL, &linkKey, &linkValue, 1, &kCFTypeDictionaryKeyCallBacks,
                                      &kCFTypeDictionaryValueCallBacks);
        err      = CFQError(linkDict);
    }
    if (err == noErr) {
        VZ_ASSERT(CFDictionaryGetValue(linkDict, kSCResvLink) == servicePath);
        CFDictionaryAddValue(servicesDict, serviceID, linkDict);
    }

    CFQRelease(linkDict);
    CFQRelease(servicePath);
    return err;
}

OSStatus AddServiceToSet(CFStringRef setID, CFStringRef serviceID) noexcept
{
    OSStatus               err          = noErr;
    CFMutableDictionaryRef servicesDict = NULL; // owned
    CFMutableArrayRef      serviceOrder = NULL; // owned

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MoreSCCopyServicesDictMutable(setID, &servicesDict, &serviceOrder);
    // A set that lists the ID already would get a second order entry and no
    // second link, and the two would no longer match.
    if (err == noErr &&
        (CFDictionaryContainsKey(servicesDict, serviceID) ||
         CFArrayContainsValue(serviceOrder, CFRangeMake(0, CFArrayGetCount(serviceOrder)),
                              serviceID))) {
        err = kMoreSCErrorBadRequest;
    }
    if (err == noErr) err = AddServiceLinkToDict(serviceID, servicesDict);
    if (err == noErr) {
        CFArrayAppendValue(serviceOrder, serviceID);
        err = SetServicesDictInBracket(setID, servicesDict, serviceOrder);
    }

    CFQRelease(serviceOrder);
    CFQRelease(servicesDict);
    return err;
}

// Takes serviceID out of the set's services dictionary and order, without
// the sweep. kMoreSCErrorBadRequest when the set lists it in neither,
// kMoreSCErrorStoreValue when only in one of them.
static OSStatus UnlinkService(CFStringRef setID, CFStringRef serviceID) noexcept
{
    OSStatus               err          = noErr;
    CFMutableDictionaryRef servicesDict = NULL; // owned
    CFMutableArrayRef      serviceOrder = NULL; // owned
    Boolean                linked       = false;
    CFIndex                serviceIndex = -1;

    err = MoreSCCopyServicesDictMutable(setID, &servicesDict, &serviceOrder);
    if (err == noErr) {
        linked       = CFDictionaryContainsKey(servicesDict, serviceID);
        serviceIndex = CFArrayGetFirstIndexOfValue(
            serviceOrder, CFRangeMake(0, CFArrayGetCount(serviceOrder)), serviceID);
        if (!linked && serviceIndex < 0) {
            err = kMoreSCErrorBadRequest;
        } else if (!linked || serviceIndex < 0) {
            // Counts agree, so the order names some ID twice or one without
            // a link: a store this model did not write.
            err = kMoreSCErrorStoreValue;
        }
    }
    if (err == noErr) {
        CFDictionaryRemoveValue(servicesDict, serviceID);
        CFArrayRemoveValueAtIndex(serviceOrder, serviceIndex);
        err = SetServicesDictInBracket(setID, servicesDict, serviceOrder);
    }

    CFQRelease(serviceOrder);
    CFQRelease(servicesDict);
    return err;
}

// ---------------------------------------------------------------------------
// Copies and the sweep.

// Removes one shared service record, links to it or not.
static OSStatus RemoveServiceRecord(CFStringRef serviceID) noexcept
{
    OSStatus    err         = noErr;
    CFStringRef servicePath = NULL; // owned

    err = CreateServicePathWithServiceID(serviceID, &servicePath);
    if (err == noErr) {
        err = MoreSCErrorBoolean(SCPreferencesPathRemoveValue(gPrefsRef, servicePath));
    }

    CFQRelease(servicePath);
    return err;
}

// A new shared service holding a deep copy of the shared service serviceID,
// read at its own path (not through any set's link).
static OSStatus DuplicateService(CFStringRef serviceID, CFStringRef *newServiceID) noexcept
{
    OSStatus        err         = noErr;
    CFStringRef     copyID      = NULL; // owned until handed over
    CFStringRef     copyPath    = NULL; // owned
    CFStringRef     servicePath = NULL; // owned
    CFDictionaryRef serviceDict = NULL; // owned
    CFTypeRef       copy        = NULL; // owned

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(newServiceID != NULL);
    VZ_ASSERT(*newServiceID == NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MakeNewSeAndCopyIDAndPath(kSCPrefNetworkServices, &copyID, &copyPath);
    if (err == noErr) err = CreateServicePathWithServiceID(serviceID, &servicePath);
    if (err == noErr) err = CopyStoredDictionary(servicePath, &serviceDict);
    if (err == noErr) {
        copy = CFPropertyListCreateDeepCopy(NULL, serviceDict,
                                            kCFPropertyListMutableContainersAndLeaves);
        err  = CFQError(copy);
    }
    if (err == noErr) {
        err = MoreSCErrorBoolean(
            SCPreferencesPathSetValue(gPrefsRef, copyPath, static_cast<CFDictionaryRef>(copy)));
    }
    if (err == noErr) {
        *newServiceID = copyID;
        copyID        = NULL;
    }

    CFQRelease(copy);
    CFQRelease(serviceDict);
    CFQRelease(servicePath);
    CFQRelease(copyPath);
    CFQRelease(copyID);
    VZ_ASSERT((err == noErr) == (*newServiceID != NULL));
    return err;
}

// Adds to referenced the shared services that the set's services level links
// to. The links are what a set refers to: every entry of its order reaches
// its service through one, and the running system starts every linked
// service, so a link the order misses (in a store written by some other
// program) still holds on to its service. Entries that are not links refer
// to nothing; a link whose target is not a string or not a service path is
// reported.
static OSStatus AddLinkedServices(CFStringRef setID, CFMutableDictionaryRef referenced) noexcept
{
    OSStatus        err          = noErr;
    CFStringRef     servicesPath = NULL; // owned
    CFDictionaryRef servicesDict = NULL; // borrowed from the snapshot
    const void    **values       = NULL; // owned block
    CFIndex         count        = 0;
    CFIndex         index        = 0;
    CFTypeRef       target       = NULL; // borrowed
    CFStringRef     serviceID    = NULL; // owned, one link at a time

    err = CopySetServicesPath(setID, &servicesPath);
    if (err == noErr) {
        servicesDict = SCPreferencesPathGetValue(gPrefsRef, servicesPath);
        // A set without a services level links to nothing.
        if (servicesDict == NULL && SCError() != kSCStatusNoKey) err = MoreSCErrorBoolean(false);
    }
    if (err == noErr && servicesDict != NULL) {
        count = CFDictionaryGetCount(servicesDict);
        err   = CFQAllocateEntries(count, sizeof(const void *), (void **)&values);
    }
    if (err == noErr && servicesDict != NULL) {
        CFDictionaryGetKeysAndValues(servicesDict, NULL, values);
    }
    for (index = 0; err == noErr && index < count; index++) {
        target =
            (CFGetTypeID(values[index]) == CFDictionaryGetTypeID())
                ? CFDictionaryGetValue(static_cast<CFDictionaryRef>(values[index]), kSCResvLink)
                : NULL;
        // A link that cannot be read stops the sweep, as an order entry
        // without a link does: what it leads to is unknown.
        if (target != NULL) err = CheckStoreValueKind(target, CFStringGetTypeID());
        if (err == noErr && target != NULL) {
            err = CopySeIDFromSePath(static_cast<CFStringRef>(target), &serviceID);
        }
        if (err == noErr && serviceID != NULL) {
            CFDictionarySetValue(referenced, serviceID, serviceID);
        }
        CFQRelease(serviceID);
        serviceID = NULL;
    }

    CFQDeallocate(values);
    CFQRelease(servicesPath);
    return err;
}

OSStatus DeleteUnreferencedServices(void) noexcept
{
    OSStatus               err             = noErr;
    CFMutableDictionaryRef referenced      = NULL; // owned; keys retained, values not
    CFArrayRef             setIDs          = NULL; // owned
    CFDictionaryRef        allServicesDict = NULL; // borrowed from the snapshot
    CFArrayRef             allServiceIDs   = NULL; // owned
    CFStringRef            serviceID       = NULL; // borrowed
    CFIndex                setIndex        = 0;
    CFIndex                index           = 0;

    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    referenced = CFDictionaryCreateMutable(NULL, 0, &kCFTypeDictionaryKeyCallBacks, NULL);
    err        = CFQError(referenced);
    if (err == noErr) err = MoreSCCopySetIDs(&setIDs, NULL);
    // The sets' links, not their orders: an order that is damaged (not an
    // array), or that names an ID the set does not link, says nothing about
    // what the set refers to, and must not stop the deletes of every other
    // set. One set whose links cannot be read stops the sweep before
    // anything is removed: a service it may lead to must not be lost.
    for (setIndex = 0; err == noErr && setIndex < CFArrayGetCount(setIDs); setIndex++) {
        err = AddLinkedServices(static_cast<CFStringRef>(CFArrayGetValueAtIndex(setIDs, setIndex)),
                                referenced);
    }
    if (err == noErr) {
        allServicesDict =
            static_cast<CFDictionaryRef>(SCPreferencesGetValue(gPrefsRef, kSCPrefNetworkServices));
        err = MoreSCError(allServicesDict);
    }
    if (err == noErr) err = CheckStoreValueKind(allServicesDict, CFDictionaryGetTypeID());
    // The keys are taken before anything is removed from the dictionary.
    if (err == noErr) err = CFQArrayCreateWithDictionaryKeys(allServicesDict, &allServiceIDs);
    for (index = 0; err == noErr && index < CFArrayGetCount(allServiceIDs); index++) {
        serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(allServiceIDs, index));
        // A key holding "/" is no service ID: no link can lead to it, and its
        // path would name an entity of another service, or nothing at all.
        // It is left as another program wrote it.
        if (CFStringFind(serviceID, CFSTR("/"), 0).location != kCFNotFound) continue;
        if (!CFDictionaryContainsKey(referenced, serviceID)) err = RemoveServiceRecord(serviceID);
    }

    CFQRelease(allServiceIDs);
    CFQRelease(setIDs);
    CFQRelease(referenced);
    return err;
}

// ---------------------------------------------------------------------------
// Deleting.

OSStatus DeleteServiceInBracket(CFStringRef setID, CFStringRef serviceID) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    // After a failure the caller's bracket puts the snapshot back, sweep and
    // all, so the sweep runs only after a delete that went through.
    err = UnlinkService(setID, serviceID);
    if (err == noErr) err = DeleteUnreferencedServices();
    return err;
}

OSStatus MoreSCDeleteService(CFStringRef setID, CFStringRef serviceID) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(serviceID != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = DeleteServiceInBracket(setID, serviceID);
    MoreSCClose(&err, true);
    return err;
}

OSStatus DeleteSetInBracket(CFStringRef setID) noexcept
{
    OSStatus    err          = noErr;
    CFStringRef currentSetID = NULL; // owned
    CFStringRef setPath      = NULL; // owned

    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MoreSCCopyCurrentSet(&currentSetID);
    // NULL names the current set too.
    if (err == noErr && (setID == NULL || CFEqual(setID, currentSetID))) {
        err = kMoreSCErrorBadRequest;
    }
    if (err == noErr) err = CreateSetPathWithSetID(setID, &setPath);
    if (err == noErr) err = MoreSCErrorBoolean(SCPreferencesPathRemoveValue(gPrefsRef, setPath));
    if (err == noErr) err = DeleteUnreferencedServices();

    CFQRelease(setPath);
    CFQRelease(currentSetID);
    return err;
}

// A set delete that failed or was refused (the current set) still sweeps the
// services that no set refers to: a failed recipe relies on it to clean up
// through the current set. The delete's own edits are put back first, and the
// sweep then runs in a level of its own that closes as a reader: the failed
// delete is no successful writer, so the sweep reaches the store only with
// the caller's other kept changes, and a caller that reads only or fails
// itself commits nothing. At the outermost level a failed delete commits
// nothing, so there is nothing to sweep for.
static void SweepAfterFailedSetDelete(void) noexcept
{
    OSStatus err = noErr;

    err = MoreSCOpen(false, false);
    if (err == noErr) err = DeleteUnreferencedServices();
    MoreSCClose(&err, false);
}

OSStatus MoreSCDeleteSet(CFStringRef setID) noexcept
{
    OSStatus err = noErr;

    err = MoreSCOpen(false, false);
    if (err == noErr) err = DeleteSetInBracket(setID);
    MoreSCClose(&err, true);
    if (err != noErr && gPrefsRef != NULL) SweepAfterFailedSetDelete();
    return err;
}

// ---------------------------------------------------------------------------
// Duplicating.

OSStatus MoreSCDuplicateSet(CFStringRef setID, CFStringRef userVisibleName,
                            CFStringRef *newSetID) noexcept
{
    OSStatus               err             = noErr;
    CFStringRef            setPath         = NULL; // owned
    CFStringRef            copySetID       = NULL; // owned until handed over
    CFStringRef            copySetPath     = NULL; // owned
    CFDictionaryRef        setDict         = NULL; // owned
    CFTypeRef              setCopy         = NULL; // owned
    CFArrayRef             serviceIDs      = NULL; // owned
    CFMutableDictionaryRef newServicesDict = NULL; // owned
    CFMutableArrayRef      ipServiceOrder  = NULL; // owned
    CFStringRef            copyServiceID   = NULL; // owned, one service at a time
    CFIndex                serviceCount    = 0;
    CFIndex                index           = 0;

    VZ_ASSERT((newSetID == NULL) || (*newSetID == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr) err = CopySetPath(setID, &setPath);
    if (err == noErr) err = MakeNewSeAndCopyIDAndPath(kSCPrefSets, &copySetID, &copySetPath);
    // Everything of the source comes along (name, global entities, services
    // level and order); the services level and order are replaced below.
    if (err == noErr) err = CopyStoredDictionary(setPath, &setDict);
    if (err == noErr) {
        setCopy =
            CFPropertyListCreateDeepCopy(NULL, setDict, kCFPropertyListMutableContainersAndLeaves);
        err = CFQError(setCopy);
    }
    if (err == noErr) {
        err = MoreSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef, copySetPath,
                                                           static_cast<CFDictionaryRef>(setCopy)));
    }
    if (err == noErr) err = MoreSCCopyServiceIDs(setID, NULL, &serviceIDs);
    if (err == noErr) err = CFQDictionaryCreateMutable(&newServicesDict);
    if (err == noErr) err = CFQArrayCreateMutable(&ipServiceOrder);
    if (err == noErr) serviceCount = CFArrayGetCount(serviceIDs);
    for (index = 0; err == noErr && index < serviceCount; index++) {
        err = DuplicateService(static_cast<CFStringRef>(CFArrayGetValueAtIndex(serviceIDs, index)),
                               &copyServiceID);
        if (err == noErr) {
            CFArrayAppendValue(ipServiceOrder, copyServiceID);
            err = AddServiceLinkToDict(copyServiceID, newServicesDict);
        }
        CFQRelease(copyServiceID);
        copyServiceID = NULL;
    }
    if (err == noErr) {
        VZ_ASSERT(CFDictionaryGetCount(newServicesDict) == serviceCount);
        VZ_ASSERT(CFArrayGetCount(ipServiceOrder) == serviceCount);
        // The copy shares no service with its source.
        err = SetServicesDictInBracket(copySetID, newServicesDict, ipServiceOrder);
    }
    if (err == noErr && userVisibleName != NULL) {
        err = RenameSetInBracket(copySetID, userVisibleName);
    }
    // On failure the close takes out the new set and every service copy.
    MoreSCClose(&err, true);

    if (err == noErr && newSetID != NULL) {
        *newSetID = copySetID;
        copySetID = NULL;
    }

    CFQRelease(ipServiceOrder);
    CFQRelease(newServicesDict);
    CFQRelease(serviceIDs);
    CFQRelease(setCopy);
    CFQRelease(setDict);
    CFQRelease(copySetPath);
    CFQRelease(copySetID);
    CFQRelease(setPath);
    VZ_ASSERT((newSetID == NULL) || ((err == noErr) == (*newSetID != NULL)));
    return err;
}

OSStatus MoreSCDuplicateService(CFStringRef setID, CFStringRef serviceID,
                                CFStringRef userVisibleName, CFStringRef *newServiceID) noexcept
{
    OSStatus    err    = noErr;
    CFStringRef copyID = NULL; // owned until handed over

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT((newServiceID == NULL) || (*newServiceID == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr) err = DuplicateService(serviceID, &copyID);
    if (err == noErr) err = AddServiceToSet(setID, copyID);
    if (err == noErr && userVisibleName != NULL) {
        err = RenameServiceInBracket(setID, copyID, userVisibleName);
    }
    // On failure the close takes out the copy and its link.
    MoreSCClose(&err, true);

    if (err == noErr && newServiceID != NULL) {
        *newServiceID = copyID;
        copyID        = NULL;
    }

    CFQRelease(copyID);
    VZ_ASSERT((newServiceID == NULL) || ((err == noErr) == (*newServiceID != NULL)));
    return err;
}
