// Reads.cpp: the read path of the model: the paths of the preferences tree
// (shared with the editing files through Internal.h) and the five public
// readers: the current set, a set's services dictionary and service order,
// its service IDs, one entity of a service, and a service's BSD name.
//
// Everything read from the store is input. A value of the wrong kind (a
// current set or link target that is not a string, a set path or service path
// that does not split into three components, an order that is not an array
// or holds something other than strings, an entity that is not a dictionary,
// a services dictionary and order of different lengths) fails the call with
// kMoreSCErrorStoreValue; a damaged store must never stop the process.
// Assertions check only the caller's arguments and the session's state.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"

OSStatus CheckStoreValueKind(CFTypeRef value, CFTypeID typeID) noexcept
{
    VZ_ASSERT(value != NULL);
    return (CFGetTypeID(value) == typeID) ? noErr : static_cast<OSStatus>(kMoreSCErrorStoreValue);
}

// ---------------------------------------------------------------------------
// Paths.

OSStatus CreateSetPathWithSetID(CFStringRef setID, CFStringRef *setPath) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(setID != NULL);
    VZ_ASSERT(setPath != NULL);
    VZ_ASSERT(*setPath == NULL);

    *setPath = CFStringCreateWithFormat(NULL, NULL, CFSTR("/%@/%@"), kSCPrefSets, setID);
    err      = CFQError(*setPath);

    VZ_ASSERT((err == noErr) == (*setPath != NULL));
    return err;
}

OSStatus CopySeIDFromSePath(CFStringRef sePath, CFStringRef *seID) noexcept
{
    OSStatus    err              = noErr;
    CFArrayRef  sePathComponents = NULL; // owned
    CFStringRef component        = NULL; // borrowed from sePathComponents

    VZ_ASSERT(sePath != NULL);
    VZ_ASSERT(seID != NULL);
    VZ_ASSERT(*seID == NULL);

    sePathComponents = CFStringCreateArrayBySeparatingStrings(NULL, sePath, CFSTR("/"));
    err              = CFQError(sePathComponents);
    // The path comes from the store (the current set, a link's target): a
    // path with more or fewer components is reported, not asserted.
    if (err == noErr && CFArrayGetCount(sePathComponents) != 3) err = kMoreSCErrorStoreValue;
    if (err == noErr) {
        component = static_cast<CFStringRef>(CFArrayGetValueAtIndex(sePathComponents, 2));
        err       = CFQError(component);
    }
    if (err == noErr) *seID = static_cast<CFStringRef>(CFQRetain(component));

    CFQRelease(sePathComponents);
    VZ_ASSERT((err == noErr) == (*seID != NULL));
    return err;
}

OSStatus CopySetPath(CFStringRef setID, CFStringRef *setPath) noexcept
{
    OSStatus    err    = noErr;
    CFStringRef result = NULL; // owned until handed over

    VZ_ASSERT(setPath != NULL);
    VZ_ASSERT(*setPath == NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    if (setID != NULL) {
        err = CreateSetPathWithSetID(setID, &result);
    } else {
        // The recorded path is used as it is, not rebuilt from an ID.
        result = static_cast<CFStringRef>(
            CFQRetain(SCPreferencesGetValue(gPrefsRef, kSCPrefCurrentSet)));
        err = MoreSCError(result);
        if (err == noErr) err = CheckStoreValueKind(result, CFStringGetTypeID());
    }
    if (err == noErr) {
        *setPath = result;
        result   = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*setPath != NULL));
    return err;
}

// <set path>/Network/<component>
static OSStatus CopySetNetworkPath(CFStringRef setID, CFStringRef component,
                                   CFStringRef *path) noexcept
{
    OSStatus    err     = noErr;
    CFStringRef setPath = NULL; // owned

    VZ_ASSERT(path != NULL);
    VZ_ASSERT(*path == NULL);

    err = CopySetPath(setID, &setPath);
    if (err == noErr) {
        *path = CFStringCreateWithFormat(NULL, NULL, CFSTR("%@/%@/%@"), setPath, kSCCompNetwork,
                                         component);
        err   = CFQError(*path);
    }

    CFQRelease(setPath);
    VZ_ASSERT((err == noErr) == (*path != NULL));
    return err;
}

