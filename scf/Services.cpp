// Services.cpp: editing what a set holds and what its services hold: the
// set's services dictionary and service order written back together, one
// entity written or copied for editing, the inactive marks of services and
// entities, and a service's user-visible name.
//
// A dictionary is inactive while it holds kSCResvInactive, whatever the
// value; the mark is written as the number 1 and cleared by removing the key.
// The activation setters write, and mark their bracket as a writer, only when
// the state actually changes, so setting the state already in force commits
// nothing.
//
// Every local service ID of a set is in its order exactly once, and every
// write of the two together keeps them the same length; a store where they
// differ is reported by the readers, not repaired here.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"

// ---------------------------------------------------------------------------
// Shared tools.

OSStatus PreferencesPathSetProperty(CFStringRef dictPath, CFStringRef dictKey,
                                    CFTypeRef newValue) noexcept
{
    OSStatus               err  = noErr;
    CFDictionaryRef        dict = NULL; // owned
    CFMutableDictionaryRef copy = NULL; // owned

    VZ_ASSERT(dictPath != NULL);
    VZ_ASSERT(dictKey != NULL);
    VZ_ASSERT(newValue != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = CopyStoredDictionary(dictPath, &dict);
    if (err == noErr) {
        copy = CFDictionaryCreateMutableCopy(NULL, 0, dict);
        err  = CFQError(copy);
    }
    if (err == noErr) {
        CFDictionarySetValue(copy, dictKey, newValue);
        err = MoreSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef, dictPath, copy));
    }

    CFQRelease(copy);
    CFQRelease(dict);
    return err;
}

OSStatus SetDictionaryActive(CFMutableDictionaryRef dict, Boolean active, Boolean *changed) noexcept
{
    OSStatus err      = noErr;
    Boolean  isActive = false;

    VZ_ASSERT(dict != NULL);

    isActive = !CFDictionaryContainsKey(dict, kSCResvInactive);
    if (isActive != (active != false)) {
        if (active) {
            CFDictionaryRemoveValue(dict, kSCResvInactive);
        } else {
            err = CFQDictionarySetNumber(dict, kSCResvInactive, 1);
        }
        if (err == noErr && changed != NULL) *changed = true;
    }
    return err;
}

// ---------------------------------------------------------------------------
// Services dictionary and order.

OSStatus SetServicesDictInBracket(CFStringRef setID, CFDictionaryRef servicesDict,
                                  CFArrayRef serviceOrder) noexcept
{
    OSStatus        err                  = noErr;
    CFStringRef     servicesPath         = NULL; // owned
    CFStringRef     setPath              = NULL; // owned
    CFStringRef     ipv4GlobalEntityPath = NULL; // owned
    CFDictionaryRef ipv4GlobalEntityDict = NULL; // owned

    VZ_ASSERT((servicesDict != NULL) || (serviceOrder != NULL));
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);
    if (servicesDict != NULL && serviceOrder != NULL) {
        VZ_ASSERT(CFDictionaryGetCount(servicesDict) == CFArrayGetCount(serviceOrder));
    }

    if (serviceOrder != NULL) {
        err = CopySetPath(setID, &setPath);
        if (err == noErr) {
            ipv4GlobalEntityPath =
                CFStringCreateWithFormat(NULL, NULL, CFSTR("%@/%@/%@/%@"), setPath, kSCCompNetwork,
                                         kSCCompGlobal, kSCEntNetIPv4);
            err = CFQError(ipv4GlobalEntityPath);
        }
        // The order lives in an entity that must already exist. Find out
        // before the services dictionary is written, so that a set without
        // it is not left with a dictionary and an order of different lengths
        // in a snapshot that an enclosing caller may still commit.
        if (err == noErr) err = CopyStoredDictionary(ipv4GlobalEntityPath, &ipv4GlobalEntityDict);
    }
    if (err == noErr && servicesDict != NULL) {
        err = CopySetServicesPath(setID, &servicesPath);
        if (err == noErr) {
            err = MoreSCErrorBoolean(
                SCPreferencesPathSetValue(gPrefsRef, servicesPath, servicesDict));
        }
    }
    if (err == noErr && serviceOrder != NULL) {
        err =
            PreferencesPathSetProperty(ipv4GlobalEntityPath, kSCPropNetServiceOrder, serviceOrder);
    }

    CFQRelease(ipv4GlobalEntityDict);
    CFQRelease(ipv4GlobalEntityPath);
    CFQRelease(setPath);
    CFQRelease(servicesPath);
    return err;
}

