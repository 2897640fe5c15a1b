// NewServiceAndSet.cpp: what a freshly configured port looks like. A new
// service is made from one port record of the scanner and filled with the
// family of entities its kind of port gets; a new set holds one such service
// for every port of the machine, in port order.
//
// A network port is one whose record has a MAC address (Ethernet, AirPort,
// FireWire), a modem port one without. The family:
//
//   Interface  every port: the record's device name, name, hardware and type;
//              the subtype of a modem port; the hardware variant and the
//              modem-on-hold mark where the record has them
//   Proxies    every port: FTP passive mode from 10.2 on
//   AppleTalk  network ports: node configuration, inactive
//   DNS        every port: no servers, no search domains
//   IPv4       DHCP on a network port, PPP on a modem port
//   IPv6       every port from 10.3 on: automatic
//   PPP        every port: inactive with the PPPoE defaults on a network
//              port, active with the dial-up defaults on a modem port; LCP
//              echo on only for "en0", "modem" and AirPort
//   link       AirPort or Ethernet with the port's MAC address; none for
//              FireWire; Modem with the default modem script on a modem port
//
// Both operations make their steps through the in-bracket bodies of the
// writers (Internal.h), so only their own close marks the session as a
// writer, and only on success. A call that fails needs no clean-up of its
// own: its close puts the snapshot back as its open found it (Session.cpp),
// so neither a half-made service nor its link nor a new set is left, even
// when linking the service into the set failed half-way or a set elsewhere
// in the store makes every sweep fail.
#include "VaviVAZ.h"

#include "Internal.h"
#include "MoreCFQ.h"
#include "VaviVAZCCLScanner.h"
#include "VaviVAZDigest.h"
#include "VaviVAZPortScanner.h"

#include <cstring>

// ---------------------------------------------------------------------------
// The entities of a new service.

// Non-zero kSCPropNetInterfaceSupportsModemOnHold, read as a 32-bit number.
static Boolean PortSupportsHold(CFDictionaryRef portDict) noexcept
{
    CFTypeRef value = CFDictionaryGetValue(portDict, kSCPropNetInterfaceSupportsModemOnHold);
    SInt32    hold  = 0;

    return value != NULL && CFGetTypeID(value) == CFNumberGetTypeID() &&
           CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberSInt32Type, &hold) &&
           hold != 0;
}

// The name of the default modem script: the catalogue's default, or an empty
// name when no script is installed.
static OSStatus CopyDefaultModemScriptName(CFStringRef *name) noexcept
{
    OSStatus   err          = noErr;
    CFArrayRef scripts      = NULL; // owned
    CFIndex    defaultIndex = 0;

    VZ_ASSERT(name != NULL);
    VZ_ASSERT(*name == NULL);

    err = MoreSCCreateCCLArray(&scripts, &defaultIndex);
    if (err == noErr) {
        if (CFArrayGetCount(scripts) > 0) {
            *name =
                static_cast<CFStringRef>(CFQRetain(CFArrayGetValueAtIndex(scripts, defaultIndex)));
        } else {
            *name = static_cast<CFStringRef>(CFQRetain(CFSTR("")));
        }
        err = CFQError(*name);
    }

    CFQRelease(scripts);
    VZ_ASSERT((err == noErr) == (*name != NULL));
    return err;
}

static OSStatus AddIPv6Entity(CFStringRef setID, CFStringRef serviceID) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef entity = NULL; // owned

    err = CFQDictionaryCreateMutable(&entity);
    if (err == noErr) {
        CFDictionarySetValue(entity, kSCPropNetIPv6ConfigMethod,
                             kSCValNetIPv6ConfigMethodAutomatic);
        err = NewEntityInBracket(setID, serviceID, kSCEntNetIPv6, entity);
    }

    CFQRelease(entity);
    return err;
}