OSStatus CopySetGlobalsPath(CFStringRef setID, CFStringRef *setGlobalsPath) noexcept
{
    VZ_ASSERT(setGlobalsPath != NULL);
    VZ_ASSERT(*setGlobalsPath == NULL);
    return CopySetNetworkPath(setID, kSCCompGlobal, setGlobalsPath);
}

OSStatus CopySetServicesPath(CFStringRef setID, CFStringRef *setServicesPath) noexcept
{
    VZ_ASSERT(setServicesPath != NULL);
    VZ_ASSERT(*setServicesPath == NULL);
    return CopySetNetworkPath(setID, kSCCompService, setServicesPath);
}

OSStatus CopyResolvedServicePath(CFStringRef setID, CFStringRef serviceID,
                                 CFStringRef *servicePath) noexcept
{
    OSStatus    err      = noErr;
    CFStringRef setPath  = NULL; // owned
    CFStringRef linkPath = NULL; // owned
    CFStringRef target   = NULL; // owned until handed over

    VZ_ASSERT(servicePath != NULL);
    VZ_ASSERT(*servicePath == NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    if (serviceID == NULL) {
        err = CopySetGlobalsPath(setID, &target);
    } else {
        // The probe resolves one link per service of a large set: build the
        // link path in one go rather than through the set services path.
        err = CopySetPath(setID, &setPath);
        if (err == noErr) {
            linkPath = CFStringCreateWithFormat(NULL, NULL, CFSTR("%@/%@/%@/%@"), setPath,
                                                kSCCompNetwork, kSCCompService, serviceID);
            err      = CFQError(linkPath);
        }
        if (err == noErr) {
            target =
                static_cast<CFStringRef>(CFQRetain(SCPreferencesPathGetLink(gPrefsRef, linkPath)));
            err = MoreSCError(target);
        }
        // A link whose value is a number or a dictionary.
        if (err == noErr) err = CheckStoreValueKind(target, CFStringGetTypeID());
    }
    if (err == noErr) {
        *servicePath = target;
        target       = NULL;
    }

    CFQRelease(target);
    CFQRelease(linkPath);
    CFQRelease(setPath);
    VZ_ASSERT((err == noErr) == (*servicePath != NULL));
    return err;
}

OSStatus CopyEntityPath(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                        CFStringRef *entityPath) noexcept
{
    OSStatus    err         = noErr;
    CFStringRef servicePath = NULL; // owned

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(entityPath != NULL);
    VZ_ASSERT(*entityPath == NULL);

    err = CopyResolvedServicePath(setID, serviceID, &servicePath);
    if (err == noErr) {
        *entityPath = CFStringCreateWithFormat(NULL, NULL, CFSTR("%@/%@"), servicePath, protocol);
        err         = CFQError(*entityPath);
    }

    CFQRelease(servicePath);
    VZ_ASSERT((err == noErr) == (*entityPath != NULL));
    return err;
}

OSStatus CopyStoredDictionary(CFStringRef path, CFDictionaryRef *dict) noexcept
{
    OSStatus        err    = noErr;
    CFDictionaryRef result = NULL; // owned until handed over

    VZ_ASSERT(path != NULL);
    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(*dict == NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    result = static_cast<CFDictionaryRef>(CFQRetain(SCPreferencesPathGetValue(gPrefsRef, path)));
    err    = MoreSCError(result);
    if (err == noErr) err = CheckStoreValueKind(result, CFDictionaryGetTypeID());
    if (err == noErr) {
        *dict  = result;
        result = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*dict != NULL));
    return err;
}

OSStatus CopyStoredString(CFDictionaryRef dict, CFStringRef key, CFStringRef *value) noexcept
{
    OSStatus    err    = noErr;
    CFStringRef result = NULL; // owned until handed over

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(key != NULL);
    VZ_ASSERT(value != NULL);
    VZ_ASSERT(*value == NULL);

    result = static_cast<CFStringRef>(CFQRetain(CFDictionaryGetValue(dict, key)));
    err    = CFQError(result);
    // Callers compare, print and store the value as a string; anything else
    // under the key is reported, not handed on.
    if (err == noErr) err = CheckStoreValueKind(result, CFStringGetTypeID());
    if (err == noErr) {
        *value = result;
        result = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*value != NULL));
    return err;
}

// ---------------------------------------------------------------------------
// Public readers.