OSStatus MoreSCSetServicesDict(CFStringRef setID, CFDictionaryRef servicesDict,
                               CFArrayRef serviceOrder) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT((servicesDict != NULL) || (serviceOrder != NULL));
    if (servicesDict != NULL && serviceOrder != NULL) {
        VZ_ASSERT(CFDictionaryGetCount(servicesDict) == CFArrayGetCount(serviceOrder));
    }

    err = MoreSCOpen(false, false);
    if (err == noErr) err = SetServicesDictInBracket(setID, servicesDict, serviceOrder);
    MoreSCClose(&err, true);
    return err;
}

OSStatus MoreSCCopyServicesDictMutable(CFStringRef setID, CFMutableDictionaryRef *servicesDict,
                                       CFMutableArrayRef *serviceOrder) noexcept
{
    OSStatus        err         = noErr;
    CFDictionaryRef storedDict  = NULL; // owned
    CFArrayRef      storedOrder = NULL; // owned

    VZ_ASSERT((servicesDict != NULL) || (serviceOrder != NULL));
    VZ_ASSERT((servicesDict == NULL) || (*servicesDict == NULL));
    VZ_ASSERT((serviceOrder == NULL) || (*serviceOrder == NULL));

    // Both are read whatever the caller asked for, so that a set whose
    // dictionary and order disagree is never handed out for editing.
    err = MoreSCCopyServicesDict(setID, &storedDict, &storedOrder);
    if (err == noErr && servicesDict != NULL) {
        *servicesDict = CFDictionaryCreateMutableCopy(NULL, 0, storedDict);
        err           = CFQError(*servicesDict);
    }
    if (err == noErr && serviceOrder != NULL) {
        *serviceOrder = CFArrayCreateMutableCopy(NULL, 0, storedOrder);
        err           = CFQError(*serviceOrder);
    }

    if (err != noErr) {
        if (servicesDict != NULL) {
            CFQRelease(*servicesDict);
            *servicesDict = NULL;
        }
        if (serviceOrder != NULL) {
            CFQRelease(*serviceOrder);
            *serviceOrder = NULL;
        }
    }
    CFQRelease(storedOrder);
    CFQRelease(storedDict);
    VZ_ASSERT((servicesDict == NULL) || ((err == noErr) == (*servicesDict != NULL)));
    VZ_ASSERT((serviceOrder == NULL) || ((err == noErr) == (*serviceOrder != NULL)));
    return err;
}

// ---------------------------------------------------------------------------
// Entities.

// The body of MoreSCSetEntity (Internal.h, "in-bracket bodies").
static OSStatus SetEntityInBracket(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                                   CFDictionaryRef entity) noexcept
{
    OSStatus    err        = noErr;
    CFStringRef entityPath = NULL; // owned

    err = CopyEntityPath(setID, serviceID, protocol, &entityPath);
    if (err == noErr) {
        err = MoreSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef, entityPath, entity));
    }

    CFQRelease(entityPath);
    return err;
}

OSStatus MoreSCSetEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                         CFDictionaryRef entity) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(entity != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = SetEntityInBracket(setID, serviceID, protocol, entity);
    MoreSCClose(&err, true);
    return err;
}

