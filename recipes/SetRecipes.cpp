// SetRecipes.cpp: finding a set by name and the first port of a kind, and the
// recipes that configure one port's service in the current set: with a
// dictionary of ready-made entities, or with entities built from dial-up or
// PPPoE digests first.
//
// The recipes change the store only through the public writers of the model,
// each in its own bracket nested in the recipe's. A writer that succeeded has
// marked the session for commit, so a recipe that fails later keeps what it
// changed before; callers rely on that (a port's service stays active even
// when one of its entities could not be stored).
#include "VaviVAZHelpers.h"

#include "MoreCFQ.h"
#include "VaviVAZ.h"
#include "VaviVAZPortScanner.h"

// The recipes' closing check: the set ID is handed out exactly on success.
// Without an ID asked for, the expression would demand success itself and
// stop the process on any failure, so it is checked only with one.
static void CheckNewSetID(OSStatus err, CFStringRef *newSetID) noexcept
{
    if (newSetID != NULL) {
        // clang-format off
        VZ_ASSERT((err == noErr) == ( (newSetID == NULL) || (*newSetID != NULL) ));
        // clang-format on
    }
}

OSStatus VaviVAZindSetByUserVisibleNameAndCopyID(CFStringRef  userVisibleName,
                                                 CFStringRef *setID) noexcept
{
    OSStatus    err    = noErr;
    CFArrayRef  setIDs = NULL; // owned
    CFStringRef name   = NULL; // owned, one set at a time
    CFStringRef thisID = NULL; // borrowed from setIDs
    CFIndex     index  = 0;

    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(setID != NULL);
    VZ_ASSERT(*setID == NULL);

    // One reader bracket, so that the list and the names come from one
    // snapshot of the store.
    err = MoreSCOpen(false, false);
    if (err == noErr) err = MoreSCCopySetIDs(&setIDs, NULL);
    for (index = 0; err == noErr && *setID == NULL && index < CFArrayGetCount(setIDs); index++) {
        thisID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(setIDs, index));
        err    = MoreSCCopyUserVisibleNameOfSet(thisID, &name);
        if (err == noErr && CFEqual(name, userVisibleName)) {
            *setID = static_cast<CFStringRef>(CFQRetain(thisID));
        }
        CFQRelease(name);
        name = NULL;
    }
    MoreSCClose(&err, false);

    if (err != noErr) {
        CFQRelease(*setID);
        *setID = NULL;
    }
    CFQRelease(setIDs);
    return err;
}

OSStatus VaviVAZCopyDefaultPortBSDName(CFStringRef hardware, CFStringRef *bsdName) noexcept
{
    OSStatus        err   = noErr;
    CFArrayRef      ports = NULL; // owned
    CFDictionaryRef port  = NULL; // borrowed from ports
    CFIndex         index = 0;

    VZ_ASSERT(hardware != NULL);
    VZ_ASSERT(bsdName != NULL);
    VZ_ASSERT(*bsdName == NULL);

    err = MoreSCCreatePortArray(&ports);
    for (index = 0; err == noErr && *bsdName == NULL && index < CFArrayGetCount(ports); index++) {
        port = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(ports, index));
        if (CFEqual(CFDictionaryGetValue(port, kSCPropNetInterfaceHardware), hardware)) {
            *bsdName = static_cast<CFStringRef>(
                CFQRetain(CFDictionaryGetValue(port, kSCPropNetInterfaceDeviceName)));
        }
    }

    CFQRelease(ports);
    return err;
}

// ---------------------------------------------------------------------------
// One port's service.

// Stores one settings entry into the service: merged into its interface
// entity for kSCEntNetInterface, in place of the entity of that name
// otherwise.
static OSStatus ApplySetting(CFStringRef serviceID, CFStringRef protocol,
                             CFDictionaryRef entity) noexcept
{
    OSStatus               err       = noErr;
    CFMutableDictionaryRef interface = NULL; // owned

    if (CFEqual(protocol, kSCEntNetInterface)) {
        err = MoreSCCopyEntityMutable(NULL, serviceID, kSCEntNetInterface, &interface);
        if (err == noErr) err = CFQDictionaryMerge(interface, entity);
        if (err == noErr) err = MoreSCSetEntity(NULL, serviceID, kSCEntNetInterface, interface);
    } else {
        err = MoreSCSetEntity(NULL, serviceID, protocol, entity);
    }

    CFQRelease(interface);
    return err;
}

