// Entities.cpp: the entities dictionary of a service (or of a set's globals)
// as a whole: reading it, storing it, listing and replacing all its entities,
// and adding or removing one entity.
//
// A value of the entities dictionary that is a dictionary is an entity, keyed
// by its protocol; any other value (the service's name, its inactive mark) is
// a property of the service and is never touched by the entity operations.
//
// Every write here reads the whole dictionary, changes a shallow mutable copy
// and stores the copy back at the same resolved path, so the change lands in
// the shared service that every set linking to it sees. A call that would
// leave the dictionary other than the caller meant (adding an entity that is
// there, removing one that is not, replacing entities with a list that names
// a protocol twice or names a kept property) is refused with
// kMoreSCErrorBadRequest before anything is written.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"
#include "VaviVAZDigest.h"

// The keys and values of dict in two blocks of one pointer per entry, in the
// dictionary's own order; both blocks are the caller's (CFQDeallocate).
static OSStatus CopyKeysAndValues(CFDictionaryRef dict, const void ***keys, const void ***values,
                                  CFIndex *count) noexcept
{
    OSStatus     err         = noErr;
    const void **keysBlock   = NULL; // owned until handed over
    const void **valuesBlock = NULL; // owned until handed over

    VZ_ASSERT(keys != NULL && *keys == NULL);
    VZ_ASSERT(values != NULL && *values == NULL);

    *count = CFDictionaryGetCount(dict);
    err    = CFQAllocateEntries(*count, sizeof(const void *), (void **)&keysBlock);
    if (err == noErr) {
        err = CFQAllocateEntries(*count, sizeof(const void *), (void **)&valuesBlock);
    }
    if (err == noErr) {
        CFDictionaryGetKeysAndValues(dict, keysBlock, valuesBlock);
        *keys       = keysBlock;
        *values     = valuesBlock;
        keysBlock   = NULL;
        valuesBlock = NULL;
    }

    CFQDeallocate(valuesBlock);
    CFQDeallocate(keysBlock);
    return err;
}

static Boolean IsEntity(const void *value) noexcept
{
    return CFGetTypeID(value) == CFDictionaryGetTypeID();
}

OSStatus MoreSCCopyEntitiesDict(CFStringRef setID, CFStringRef serviceID,
                                CFDictionaryRef *entitiesDict) noexcept
{
    OSStatus    err         = noErr;
    CFStringRef servicePath = NULL; // owned

    VZ_ASSERT(entitiesDict != NULL);
    VZ_ASSERT(*entitiesDict == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = CopyResolvedServicePath(setID, serviceID, &servicePath);
    if (err == noErr) err = CopyStoredDictionary(servicePath, entitiesDict);
    MoreSCClose(&err, false);

    if (err != noErr) {
        CFQRelease(*entitiesDict);
        *entitiesDict = NULL;
    }
    CFQRelease(servicePath);
    VZ_ASSERT((err == noErr) == (*entitiesDict != NULL));
    return err;
}

OSStatus MoreSCCopyEntitiesDictMutable(CFStringRef setID, CFStringRef serviceID,
                                       CFMutableDictionaryRef *entitiesDict) noexcept
{
    OSStatus        err    = noErr;
    CFDictionaryRef stored = NULL; // owned

    VZ_ASSERT(entitiesDict != NULL);
    VZ_ASSERT(*entitiesDict == NULL);

    err = MoreSCCopyEntitiesDict(setID, serviceID, &stored);
    if (err == noErr) {
        *entitiesDict = CFDictionaryCreateMutableCopy(NULL, 0, stored);
        err           = CFQError(*entitiesDict);
    }

    CFQRelease(stored);
    VZ_ASSERT((err == noErr) == (*entitiesDict != NULL));
    return err;
}

OSStatus SetEntitiesDictInBracket(CFStringRef setID, CFStringRef serviceID,
                                  CFDictionaryRef entitiesDict) noexcept
{
    OSStatus    err         = noErr;
    CFStringRef servicePath = NULL; // owned

    VZ_ASSERT(entitiesDict != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = CopyResolvedServicePath(setID, serviceID, &servicePath);
    if (err == noErr) {
        err = MoreSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef, servicePath, entitiesDict));
    }

    CFQRelease(servicePath);
    return err;
}