OSStatus MoreSCCopyEntityMutable(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                                 CFMutableDictionaryRef *entity) noexcept
{
    OSStatus        err    = noErr;
    CFDictionaryRef stored = NULL; // owned

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = MoreSCCopyEntity(setID, serviceID, protocol, &stored);
    if (err == noErr) {
        *entity = CFDictionaryCreateMutableCopy(NULL, 0, stored);
        err     = CFQError(*entity);
    }

    CFQRelease(stored);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCSetEntityActive(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                               Boolean active) noexcept
{
    OSStatus               err     = noErr;
    Boolean                changed = false;
    CFMutableDictionaryRef entity  = NULL; // owned

    VZ_ASSERT(protocol != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntityMutable(setID, serviceID, protocol, &entity);
    if (err == noErr) err = SetDictionaryActive(entity, active, &changed);
    if (err == noErr && changed) err = SetEntityInBracket(setID, serviceID, protocol, entity);
    MoreSCClose(&err, changed);

    CFQRelease(entity);
    return err;
}

OSStatus MoreSCIsEntityActive(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                              Boolean *active) noexcept
{
    OSStatus        err    = noErr;
    CFDictionaryRef entity = NULL; // owned

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(active != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntity(setID, serviceID, protocol, &entity);
    if (err == noErr) *active = !CFDictionaryContainsKey(entity, kSCResvInactive);
    MoreSCClose(&err, false);

    CFQRelease(entity);
    return err;
}

// ---------------------------------------------------------------------------
// Services.

OSStatus MoreSCIsServiceActive(CFStringRef setID, CFStringRef serviceID, Boolean *active) noexcept
{
    OSStatus        err         = noErr;
    CFDictionaryRef serviceDict = NULL; // owned

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(active != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntitiesDict(setID, serviceID, &serviceDict);
    // Only the service's own mark counts, not those of its entities.
    if (err == noErr) *active = !CFDictionaryContainsKey(serviceDict, kSCResvInactive);
    MoreSCClose(&err, false);

    CFQRelease(serviceDict);
    return err;
}

OSStatus MoreSCSetServiceActive(CFStringRef setID, CFStringRef serviceID, Boolean active) noexcept
{
    OSStatus               err         = noErr;
    Boolean                changed     = false;
    CFMutableDictionaryRef serviceDict = NULL; // owned

    VZ_ASSERT(serviceID != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntitiesDictMutable(setID, serviceID, &serviceDict);
    if (err == noErr) err = SetDictionaryActive(serviceDict, active, &changed);
    if (err == noErr && changed) err = SetEntitiesDictInBracket(setID, serviceID, serviceDict);
    MoreSCClose(&err, changed);

    CFQRelease(serviceDict);
    return err;
}

OSStatus MoreSCCopyUserVisibleNameOfService(CFStringRef setID, CFStringRef serviceID,
                                            CFStringRef *userVisibleName) noexcept
{
    OSStatus        err         = noErr;
    CFDictionaryRef serviceDict = NULL; // owned
    CFStringRef     result      = NULL; // owned until handed over

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(*userVisibleName == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntitiesDict(setID, serviceID, &serviceDict);
    if (err == noErr) err = CopyStoredString(serviceDict, kSCPropUserDefinedName, &result);
    MoreSCClose(&err, false);

    if (err == noErr) {
        *userVisibleName = result;
        result           = NULL;
    }

    CFQRelease(result);
    CFQRelease(serviceDict);
    VZ_ASSERT((err == noErr) == (*userVisibleName != NULL));
    return err;
}

OSStatus RenameServiceInBracket(CFStringRef setID, CFStringRef serviceID,
                                CFStringRef newServiceUserVisibleName) noexcept
{
    OSStatus               err         = noErr;
    CFMutableDictionaryRef serviceDict = NULL; // owned

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(newServiceUserVisibleName != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    // The name is changed in the shared record: every set linking to the
    // service sees it.
    err = MoreSCCopyEntitiesDictMutable(setID, serviceID, &serviceDict);
    if (err == noErr) {
        CFDictionarySetValue(serviceDict, kSCPropUserDefinedName, newServiceUserVisibleName);
        err = SetEntitiesDictInBracket(setID, serviceID, serviceDict);
    }

    CFQRelease(serviceDict);
    return err;
}

OSStatus MoreSCRenameService(CFStringRef setID, CFStringRef serviceID,
                             CFStringRef newServiceUserVisibleName) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(newServiceUserVisibleName != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = RenameServiceInBracket(setID, serviceID, newServiceUserVisibleName);
    MoreSCClose(&err, true);
    return err;
}