// Whether the service's interface entity can be read and names no device,
// as a VPN service's does: such a service is on no port.
static Boolean HasNoDevice(CFStringRef serviceID) noexcept
{
    CFDictionaryRef interface = NULL; // owned
    CFTypeRef       device    = NULL; // borrowed from interface
    Boolean         none      = false;

    if (MoreSCCopyEntity(NULL, serviceID, kSCEntNetInterface, &interface) == noErr) {
        device = CFDictionaryGetValue(interface, kSCPropNetInterfaceDeviceName);
        none   = (device == NULL) || (CFGetTypeID(device) != CFStringGetTypeID());
    }

    CFQRelease(interface);
    return none;
}

OSStatus MoreSCMakeNewSingleServiceSet(CFStringRef bsdName, CFStringRef userVisibleName,
                                       CFDictionaryRef serviceSettings,
                                       CFStringRef    *newSetID) noexcept
{
    OSStatus     err          = noErr;
    CFIndex      settingCount = 0;
    const void **protocols    = NULL; // owned block; the keys of serviceSettings
    const void **entities     = NULL; // owned block; its values
    CFStringRef  currentSetID = NULL; // owned until handed over
    CFArrayRef   serviceIDs   = NULL; // owned
    CFStringRef  serviceID    = NULL; // borrowed from serviceIDs
    CFStringRef  thisBSDName  = NULL; // owned, one service at a time
    CFIndex      index        = 0;
    CFIndex      setting      = 0;
    OSStatus     unreadable   = noErr; // the first device name that could not be read
    Boolean      onPort       = false; // a service on bsdName was found

    VZ_ASSERT(bsdName != NULL);
    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(serviceSettings != NULL);
    VZ_ASSERT((newSetID == NULL) || (*newSetID == NULL));

    settingCount = CFDictionaryGetCount(serviceSettings);
    err          = MoreSCOpen(false, false);
    if (err == noErr) {
        err = CFQAllocateEntries(settingCount, sizeof(const void *), (void **)&protocols);
    }
    if (err == noErr) {
        err = CFQAllocateEntries(settingCount, sizeof(const void *), (void **)&entities);
    }
    // The dictionary's own order is the order in which the entities go in.
    if (err == noErr) CFDictionaryGetKeysAndValues(serviceSettings, protocols, entities);
    if (err == noErr) err = MoreSCCopyCurrentSet(&currentSetID);
    if (err == noErr) err = MoreSCCopyServiceIDs(NULL, &serviceIDs, NULL);
    for (index = 0; err == noErr && index < CFArrayGetCount(serviceIDs); index++) {
        serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(serviceIDs, index));
        err       = MoreSCCopyBSDNameOfService(NULL, serviceID, &thisBSDName);
        // A service without a device (a VPN service), or one whose link or
        // record another program damaged, is passed over: it must not stop
        // the configuration of the port. One that could not be read may
        // have been on the port, which is reported below.
        if (err != noErr) {
            if (unreadable == noErr && !HasNoDevice(serviceID)) unreadable = err;
            err = noErr;
        } else if (CFEqual(thisBSDName, bsdName)) {
            onPort = true;
            (void)MoreSCSetServiceActive(NULL, serviceID, true);
            for (setting = 0; err == noErr && setting < settingCount; setting++) {
                err = ApplySetting(serviceID, static_cast<CFStringRef>(protocols[setting]),
                                   static_cast<CFDictionaryRef>(entities[setting]));
            }
        } else if (CFEqual(thisBSDName, kVaviVAZModemDiagnosticsPort) ||
                   CFEqual(thisBSDName, kVaviVAZModemControlPort)) {
            (void)MoreSCSetServiceActive(NULL, serviceID, false);
        }
        CFQRelease(thisBSDName);
        thisBSDName = NULL;
    }
    if (err == noErr && !onPort) err = unreadable;
    // The current set is never deleted; the call sweeps away shared services
    // that no set refers to any more.
    if (err != noErr && currentSetID != NULL) {
        (void)MoreSCDeleteSet(currentSetID);
        CFQRelease(currentSetID);
        currentSetID = NULL;
    }
    MoreSCClose(&err, true);

    // The commit at the close may have failed too.
    if (err == noErr && newSetID != NULL) {
        *newSetID    = currentSetID;
        currentSetID = NULL;
    }

    CFQRelease(currentSetID);
    CFQRelease(serviceIDs);
    CFQDeallocate(entities);
    CFQDeallocate(protocols);
    CheckNewSetID(err, newSetID);
    return err;
}

