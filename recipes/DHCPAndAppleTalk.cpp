// DHCPAndAppleTalk.cpp: AppleTalk in a set, read and switched over the
// services' AppleTalk entities; the services whose running IPv4
// configuration uses DHCP, read from the dynamic store; and releasing a
// service's DHCP lease by taking its IPv4 configuration away and giving it
// back.
//
// The listing reads what the configuration agent published for the current
// set when the store was last applied (Setup:/Network/Service/<ID>/IPv4,
// each value the service's IPv4 entity as stored), not the stored
// preferences: a service whose IPv4 entity or whose whole service is
// inactive is not there. What the dynamic store holds is input: a value of
// the wrong kind is reported, never asserted.
#include "VaviVAZHelpers.h"

#include "MoreCFQ.h"
#include "VaviVAZ.h"

#include <SystemConfiguration/SystemConfiguration.h>

// ---------------------------------------------------------------------------
// AppleTalk.

OSStatus MoreSCIsAppleTalkActive(CFStringRef setID, Boolean *active) noexcept
{
    OSStatus    err           = noErr;
    CFArrayRef  serviceIDs    = NULL; // owned
    CFStringRef serviceID     = NULL; // borrowed from serviceIDs
    Boolean     serviceActive = false;
    Boolean     entityActive  = false;
    CFIndex     index         = 0;

    VZ_ASSERT(active != NULL);

    *active = false;
    err     = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyServiceIDs(setID, &serviceIDs, NULL);
    for (index = 0; err == noErr && !*active && index < CFArrayGetCount(serviceIDs); index++) {
        serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(serviceIDs, index));
        // A service whose link or record another program damaged has no
        // AppleTalk entity that can be read either: like one without the
        // entity, it does not count, and is no error.
        if (MoreSCIsServiceActive(setID, serviceID, &serviceActive) != noErr) {
            serviceActive = false;
        }
        if (serviceActive &&
            MoreSCIsEntityActive(setID, serviceID, kSCEntNetAppleTalk, &entityActive) == noErr &&
            entityActive) {
            *active = true;
        }
    }
    MoreSCClose(&err, false);

    CFQRelease(serviceIDs);
    return err;
}

OSStatus MoreSCSetAppleTalkActive(CFStringRef setID, Boolean active) noexcept
{
    OSStatus    err          = noErr;
    CFArrayRef  serviceIDs   = NULL; // owned
    CFStringRef serviceID    = NULL; // borrowed from serviceIDs
    Boolean     entityActive = false;
    Boolean     changed      = false;
    CFIndex     index        = 0;

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopyServiceIDs(setID, &serviceIDs, NULL);
    for (index = 0; err == noErr && index < CFArrayGetCount(serviceIDs); index++) {
        serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(serviceIDs, index));
        // Services without an AppleTalk entity are skipped.
        if (MoreSCIsEntityActive(setID, serviceID, kSCEntNetAppleTalk, &entityActive) == noErr &&
            (entityActive != false) != (active != false)) {
            err     = MoreSCSetEntityActive(setID, serviceID, kSCEntNetAppleTalk, active);
            changed = changed || (err == noErr);
        }
    }
    // Each change was marked for commit by the writer that made it; a later
    // failure does not undo it.
    MoreSCClose(&err, changed);

    CFQRelease(serviceIDs);
    return err;
}

// ---------------------------------------------------------------------------
// DHCP.

// Whether the running IPv4 configuration under key uses DHCP: -2 when it has
// no config method, -4960 when it or its config method is of the wrong kind.
static OSStatus IsDHCPService(SCDynamicStoreRef storeRef, CFStringRef key, Boolean *isDHCP) noexcept
{
    OSStatus          err          = noErr;
    CFPropertyListRef value        = NULL; // owned
    CFTypeRef         configMethod = NULL; // borrowed from value

    VZ_ASSERT(storeRef != NULL);

    *isDHCP = false;
    value   = SCDynamicStoreCopyValue(storeRef, key);
    err     = MoreSCError(value);
    if (err == noErr && CFGetTypeID(value) != CFDictionaryGetTypeID()) err = kCFQErrorObjectNotMade;
    if (err == noErr) {
        configMethod =
            CFDictionaryGetValue(static_cast<CFDictionaryRef>(value), kSCPropNetIPv4ConfigMethod);
        if (configMethod == NULL) {
            err = kMoreSCErrorNoConfigMethod;
        } else if (CFGetTypeID(configMethod) != CFStringGetTypeID()) {
            err = kCFQErrorObjectNotMade;
        } else {
            *isDHCP = CFEqual(configMethod, kSCValNetIPv4ConfigMethodDHCP);
        }
    }

    CFQRelease(value);
    return err;
}

