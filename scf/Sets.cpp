// Sets.cpp: the set registry: the sets dictionary as a whole, the list of set
// IDs with the position of the current set, switching the current set, and a
// set's user-visible name; also the path of a shared service record.
//
// The current set is recorded as a set path ("/Sets/<ID>"), not as an ID.
// Making a set current does not look the ID up: a set that does not exist is
// recorded all the same, and the readers then report it.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"

OSStatus CreateServicePathWithServiceID(CFStringRef serviceID, CFStringRef *servicePath) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(serviceID != NULL);
    VZ_ASSERT(servicePath != NULL);
    VZ_ASSERT(*servicePath == NULL);

    *servicePath =
        CFStringCreateWithFormat(NULL, NULL, CFSTR("/%@/%@"), kSCPrefNetworkServices, serviceID);
    err = CFQError(*servicePath);

    VZ_ASSERT((err == noErr) == (*servicePath != NULL));
    return err;
}

OSStatus MoreSCCopySetsDict(CFDictionaryRef *setsDict) noexcept
{
    OSStatus        err    = noErr;
    CFDictionaryRef result = NULL; // owned until handed over

    VZ_ASSERT(setsDict != NULL);
    VZ_ASSERT(*setsDict == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) {
        result =
            static_cast<CFDictionaryRef>(CFQRetain(SCPreferencesGetValue(gPrefsRef, kSCPrefSets)));
        err = MoreSCError(result);
    }
    if (err == noErr) err = CheckStoreValueKind(result, CFDictionaryGetTypeID());
    MoreSCClose(&err, false);

    if (err == noErr) {
        *setsDict = result;
        result    = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*setsDict != NULL));
    return err;
}

OSStatus MoreSCSetSetsDict(CFDictionaryRef setsDict) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(setsDict != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) {
        err = MoreSCErrorBoolean(SCPreferencesSetValue(gPrefsRef, kSCPrefSets, setsDict));
    }
    MoreSCClose(&err, true);
    return err;
}

OSStatus MoreSCCopySetIDs(CFArrayRef *setIDs, CFIndex *currentSetIndex) noexcept
{
    OSStatus        err          = noErr;
    CFDictionaryRef setsDict     = NULL; // owned
    CFStringRef     currentSetID = NULL; // owned
    CFArrayRef      result       = NULL; // owned until handed over
    CFIndex         count        = 0;
    CFIndex         index        = 0;

    VZ_ASSERT(setIDs != NULL);
    VZ_ASSERT(*setIDs == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopySetsDict(&setsDict);
    if (err == noErr) err = CFQArrayCreateWithDictionaryKeys(setsDict, &result);
    // Without an index to fill the current set is not read at all, so the
    // list works on a store that records none.
    if (err == noErr && currentSetIndex != NULL) err = MoreSCCopyCurrentSet(&currentSetID);
    if (err == noErr && currentSetIndex != NULL) {
        count = CFArrayGetCount(result);
        for (index = 0; index < count; index++) {
            if (CFEqual(CFArrayGetValueAtIndex(result, index), currentSetID)) {
                *currentSetIndex = index;
            }
        }
    }
    MoreSCClose(&err, false);

    if (err == noErr) {
        *setIDs = result;
        result  = NULL;
    }

    CFQRelease(result);
    CFQRelease(currentSetID);
    CFQRelease(setsDict);
    VZ_ASSERT((err == noErr) == (*setIDs != NULL));
    return err;
}

OSStatus MoreSCSetCurrentSet(CFStringRef setID) noexcept
{
    OSStatus    err     = noErr;
    CFStringRef setPath = NULL; // owned

    VZ_ASSERT(setID != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = CreateSetPathWithSetID(setID, &setPath);
    if (err == noErr) {
        err = MoreSCErrorBoolean(SCPreferencesSetValue(gPrefsRef, kSCPrefCurrentSet, setPath));
    }
    MoreSCClose(&err, true);

    CFQRelease(setPath);
    return err;
}

OSStatus MoreSCCopyUserVisibleNameOfSet(CFStringRef setID, CFStringRef *userVisibleName) noexcept
{
    OSStatus        err     = noErr;
    CFStringRef     setPath = NULL; // owned
    CFDictionaryRef setDict = NULL; // owned
    CFStringRef     result  = NULL; // owned until handed over

    VZ_ASSERT(setID != NULL);
    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(*userVisibleName == NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = CopySetPath(setID, &setPath);
    if (err == noErr) err = CopyStoredDictionary(setPath, &setDict);
    if (err == noErr) err = CopyStoredString(setDict, kSCPropUserDefinedName, &result);
    MoreSCClose(&err, false);

    if (err == noErr) {
        *userVisibleName = result;
        result           = NULL;
    }

    CFQRelease(result);
    CFQRelease(setDict);
    CFQRelease(setPath);
    VZ_ASSERT((err == noErr) == (*userVisibleName != NULL));
    return err;
}

OSStatus RenameSetInBracket(CFStringRef setID, CFStringRef newSetUserVisibleName) noexcept
{
    OSStatus    err     = noErr;
    CFStringRef setPath = NULL; // owned

    VZ_ASSERT(setID != NULL);
    VZ_ASSERT(newSetUserVisibleName != NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = CopySetPath(setID, &setPath);
    if (err == noErr) {
        err = PreferencesPathSetProperty(setPath, kSCPropUserDefinedName, newSetUserVisibleName);
    }

    CFQRelease(setPath);
    return err;
}

OSStatus MoreSCRenameSet(CFStringRef setID, CFStringRef newSetUserVisibleName) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(setID != NULL);
    VZ_ASSERT(newSetUserVisibleName != NULL);

    err = MoreSCOpen(false, false);
    if (err == noErr) err = RenameSetInBracket(setID, newSetUserVisibleName);
    MoreSCClose(&err, true);
    return err;
}