// Builds the entity of protocol from digest (an all-zero record when digest
// is NULL) and adds it to settings, unless settings has one already.
static OSStatus SetupEntity(CFMutableDictionaryRef settings, CFStringRef protocol,
                            const void *digest) noexcept
{
    OSStatus               err     = noErr;
    MoreSCProxiesDigest    scratch = {};   // the largest digest
    CFMutableDictionaryRef entity  = NULL; // owned

    VZ_ASSERT(settings != NULL);
    VZ_ASSERT(protocol != NULL);

    err = MoreSCCreateEntity(protocol, (digest != NULL) ? digest : &scratch, &entity);
    if (err == noErr) CFDictionaryAddValue(settings, protocol, entity);

    CFQRelease(entity);
    return err;
}

OSStatus MoreSCMakeNewDialupSet(CFStringRef bsdName, CFStringRef userVisibleName,
                                const MoreSCModemDigest *modemSettings,
                                const MoreSCPPPDigest   *pppSettings,
                                const MoreSCIPv4Digest  *ipv4Settings,
                                const MoreSCDNSDigest *dnsSettings, CFStringRef *newSetID) noexcept
{
    OSStatus               err      = noErr;
    CFMutableDictionaryRef settings = NULL; // owned

    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(pppSettings != NULL);
    VZ_ASSERT(pppSettings->active);
    VZ_ASSERT((newSetID == NULL) || (*newSetID == NULL));

    if (bsdName == NULL) err = kMoreSCErrorBadRequest;
    if (err == noErr) err = CFQDictionaryCreateMutable(&settings);
    if (err == noErr) err = SetupEntity(settings, kSCEntNetPPP, pppSettings);
    if (err == noErr && modemSettings != NULL) {
        err = SetupEntity(settings, kSCEntNetModem, modemSettings);
    }
    if (err == noErr && ipv4Settings != NULL) {
        err = SetupEntity(settings, kSCEntNetIPv4, ipv4Settings);
    }
    if (err == noErr && dnsSettings != NULL) err = SetupEntity(settings, kSCEntNetDNS, dnsSettings);
    if (err == noErr) {
        err = MoreSCMakeNewSingleServiceSet(bsdName, userVisibleName, settings, newSetID);
    }

    CFQRelease(settings);
    CheckNewSetID(err, newSetID);
    return err;
}

OSStatus MoreSCMakeNewPPPoESet(CFStringRef bsdName, CFStringRef userVisibleName,
                               const MoreSCPPPDigest  *pppSettings,
                               const MoreSCIPv4Digest *ipv4Settings,
                               const MoreSCDNSDigest *dnsSettings, CFStringRef *newSetID) noexcept
{
    OSStatus               err        = noErr;
    CFStringRef            port       = NULL; // owned
    CFMutableDictionaryRef settings   = NULL; // owned
    CFMutableDictionaryRef interface  = NULL; // owned
    MoreSCIPv4Digest       ipv4ViaPPP = {};

    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(pppSettings != NULL);
    VZ_ASSERT(pppSettings->active);
    VZ_ASSERT((newSetID == NULL) || (*newSetID == NULL));

    if (bsdName != NULL) {
        port = static_cast<CFStringRef>(CFQRetain(bsdName));
    } else {
        err = VaviVAZCopyDefaultPortBSDName(kSCEntNetEthernet, &port);
        if (err == noErr && port == NULL) err = kMoreSCErrorBadRequest;
    }
    if (err == noErr) err = CFQDictionaryCreateMutable(&settings);
    if (err == noErr) err = SetupEntity(settings, kSCEntNetPPP, pppSettings);
    ipv4ViaPPP.configMethod = kSCValNetIPv4ConfigMethodPPP;
    if (err == noErr) {
        err = SetupEntity(settings, kSCEntNetIPv4,
                          (ipv4Settings != NULL) ? ipv4Settings : &ipv4ViaPPP);
    }
    if (err == noErr && dnsSettings != NULL) err = SetupEntity(settings, kSCEntNetDNS, dnsSettings);
    // Merged into the port's interface entity, this turns its Ethernet
    // service into a PPPoE one.
    if (err == noErr) err = CFQDictionaryCreateMutable(&interface);
    if (err == noErr) {
        CFDictionarySetValue(interface, kSCPropNetInterfaceType, kSCValNetInterfaceTypePPP);
        CFDictionarySetValue(interface, kSCPropNetInterfaceSubType, kSCValNetInterfaceSubTypePPPoE);
        CFDictionaryAddValue(settings, kSCEntNetInterface, interface);
    }
    if (err == noErr) {
        err = MoreSCMakeNewSingleServiceSet(port, userVisibleName, settings, newSetID);
    }

    CFQRelease(interface);
    CFQRelease(settings);
    CFQRelease(port);
    CheckNewSetID(err, newSetID);
    return err;
}