// Appends the service ID of "Setup:/Network/Service/<ID>/IPv4" to result.
static OSStatus AppendServiceIDOfKey(CFStringRef thisKey, CFMutableArrayRef result) noexcept
{
    OSStatus   err             = noErr;
    CFArrayRef thisKeyExploded = NULL; // owned

    thisKeyExploded = CFStringCreateArrayBySeparatingStrings(NULL, thisKey, CFSTR("/"));
    err             = CFQError(thisKeyExploded);
    if (err == noErr) {
        VZ_ASSERT(CFArrayGetCount(thisKeyExploded) == 5);
        VZ_ASSERT(CFGetTypeID(CFArrayGetValueAtIndex(thisKeyExploded, 3)) == CFStringGetTypeID());
        CFArrayAppendValue(result, CFArrayGetValueAtIndex(thisKeyExploded, 3));
    }

    CFQRelease(thisKeyExploded);
    return err;
}

OSStatus MoreSCCreateActiveDHCPServicesArray(CFArrayRef *activeDHCP) noexcept
{
    OSStatus          err                       = noErr;
    SCDynamicStoreRef storeRef                  = NULL; // owned
    CFStringRef       pattern                   = NULL; // owned
    CFArrayRef        configuredIPv4DynamicKeys = NULL; // owned
    CFMutableArrayRef result                    = NULL; // owned until handed over
    CFStringRef       thisKey                   = NULL; // borrowed
    Boolean           isDHCP                    = false;
    CFIndex           index                     = 0;

    VZ_ASSERT(activeDHCP != NULL);
    VZ_ASSERT(*activeDHCP == NULL);

    // The client name goes to the platform as it is, NULL included.
    storeRef = SCDynamicStoreCreate(NULL, MoreSCGetClient(), NULL, NULL);
    err      = MoreSCError(storeRef);
    if (err == noErr) {
        pattern = SCDynamicStoreKeyCreateNetworkServiceEntity(NULL, kSCDynamicStoreDomainSetup,
                                                              kSCCompAnyRegex, kSCEntNetIPv4);
        err     = MoreSCError(pattern);
    }
    if (err == noErr) {
        configuredIPv4DynamicKeys = SCDynamicStoreCopyKeyList(storeRef, pattern);
        err                       = MoreSCError(configuredIPv4DynamicKeys);
    }
    if (err == noErr) {
        result = CFArrayCreateMutable(NULL, CFArrayGetCount(configuredIPv4DynamicKeys),
                                      &kCFTypeArrayCallBacks);
        err    = CFQError(result);
    }
    if (err == noErr) VZ_ASSERT(configuredIPv4DynamicKeys != NULL);
    for (index = 0; err == noErr && index < CFArrayGetCount(configuredIPv4DynamicKeys); index++) {
        thisKey =
            static_cast<CFStringRef>(CFArrayGetValueAtIndex(configuredIPv4DynamicKeys, index));
        err = CFQError(thisKey);
        // The pattern matches whole keys, so every key listed has this form.
        if (err == noErr) {
            VZ_ASSERT(CFGetTypeID(thisKey) == CFStringGetTypeID());
            VZ_ASSERT(CFStringHasPrefix(thisKey, CFSTR("Setup:/Network/Service/")));
            VZ_ASSERT(CFStringHasSuffix(thisKey, CFSTR("/IPv4")));
            err = IsDHCPService(storeRef, thisKey, &isDHCP);
        }
        if (err == noErr && isDHCP) err = AppendServiceIDOfKey(thisKey, result);
    }
    if (err == noErr) {
        *activeDHCP = result;
        result      = NULL;
    }

    CFQRelease(result);
    CFQRelease(configuredIPv4DynamicKeys);
    CFQRelease(pattern);
    CFQRelease(storeRef);
    VZ_ASSERT((err == noErr) == (*activeDHCP != NULL));
    return err;
}

OSStatus MoreSCDHCPRelease(CFStringRef serviceID) noexcept
{
    OSStatus err         = noErr;
    OSStatus secondErr   = noErr;
    Boolean  deactivated = false; // the first step's edit was made

    VZ_ASSERT(serviceID != NULL);

    // Two sessions: when this is the outermost, each close commits and
    // applies, and the running system sees the service without its IPv4
    // configuration in between.
    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCSetEntityActive(NULL, serviceID, kSCEntNetIPv4, false);
    deactivated = (err == noErr);
    MoreSCClose(&err, true);
    // A first step whose commit went through but whose apply failed has
    // already stored the entity inactive; the second step still runs then,
    // so that a failed first step leaves the stored configuration as it was
    // (the next apply, by anyone, would otherwise take the service's IPv4
    // down). Its error is that of the first step.
    if (err == noErr || deactivated) {
        secondErr = MoreSCOpen(false, false);
        if (secondErr == noErr)
            secondErr = MoreSCSetEntityActive(NULL, serviceID, kSCEntNetIPv4, true);
        MoreSCClose(&secondErr, true);
        if (err == noErr) err = secondErr;
    }
    return err;
}