// The PPP entity every port gets: the system's PPPoE defaults on a network
// port, its dial-up defaults on a modem port, with LCP echo as given.
static OSStatus AddPPPEntity(CFStringRef setID, CFStringRef serviceID, Boolean modemPort,
                             Boolean lcpEchoEnabled) noexcept
{
    OSStatus               err     = noErr;
    MoreSCPPPOptions       options = *MoreSCGetDefaultPPPOptions(!modemPort);
    MoreSCPPPDigest        digest  = {};
    CFMutableDictionaryRef entity  = NULL; // owned

    options.lcpEchoEnabled = lcpEchoEnabled;
    digest.active          = modemPort;
    digest.options         = &options;
    err                    = MoreSCCreatePPPEntity(&digest, &entity);
    if (err == noErr) err = NewEntityInBracket(setID, serviceID, kSCEntNetPPP, entity);

    CFQRelease(entity);
    return err;
}

// The link entity: the modem's settings with the default script, or the
// network port's MAC address under AirPort or Ethernet; FireWire has none.
static OSStatus AddLinkEntity(CFStringRef setID, CFStringRef serviceID, CFDictionaryRef portDict,
                              Boolean modemPort, Boolean supportsHold) noexcept
{
    OSStatus             err      = noErr;
    CFStringRef          hardware = NULL; // borrowed from portDict
    CFStringRef          script   = NULL; // owned
    MoreSCModemDigest    modem    = kMoreSCModemDigestDefault;
    MoreSCAirPortDigest  airPort  = {};
    MoreSCEthernetDigest ethernet = {};
    UInt8                macAddress[6];

    hardware =
        static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropNetInterfaceHardware));
    if (modemPort) {
        modem.errorCorrectionAndCompression = true;
        modem.speaker                       = true;
        modem.waitForDialTone               = true;
        modem.supportsHold                  = supportsHold;
        err                                 = CopyDefaultModemScriptName(&script);
        modem.connectionScript              = script;
        if (err == noErr) err = AddEntityToService(setID, serviceID, kSCEntNetModem, &modem);
    } else if (!CFEqual(hardware, kSCEntNetFireWire)) {
        err = VaviVAZStringToMacAddress(
            static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropMACAddress)),
            macAddress);
        if (err == noErr && CFEqual(hardware, kSCEntNetAirPort)) {
            std::memcpy(airPort.macAddress, macAddress, sizeof(macAddress));
            err = AddEntityToService(setID, serviceID, kSCEntNetAirPort, &airPort);
        } else if (err == noErr) {
            std::memcpy(ethernet.macAddress, macAddress, sizeof(macAddress));
            err = AddEntityToService(setID, serviceID, kSCEntNetEthernet, &ethernet);
        }
    }

    CFQRelease(script);
    return err;
}

// Fills the new service with the family of its kind of port, in the order of
// the table above; stops at the first error.
static OSStatus AddServiceEntities(CFStringRef setID, CFStringRef serviceID,
                                   CFDictionaryRef portDict) noexcept
{
    OSStatus              err        = noErr;
    CFStringRef           hardware   = NULL; // the record's values, borrowed
    CFStringRef           deviceName = NULL;
    Boolean               modemPort  = false;
    Boolean               hold       = false;
    MoreSCInterfaceDigest interface  = {};
    MoreSCProxiesDigest   proxies    = {};
    MoreSCAppleTalkDigest appleTalk  = {};
    MoreSCDNSDigest       dns        = {};
    MoreSCIPv4Digest      ipv4       = {};

    hardware =
        static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropNetInterfaceHardware));
    deviceName =
        static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropNetInterfaceDeviceName));
    modemPort = !CFDictionaryContainsKey(portDict, kSCPropMACAddress);
    hold      = modemPort && PortSupportsHold(portDict);

    interface.deviceName = deviceName;
    interface.hardware   = hardware;
    interface.type =
        static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropNetInterfaceType));
    interface.userDefinedName =
        static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropUserDefinedName));
    if (modemPort) {
        interface.subType =
            static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropNetInterfaceSubType));
    }
    interface.variant =
        static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kVaviVAZPortHardwareVariantKey));
    interface.supportsHold = hold;
    err                    = AddEntityToService(setID, serviceID, kSCEntNetInterface, &interface);

    proxies.ftpPassive = MoreSCIsTenTwoOrLater(); // FTP passive mode from 10.2
    if (err == noErr) err = AddEntityToService(setID, serviceID, kSCEntNetProxies, &proxies);

    // Left inactive: AppleTalk is for the user to switch on.
    appleTalk.configMethod = kSCValNetAppleTalkConfigMethodNode;
    if (err == noErr && !modemPort) {
        err = AddEntityToService(setID, serviceID, kSCEntNetAppleTalk, &appleTalk);
    }

    if (err == noErr) err = AddEntityToService(setID, serviceID, kSCEntNetDNS, &dns);

    ipv4.configMethod = modemPort ? kSCValNetIPv4ConfigMethodPPP : kSCValNetIPv4ConfigMethodDHCP;
    if (err == noErr) {
        gMoreSCCreateIPv4EntityDontCheck = true;
        err = AddEntityToService(setID, serviceID, kSCEntNetIPv4, &ipv4);
        gMoreSCCreateIPv4EntityDontCheck = false;
    }

    if (err == noErr && MoreSCIsTenThreeOrLater()) err = AddIPv6Entity(setID, serviceID);

    // LCP echo suits the built-in ports; other adaptors and modems may not
    // answer it and would be hung up on.
    if (err == noErr) {
        err =
            AddPPPEntity(setID, serviceID, modemPort,
                         CFEqual(deviceName, CFSTR("en0")) || CFEqual(deviceName, CFSTR("modem")) ||
                             CFEqual(hardware, kSCEntNetAirPort));
    }

    if (err == noErr) err = AddLinkEntity(setID, serviceID, portDict, modemPort, hold);
    return err;
}