OSStatus MoreSCCopyCurrentSet(CFStringRef *setID) noexcept
{
    OSStatus    err     = noErr;
    CFStringRef setPath = NULL; // borrowed from the snapshot

    VZ_ASSERT(setID != NULL);
    VZ_ASSERT(*setID == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) {
        setPath = static_cast<CFStringRef>(SCPreferencesGetValue(gPrefsRef, kSCPrefCurrentSet));
        err     = MoreSCError(setPath);
    }
    if (err == noErr) err = CheckStoreValueKind(setPath, CFStringGetTypeID());
    if (err == noErr) err = CopySeIDFromSePath(setPath, setID);
    MoreSCClose(&err, false);

    if (err != noErr) {
        CFQRelease(*setID);
        *setID = NULL;
    }
    VZ_ASSERT((err == noErr) == (*setID != NULL));
    return err;
}

OSStatus MoreSCCopyServicesDict(CFStringRef setID, CFDictionaryRef *servicesDict,
                                CFArrayRef *serviceOrder) noexcept
{
    OSStatus        err                  = noErr;
    CFStringRef     path                 = NULL; // owned: services path, then IPv4 global path
    CFStringRef     setPath              = NULL; // owned
    CFDictionaryRef ipv4GlobalEntityDict = NULL; // owned
    CFDictionaryRef dictResult           = NULL; // owned until handed over
    CFArrayRef      orderResult          = NULL; // owned until handed over

    // clang-format off
    VZ_ASSERT((servicesDict != NULL) || ( serviceOrder != NULL));
    // clang-format on
    VZ_ASSERT((servicesDict == NULL) || (*servicesDict == NULL));
    VZ_ASSERT((serviceOrder == NULL) || (*serviceOrder == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr && servicesDict != NULL) {
        err = CopySetServicesPath(setID, &path);
        if (err == noErr) err = CopyStoredDictionary(path, &dictResult);
        CFQRelease(path);
        path = NULL;
    }
    if (err == noErr && serviceOrder != NULL) {
        err = CopySetPath(setID, &setPath);
        if (err == noErr) {
            path = CFStringCreateWithFormat(NULL, NULL, CFSTR("%@/%@/%@/%@"), setPath,
                                            kSCCompNetwork, kSCCompGlobal, kSCEntNetIPv4);
            err  = CFQError(path);
        }
        if (err == noErr) err = CopyStoredDictionary(path, &ipv4GlobalEntityDict);
        if (err == noErr) {
            orderResult = static_cast<CFArrayRef>(
                CFQRetain(CFDictionaryGetValue(ipv4GlobalEntityDict, kSCPropNetServiceOrder)));
            err = CFQError(orderResult);
        }
        // Every reader of the order walks it as an array.
        if (err == noErr) err = CheckStoreValueKind(orderResult, CFArrayGetTypeID());
    }
    // The editors take the dictionary and the order together as one list of
    // the set's services; this model never writes them with different
    // lengths, so a store that has them so is damaged.
    if (err == noErr && dictResult != NULL && orderResult != NULL &&
        CFDictionaryGetCount(dictResult) != CFArrayGetCount(orderResult)) {
        err = kMoreSCErrorStoreValue;
    }
    MoreSCClose(&err, false);

    if (err == noErr) {
        if (servicesDict != NULL) *servicesDict = dictResult;
        if (serviceOrder != NULL) *serviceOrder = orderResult;
        dictResult  = NULL;
        orderResult = NULL;
    }

    CFQRelease(orderResult);
    CFQRelease(dictResult);
    CFQRelease(ipv4GlobalEntityDict);
    CFQRelease(setPath);
    CFQRelease(path);
    VZ_ASSERT((servicesDict == NULL) || ((err == noErr) == (*servicesDict != NULL)));
    VZ_ASSERT((serviceOrder == NULL) || ((err == noErr) == (*serviceOrder != NULL)));
    if (servicesDict != NULL && serviceOrder != NULL) {
        VZ_ASSERT((err != noErr) || (servicesDict == NULL) || (*serviceOrder == NULL) ||
                  (CFDictionaryGetCount(*servicesDict) == CFArrayGetCount(*serviceOrder)));
    }
    return err;
}

OSStatus MoreSCCopyServiceIDs(CFStringRef setID, CFArrayRef *localServiceIDs,
                              CFArrayRef *resolvedServiceIDs) noexcept
{
    OSStatus          err            = noErr;
    CFArrayRef        serviceOrder   = NULL; // owned
    CFMutableArrayRef localResult    = NULL; // owned until handed over
    CFMutableArrayRef resolvedResult = NULL; // owned until handed over
    CFStringRef       servicePath    = NULL; // owned, one entry at a time
    CFStringRef       resolvedID     = NULL; // owned, one entry at a time
    CFStringRef       serviceID      = NULL; // borrowed from serviceOrder
    CFIndex           count          = 0;
    CFIndex           index          = 0;

    VZ_ASSERT((localServiceIDs != NULL) || (resolvedServiceIDs != NULL));
    VZ_ASSERT((localServiceIDs == NULL) || (*localServiceIDs == NULL));
    VZ_ASSERT((resolvedServiceIDs == NULL) || (*resolvedServiceIDs == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyServicesDict(setID, NULL, &serviceOrder);
    if (err == noErr && localServiceIDs != NULL) err = CFQArrayCreateMutable(&localResult);
    if (err == noErr && resolvedServiceIDs != NULL) err = CFQArrayCreateMutable(&resolvedResult);
    if (err == noErr) count = CFArrayGetCount(serviceOrder);
    for (index = 0; err == noErr && index < count; index++) {
        serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(serviceOrder, index));
        // An entry that is a number or a dictionary counts as missing.
        err = CFQError(serviceID);
        if (err == noErr) err = CheckStoreValueKind(serviceID, CFStringGetTypeID());
        if (err == noErr && localResult != NULL) CFArrayAppendValue(localResult, serviceID);
        if (err == noErr && resolvedResult != NULL) {
            err = CopyResolvedServicePath(setID, serviceID, &servicePath);
            if (err == noErr) err = CopySeIDFromSePath(servicePath, &resolvedID);
            if (err == noErr) CFArrayAppendValue(resolvedResult, resolvedID);
            CFQRelease(resolvedID);
            CFQRelease(servicePath);
            resolvedID  = NULL;
            servicePath = NULL;
        }
    }
    MoreSCClose(&err, false);

    if (err == noErr) {
        if (localServiceIDs != NULL) *localServiceIDs = localResult;
        if (resolvedServiceIDs != NULL) *resolvedServiceIDs = resolvedResult;
        localResult    = NULL;
        resolvedResult = NULL;
    }

    CFQRelease(resolvedResult);
    CFQRelease(localResult);
    CFQRelease(serviceOrder);
    // An out-parameter that was not asked for stays out of the check.
    VZ_ASSERT((localServiceIDs == NULL) || ((err == noErr) == (*localServiceIDs != NULL)));
    VZ_ASSERT((resolvedServiceIDs == NULL) || ((err == noErr) == (*resolvedServiceIDs != NULL)));
    VZ_ASSERT((err != noErr) || (localServiceIDs == NULL) || (resolvedServiceIDs == NULL) ||
              (CFArrayGetCount(*localServiceIDs) == CFArrayGetCount(*resolvedServiceIDs)));
    return err;
}

OSStatus MoreSCCopyEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                          CFDictionaryRef *entity) noexcept
{
    OSStatus    err        = noErr;
    CFStringRef entityPath = NULL; // owned

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = CopyEntityPath(setID, serviceID, protocol, &entityPath);
    if (err == noErr) err = CopyStoredDictionary(entityPath, entity);
    MoreSCClose(&err, false);

    if (err != noErr) {
        CFQRelease(*entity);
        *entity = NULL;
    }
    CFQRelease(entityPath);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCopyBSDNameOfService(CFStringRef setID, CFStringRef serviceID,
                                    CFStringRef *bsdName) noexcept
{
    OSStatus        err    = noErr;
    CFDictionaryRef entity = NULL; // owned
    CFStringRef     result = NULL; // owned until handed over

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(bsdName != NULL);
    VZ_ASSERT(*bsdName == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntity(setID, serviceID, kSCEntNetInterface, &entity);
    if (err == noErr) err = CopyStoredString(entity, kSCPropNetInterfaceDeviceName, &result);
    MoreSCClose(&err, false);

    if (err == noErr) {
        *bsdName = result;
        result   = NULL;
    }

    CFQRelease(result);
    CFQRelease(entity);
    VZ_ASSERT((err == noErr) == (*bsdName != NULL));
    return err;
}