OSStatus MoreSCSetEntitiesDict(CFStringRef setID, CFStringRef serviceID,
                               CFDictionaryRef entitiesDict) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(entitiesDict != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = SetEntitiesDictInBracket(setID, serviceID, entitiesDict);
    MoreSCClose(&err, true);
    return err;
}

OSStatus MoreSCCopyEntities(CFStringRef setID, CFStringRef serviceID, CFArrayRef *entityProtocols,
                            CFArrayRef *entityValues) noexcept
{
    OSStatus          err            = noErr;
    CFDictionaryRef   entitiesDict   = NULL; // owned
    const void      **keys           = NULL; // owned block
    const void      **values         = NULL; // owned block
    CFIndex           count          = 0;
    CFIndex           index          = 0;
    CFMutableArrayRef protocolResult = NULL; // owned until handed over
    CFMutableArrayRef valueResult    = NULL; // owned until handed over

    VZ_ASSERT((entityProtocols != NULL) || (entityValues != NULL));
    VZ_ASSERT((entityProtocols == NULL) || (*entityProtocols == NULL));
    VZ_ASSERT((entityValues == NULL) || (*entityValues == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntitiesDict(setID, serviceID, &entitiesDict);
    if (err == noErr && entityProtocols != NULL) err = CFQArrayCreateMutable(&protocolResult);
    if (err == noErr && entityValues != NULL) err = CFQArrayCreateMutable(&valueResult);
    if (err == noErr) err = CopyKeysAndValues(entitiesDict, &keys, &values, &count);
    for (index = 0; err == noErr && index < count; index++) {
        if (IsEntity(values[index])) {
            if (protocolResult != NULL) CFArrayAppendValue(protocolResult, keys[index]);
            if (valueResult != NULL) CFArrayAppendValue(valueResult, values[index]);
        }
    }
    MoreSCClose(&err, false);

    if (err == noErr) {
        if (entityProtocols != NULL) *entityProtocols = protocolResult;
        if (entityValues != NULL) *entityValues = valueResult;
        protocolResult = NULL;
        valueResult    = NULL;
    }

    CFQRelease(valueResult);
    CFQRelease(protocolResult);
    CFQDeallocate(values);
    CFQDeallocate(keys);
    CFQRelease(entitiesDict);
    // An out-parameter that was not asked for stays out of the check: on
    // failure it is NULL too, and must not make the check fail.
    VZ_ASSERT((entityProtocols == NULL) || ((err == noErr) == (*entityProtocols != NULL)));
    VZ_ASSERT((entityValues == NULL) || ((err == noErr) == (*entityValues != NULL)));
    VZ_ASSERT((err != noErr) || (entityProtocols == NULL) || (entityValues == NULL) ||
              (CFArrayGetCount(*entityProtocols) == CFArrayGetCount(*entityValues)));
    return err;
}

OSStatus MoreSCSetEntities(CFStringRef setID, CFStringRef serviceID, CFArrayRef entityProtocols,
                           CFArrayRef entityValues) noexcept
{
    OSStatus               err          = noErr;
    CFMutableDictionaryRef entitiesDict = NULL; // owned
    const void           **keys         = NULL; // owned block
    const void           **values       = NULL; // owned block
    CFIndex                dictCount    = 0;
    CFIndex                deletedCount = 0;
    CFIndex                entityCount  = 0;
    CFIndex                index        = 0;

    VZ_ASSERT(entityProtocols != NULL);
    VZ_ASSERT(entityValues != NULL);
    VZ_ASSERT(CFArrayGetCount(entityProtocols) == CFArrayGetCount(entityValues));

    entityCount = CFArrayGetCount(entityProtocols);
    err         = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntitiesDictMutable(setID, serviceID, &entitiesDict);
    if (err == noErr) err = CopyKeysAndValues(entitiesDict, &keys, &values, &dictCount);
    for (index = 0; err == noErr && index < dictCount; index++) {
        if (IsEntity(values[index])) {
            CFDictionaryRemoveValue(entitiesDict, keys[index]);
            deletedCount += 1;
        }
    }
    // A protocol that is already present at this point (named twice, or the
    // key of a kept property such as the service's name) would be dropped by
    // the add-if-absent below and the service would lose an entity without
    // a word; the whole call is refused instead, before anything is stored.
    for (index = 0; err == noErr && index < entityCount; index++) {
        const void *protocol = CFArrayGetValueAtIndex(entityProtocols, index);

        if (CFDictionaryContainsKey(entitiesDict, protocol)) {
            err = kMoreSCErrorBadRequest;
        } else {
            CFDictionaryAddValue(entitiesDict, protocol,
                                 CFArrayGetValueAtIndex(entityValues, index));
        }
    }
    if (err == noErr) {
        VZ_ASSERT(CFDictionaryGetCount(entitiesDict) == ((dictCount - deletedCount) + entityCount));
        err = SetEntitiesDictInBracket(setID, serviceID, entitiesDict);
    }
    MoreSCClose(&err, true);

    CFQDeallocate(values);
    CFQDeallocate(keys);
    CFQRelease(entitiesDict);
    return err;
}

OSStatus NewEntityInBracket(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                            CFDictionaryRef entity) noexcept
{
    OSStatus               err          = noErr;
    CFMutableDictionaryRef entitiesDict = NULL; // owned

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MoreSCCopyEntitiesDictMutable(setID, serviceID, &entitiesDict);
    if (err == noErr && CFDictionaryContainsKey(entitiesDict, protocol)) {
        err = kMoreSCErrorBadRequest;
    }
    if (err == noErr) {
        CFDictionaryAddValue(entitiesDict, protocol, entity);
        err = SetEntitiesDictInBracket(setID, serviceID, entitiesDict);
    }

    CFQRelease(entitiesDict);
    return err;
}

OSStatus MoreSCNewEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                         CFDictionaryRef entity) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(entity != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = NewEntityInBracket(setID, serviceID, protocol, entity);
    MoreSCClose(&err, true);
    return err;
}

OSStatus MoreSCDeleteEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol) noexcept
{
    OSStatus               err          = noErr;
    CFMutableDictionaryRef entitiesDict = NULL; // owned
    CFIndex                dictCount    = 0;

    VZ_ASSERT(protocol != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyEntitiesDictMutable(setID, serviceID, &entitiesDict);
    if (err == noErr) {
        dictCount = CFDictionaryGetCount(entitiesDict);
        if (!CFDictionaryContainsKey(entitiesDict, protocol)) err = kMoreSCErrorBadRequest;
    }
    if (err == noErr) {
        CFDictionaryRemoveValue(entitiesDict, protocol);
        VZ_ASSERT(CFDictionaryGetCount(entitiesDict) == (dictCount - 1));
        err = SetEntitiesDictInBracket(setID, serviceID, entitiesDict);
    }
    MoreSCClose(&err, true);

    CFQRelease(entitiesDict);
    return err;
}

OSStatus AddEntityToService(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                            const void *digest) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef entity = NULL; // owned

    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MoreSCCreateEntity(protocol, digest, &entity);
    if (err == noErr) err = NewEntityInBracket(setID, serviceID, protocol, entity);

    CFQRelease(entity);
    return err;
}

OSStatus AddGlobalEntityToSet(CFStringRef setID, CFStringRef protocol,
                              const MoreSCGlobalDigest *digest) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef entity = NULL; // owned

    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MoreSCCreateGlobalEntity(protocol, digest, &entity);
    if (err == noErr) err = NewEntityInBracket(setID, NULL, protocol, entity);

    CFQRelease(entity);
    return err;
}