// ---------------------------------------------------------------------------
// New service.

// The rules a port record must keep for a service to be made from it, in
// the order they are checked, each once: MoreSCCheckPortRecord reports the
// first that is broken, and MoreSCNewService stops the process with its
// expression, as an assertion of its argument would. A rule is evaluated only
// while all before it hold, so it may rely on them.
#define CHECK_PORT_RULE(expr, words)                                                               \
    do {                                                                                           \
        if (*expression == NULL && !(expr)) {                                                      \
            *expression = #expr;                                                                   \
            *reason     = (words);                                                                 \
        }                                                                                          \
    } while (0)

static void CheckPortRules(CFDictionaryRef portDict, const char **expression,
                           const char **reason) noexcept
{
    CFTypeRef name       = CFDictionaryGetValue(portDict, kSCPropUserDefinedName);
    CFTypeRef hardware   = CFDictionaryGetValue(portDict, kSCPropNetInterfaceHardware);
    CFTypeRef type       = CFDictionaryGetValue(portDict, kSCPropNetInterfaceType);
    CFTypeRef deviceName = CFDictionaryGetValue(portDict, kSCPropNetInterfaceDeviceName);
    CFTypeRef subType    = CFDictionaryGetValue(portDict, kSCPropNetInterfaceSubType);
    CFTypeRef mac        = CFDictionaryGetValue(portDict, kSCPropMACAddress);
    CFTypeRef variant    = CFDictionaryGetValue(portDict, kVaviVAZPortHardwareVariantKey);

    CHECK_PORT_RULE(CFDictionaryContainsKey(portDict, kSCPropUserDefinedName), "it has no name");
    CHECK_PORT_RULE(CFDictionaryContainsKey(portDict, kSCPropNetInterfaceHardware),
                    "it has no hardware");
    CHECK_PORT_RULE(CFDictionaryContainsKey(portDict, kSCPropNetInterfaceType),
                    "it has no interface type");
    CHECK_PORT_RULE(CFDictionaryContainsKey(portDict, kSCPropNetInterfaceDeviceName),
                    "it has no device name");
    CHECK_PORT_RULE(CFEqual(hardware, kSCEntNetEthernet) || CFEqual(hardware, kSCEntNetAirPort) ||
                        CFEqual(hardware, kSCEntNetModem) || CFEqual(hardware, kSCEntNetFireWire),
                    "its hardware is none a service is made for");
    CHECK_PORT_RULE(CFEqual(type, kSCValNetInterfaceTypeEthernet) ||
                        CFEqual(type, kSCValNetInterfaceTypePPP) ||
                        CFEqual(type, kSCValNetInterfaceTypeFireWire),
                    "its interface type is none a service is made for");
    CHECK_PORT_RULE(CFEqual(type, kSCValNetInterfaceTypePPP) == (subType != NULL),
                    "its interface subtype does not go with its type");
    if (subType != NULL) {
        CHECK_PORT_RULE(CFEqual(subType, kSCValNetInterfaceSubTypePPPSerial) ||
                            CFEqual(subType, kSCValNetInterfaceSubTypePPPoE),
                        "its interface subtype is none a service is made for");
    }
    // Two causes, one rule: the words name the one at hand.
    if (*expression == NULL && CFEqual(hardware, kSCEntNetModem)) {
        CHECK_PORT_RULE(CFEqual(hardware, kSCEntNetModem) == (mac == NULL),
                        "it is a modem with a MAC address");
    }
    CHECK_PORT_RULE(CFEqual(hardware, kSCEntNetModem) == (mac == NULL),
                    "its controller reports no MAC address");
    CHECK_PORT_RULE((variant == NULL) || CFEqual(hardware, kSCEntNetModem),
                    "it has a hardware variant but is no modem");
    // The service is named after the port and bound to its device, and the
    // MAC address is parsed: each must be a string.
    CHECK_PORT_RULE(CFGetTypeID(name) == CFStringGetTypeID(), "its name is no text");
    CHECK_PORT_RULE(CFGetTypeID(deviceName) == CFStringGetTypeID(), "its device name is no text");
    CHECK_PORT_RULE((mac == NULL) || (CFGetTypeID(mac) == CFStringGetTypeID()),
                    "its MAC address is no text");
}

#undef CHECK_PORT_RULE

OSStatus MoreSCCheckPortRecord(CFDictionaryRef portDict, const char **reason) noexcept
{
    const char *expression = NULL;
    const char *words      = NULL;

    VZ_ASSERT(portDict != NULL);

    CheckPortRules(portDict, &expression, &words);
    if (reason != NULL) *reason = words;
    return (expression == NULL) ? static_cast<OSStatus>(noErr)
                                : static_cast<OSStatus>(kMoreSCErrorBadRequest);
}

// The body of MoreSCNewService, inside the caller's bracket.
static OSStatus NewServiceInBracket(CFStringRef setID, CFDictionaryRef portDict,
                                    CFStringRef *newServiceID) noexcept
{
    OSStatus    err         = noErr;
    CFStringRef serviceID   = NULL; // owned until handed over
    CFStringRef servicePath = NULL; // owned

    VZ_ASSERT(newServiceID != NULL);
    VZ_ASSERT(*newServiceID == NULL);
    VZ_ASSERT(gPrefsOpenCount > 0 && gPrefsRef != NULL);

    err = MakeNewSeAndCopyIDAndPath(kSCPrefNetworkServices, &serviceID, &servicePath);
    if (err == noErr) err = AddServiceToSet(setID, serviceID);
    if (err == noErr) {
        err = RenameServiceInBracket(
            setID, serviceID,
            static_cast<CFStringRef>(CFDictionaryGetValue(portDict, kSCPropUserDefinedName)));
    }
    if (err == noErr) err = AddServiceEntities(setID, serviceID, portDict);
    if (err == noErr) {
        *newServiceID = serviceID;
        serviceID     = NULL;
    }

    CFQRelease(servicePath);
    CFQRelease(serviceID);
    VZ_ASSERT((err == noErr) == (*newServiceID != NULL));
    return err;
}

OSStatus MoreSCNewService(CFStringRef setID, CFDictionaryRef portDict,
                          CFStringRef *newServiceID) noexcept
{
    OSStatus    err        = noErr;
    const char *expression = NULL; // the rule the record breaks
    const char *reason     = NULL;
    CFStringRef serviceID  = NULL; // owned until handed over

    VZ_ASSERT(portDict != NULL);
    CheckPortRules(portDict, &expression, &reason);
    if (expression != NULL) CFQAssertionFailed(__FILE__, __LINE__, expression);
    VZ_ASSERT((newServiceID == NULL) || (*newServiceID == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr) err = NewServiceInBracket(setID, portDict, &serviceID);
    MoreSCClose(&err, true);

    if (err == noErr && newServiceID != NULL) {
        *newServiceID = serviceID;
        serviceID     = NULL;
    }

    CFQRelease(serviceID);
    VZ_ASSERT((newServiceID == NULL) || ((err == noErr) == (*newServiceID != NULL)));
    return err;
}

// ---------------------------------------------------------------------------
// New set.

// One service for every port of the machine, in port order, into the new set.
static OSStatus AddServicesForPorts(CFStringRef setID) noexcept
{
    OSStatus        err       = noErr;
    CFArrayRef      ports     = NULL; // owned
    CFDictionaryRef port      = NULL; // borrowed from ports
    CFStringRef     serviceID = NULL; // owned, one port at a time
    CFIndex         index     = 0;

    err = MoreSCCreatePortArray(&ports);
    for (index = 0; err == noErr && index < CFArrayGetCount(ports); index++) {
        port = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(ports, index));
        // Before 10.4 the system runs no IP over FireWire. A port the
        // registry describes without what a service needs (a network port
        // without a MAC address) gets no service either: the set is made
        // for the ports that can be configured.
        if (!MoreSCIsTenFourOrLater() &&
            CFEqual(CFDictionaryGetValue(port, kSCPropNetInterfaceHardware), kSCEntNetFireWire)) {
            continue;
        }
        if (MoreSCCheckPortRecord(port, NULL) != noErr) continue;
        err = NewServiceInBracket(setID, port, &serviceID);
        CFQRelease(serviceID);
        serviceID = NULL;
    }

    CFQRelease(ports);
    return err;
}

// Stores an empty dictionary at the path that copyPath gives for the set.
static OSStatus StoreEmptyLevel(CFStringRef setID,
                                OSStatus (*copyPath)(CFStringRef, CFStringRef *) noexcept,
                                CFDictionaryRef empty) noexcept
{
    OSStatus    err  = noErr;
    CFStringRef path = NULL; // owned

    err = copyPath(setID, &path);
    if (err == noErr) err = MoreSCErrorBoolean(SCPreferencesPathSetValue(gPrefsRef, path, empty));

    CFQRelease(path);
    return err;
}

// A new set named userVisibleName: empty, or with a service for every port.
static OSStatus NewSet(CFStringRef userVisibleName, Boolean forPorts,
                       CFStringRef *newSetID) noexcept
{
    OSStatus               err          = noErr;
    CFStringRef            setID        = NULL; // owned until handed over
    CFStringRef            setPath      = NULL; // owned
    CFMutableDictionaryRef empty        = NULL; // owned
    MoreSCGlobalDigest     globalDigest = {};

    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT((newSetID == NULL) || (*newSetID == NULL));

    err = MoreSCOpen(false, false);
    if (err == noErr) err = MakeNewSeAndCopyIDAndPath(kSCPrefSets, &setID, &setPath);
    if (err == noErr) err = CFQDictionaryCreateMutable(&empty);
    if (err == noErr) err = StoreEmptyLevel(setID, CopySetServicesPath, empty);
    if (err == noErr) err = StoreEmptyLevel(setID, CopySetGlobalsPath, empty);
    // The IPv4 global entity carries the set's service order, empty for now.
    if (err == noErr) err = AddGlobalEntityToSet(setID, kSCEntNetIPv4, &globalDigest);
    // Up to 10.4.x a set has a NetInfo global entity too.
    if (err == noErr && !MoreSCIsTenFiveOrLater()) {
        err = AddGlobalEntityToSet(setID, kSCEntNetNetInfo, &globalDigest);
    }
    if (err == noErr && forPorts) err = AddServicesForPorts(setID);
    if (err == noErr) err = RenameSetInBracket(setID, userVisibleName);
    MoreSCClose(&err, true);

    if (err == noErr && newSetID != NULL) {
        *newSetID = setID;
        setID     = NULL;
    }

    CFQRelease(empty);
    CFQRelease(setPath);
    CFQRelease(setID);
    VZ_ASSERT((newSetID == NULL) || ((err == noErr) == (*newSetID != NULL)));
    return err;
}

OSStatus MoreSCNewSet(CFStringRef userVisibleName, CFStringRef *newSetID) noexcept
{
    return NewSet(userVisibleName, true, newSetID);
}

OSStatus MoreSCNewEmptySet(CFStringRef userVisibleName, CFStringRef *newSetID) noexcept
{
    return NewSet(userVisibleName, false, newSetID);
}
