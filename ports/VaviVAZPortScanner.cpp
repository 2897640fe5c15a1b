// VaviVAZPortScanner.cpp: port enumeration: the registry scans for network
// interfaces, modem streams and RS-232 streams, the two steps that turn a
// registry entry into a port record, the sort order of the records, and the
// name callback's setter. The names are made in PortNames.cpp.
//
// Everything read from the registry is input: a value of the wrong kind is an
// error code (kPortErrorRegistryValue), never an assertion. Assertions check
// the caller's arguments and the platform's answers to calls that cannot fail
// on input (storing a number, releasing a handle).
#include "VaviVAZPortScanner.h"

#include "Internal.h"
#include "MoreCFQ.h"

#include <SystemConfiguration/SystemConfiguration.h>

// The public entry's assertion texts name the null pointer as nil.
#ifndef nil
#define nil NULL
#endif

enum {
    kTypeUnreadable  = 1, // the interface type of an interface without a readable one
    kMACAddressShort = 6,
    kMACAddressLong  = 8
};

VaviVAZPortNameCallback gPortNameCallback = NULL;

void VaviVAZSetPortNameCallback(VaviVAZPortNameCallback callback) noexcept
{
    gPortNameCallback = callback;
}

// ---------------------------------------------------------------------------
// Registry values.

OSStatus GetStringValue(CFDictionaryRef dict, CFStringRef key, CFStringRef *value) noexcept
{
    OSStatus  err   = noErr;
    CFTypeRef found = NULL; // borrowed from dict

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(value != NULL);

    found = CFDictionaryGetValue(dict, key);
    if (found != NULL && CFGetTypeID(found) != CFStringGetTypeID()) {
        err   = kPortErrorRegistryValue;
        found = NULL;
    }
    *value = static_cast<CFStringRef>(found);
    return err;
}

// Takes over a property read from the registry when it is a string.
static OSStatus AdoptStringProperty(CFTypeRef property, CFStringRef *value) noexcept
{
    OSStatus err = noErr;

    if (property != NULL && CFGetTypeID(property) != CFStringGetTypeID()) {
        CFRelease(property);
        property = NULL;
        err      = kPortErrorRegistryValue;
    }
    *value = static_cast<CFStringRef>(property);
    return err;
}

OSStatus CopyStringProperty(io_object_t entry, CFStringRef key, CFStringRef *value) noexcept
{
    VZ_ASSERT(value != NULL);
    VZ_ASSERT(*value == NULL);
    return AdoptStringProperty(IORegistryEntryCreateCFProperty(entry, key, NULL, 0), value);
}

OSStatus SearchStringPropertyUpwards(io_object_t entry, CFStringRef key,
                                     CFStringRef *value) noexcept
{
    VZ_ASSERT(value != NULL);
    VZ_ASSERT(*value == NULL);
    return AdoptStringProperty(
        IORegistryEntrySearchCFProperty(entry, kIOServicePlane, key, NULL,
                                        kIORegistryIterateRecursively | kIORegistryIterateParents),
        value);
}

// The registry's number as a 32-bit integer; false when the value is missing,
// not a number or does not fit.
static Boolean GetSInt32Value(CFTypeRef number, SInt32 *value) noexcept
{
    SInt32  read = 0;
    Boolean ok   = false;

    if (number != NULL && CFGetTypeID(number) == CFNumberGetTypeID()) {
        ok = CFNumberGetValue(static_cast<CFNumberRef>(number), kCFNumberSInt32Type, &read);
    }
    if (ok) *value = read;
    return ok;
}

// ---------------------------------------------------------------------------
// Device to record.

// Stores the controller's MAC address in the record. A controller without
// one gives no address; so does an address of another length than 6 or 8
// bytes, which no record may carry (the port stays: one odd controller must
// not hide the machine's other ports).
static OSStatus AddMACAddress(io_object_t controller, CFMutableDictionaryRef interfaceInfo) noexcept
{
    OSStatus           err       = noErr;
    CFTypeRef          macData   = NULL; // owned
    CFIndex            dataCount = 0;
    const UInt8       *bytes     = NULL;
    CFIndex            i         = 0;
    CFMutableStringRef result    = NULL; // owned

    macData = IORegistryEntryCreateCFProperty(controller, CFSTR(kIOMACAddress), NULL, 0);
    if (macData != NULL && CFGetTypeID(macData) != CFDataGetTypeID()) {
        err = kPortErrorRegistryValue;
    }
    if (err == noErr && macData != NULL) {
        dataCount = CFDataGetLength(static_cast<CFDataRef>(macData));
        bytes     = CFDataGetBytePtr(static_cast<CFDataRef>(macData));
    }
    if (err == noErr && ((dataCount == kMACAddressShort) || (dataCount == kMACAddressLong))) {
        result = CFStringCreateMutable(NULL, 0);
        VZ_ASSERT(result != NULL);
        for (i = 0; i < dataCount; i++) {
            CFStringAppendFormat(result, NULL, CFSTR("%2.2x:"), (unsigned int)bytes[i]);
        }
        CFStringTrim(result, CFSTR(":"));
        CFDictionarySetValue(interfaceInfo, kSCPropMACAddress, result);
    }

    CFQRelease(result);
    CFQRelease(macData);
    return err;
}

OSStatus EthernetDeviceToDictProc(void *contextPtr, io_object_t interface,
                                  CFMutableDictionaryRef interfaceInfo) noexcept
{
    OSStatus    err           = noErr;
    OSStatus    junk          = noErr;
    CFTypeRef   typeNumber    = NULL; // owned
    SInt32      interfaceType = kTypeUnreadable;
    CFStringRef hardware      = NULL; // borrowed constants
    CFStringRef type          = NULL;
    SInt32      sortOrder     = 0;
    CFStringRef bsdName       = NULL;           // owned
    io_object_t controller    = IO_OBJECT_NULL; // owned

    (void)contextPtr;
    VZ_ASSERT(interface != IO_OBJECT_NULL);
    VZ_ASSERT(interfaceInfo != NULL);

    typeNumber = IORegistryEntryCreateCFProperty(interface, CFSTR(kIOInterfaceType), NULL, 0);
    if (!GetSInt32Value(typeNumber, &interfaceType)) interfaceType = kTypeUnreadable;
    switch (interfaceType) {
    case IFT_ETHER:
        hardware  = kSCEntNetEthernet;
        type      = kSCValNetInterfaceTypeEthernet;
        sortOrder = kSortOrderEthernet;
        break;
    case IFT_IEEE1394:
        hardware  = kSCEntNetFireWire;
        type      = kSCValNetInterfaceTypeFireWire;
        sortOrder = kSortOrderFireWire;
        break;
    default:
        // Not a kind of port the system configures: the record stays empty.
        break;
    }

    if (hardware != NULL) {
        CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceHardware, hardware);
        CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceType, type);
        junk = CFQDictionarySetNumber(interfaceInfo, kVaviVAZPortSortOrderKey, sortOrder);
        VZ_ASSERT(junk == 0);

        err = CopyStringProperty(interface, CFSTR(kIOBSDNameKey), &bsdName);
        if (err == noErr && bsdName == NULL) err = kVaviVAZPortErrorNoName;
        if (err == noErr) {
            CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceDeviceName, bsdName);
            err = IORegistryEntryGetParentEntry(interface, kIOServicePlane, &controller);
        }
        if (err == noErr) err = AddMACAddress(controller, interfaceInfo);
    }

    if (controller != IO_OBJECT_NULL) {
        junk = IOObjectRelease(controller);
        VZ_ASSERT(junk == 0);
    }
    CFQRelease(bsdName);
    CFQRelease(typeNumber);
    return err;
}

OSStatus ModemOrSerialDeviceToDictProc(void *contextPtr, io_object_t interface,
                                       CFMutableDictionaryRef interfaceInfo) noexcept
{
    OSStatus               err            = noErr;
    OSStatus               junk           = noErr;
    CFTypeRef              hidden         = NULL; // owned
    CFMutableDictionaryRef interfaceProps = NULL; // owned
    CFStringRef            baseName       = NULL; // borrowed from interfaceProps
    CFStringRef            ttyDevice      = NULL; // borrowed from interfaceProps
    Boolean                isPort         = false;
    SInt32                 sortOrder      = kSortOrderSerial;
    CFTypeRef              supportsHold   = NULL; // owned

    (void)contextPtr;
    VZ_ASSERT(interface != IO_OBJECT_NULL);
    VZ_ASSERT(interfaceInfo != NULL);

    // A port hidden by itself or by any device above it is no port, whatever
    // the value says.
    hidden =
        IORegistryEntrySearchCFProperty(interface, kIOServicePlane, kPortHiddenPortKey, NULL,
                                        kIORegistryIterateRecursively | kIORegistryIterateParents);
    if (hidden == NULL) {
        err = IORegistryEntryCreateCFProperties(interface, &interfaceProps, NULL, 0);
        if (err == noErr) err = GetStringValue(interfaceProps, CFSTR(kIOTTYBaseNameKey), &baseName);
        isPort = (err == noErr) && (baseName != NULL) && !CFEqual(baseName, CFSTR("irda"));
    }
    if (isPort) {
        err = GetStringValue(interfaceProps, CFSTR(kIOTTYDeviceKey), &ttyDevice);
        if (err == noErr && ttyDevice == NULL) err = kPortErrorNoDevice;
    }
    if (isPort && err == noErr) {
        CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceDeviceName, ttyDevice);
        CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceHardware, kSCEntNetModem);
        CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceType, kSCValNetInterfaceTypePPP);
        CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceSubType,
                             kSCValNetInterfaceSubTypePPPSerial);
        if (CFStringHasPrefix(baseName, kVaviVAZHardwareVariantIrDA)) {
            sortOrder = kSortOrderIrDA;
            CFDictionarySetValue(interfaceInfo, kVaviVAZPortHardwareVariantKey,
                                 kVaviVAZHardwareVariantIrDA);
        } else if (CFStringHasPrefix(baseName, kVaviVAZHardwareVariantBluetooth)) {
            sortOrder = kSortOrderBluetooth;
            CFDictionarySetValue(interfaceInfo, kVaviVAZPortHardwareVariantKey,
                                 kVaviVAZHardwareVariantBluetooth);
        }
        junk = CFQDictionarySetNumber(interfaceInfo, kVaviVAZPortSortOrderKey, sortOrder);
        VZ_ASSERT(junk == 0);

        // Only a number reaches the record; a value of another kind is left
        // out and the port kept, as on a modem that does not say.
        supportsHold = IORegistryEntrySearchCFProperty(
            interface, kIOServicePlane, kPortV92ModemKey, NULL,
            kIORegistryIterateRecursively | kIORegistryIterateParents);
        if (supportsHold != NULL && CFGetTypeID(supportsHold) == CFNumberGetTypeID()) {
            CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceSupportsModemOnHold,
                                 supportsHold);
        }
    }

    CFQRelease(supportsHold);
    CFQRelease(interfaceProps);
    CFQRelease(hidden);
    return err;
}

// ---------------------------------------------------------------------------
// Scanning.

OSStatus AddMatchingDevicesToArray(mach_port_t masterPort, CFDictionaryRef deviceMatchDict,
                                   DeviceToDictProc deviceToDict, void *contextPtr,
                                   CFMutableArrayRef result) noexcept
{
    OSStatus               err        = noErr;
    OSStatus               junk       = noErr;
    io_iterator_t          iterator   = IO_OBJECT_NULL; // owned
    io_object_t            thisObject = IO_OBJECT_NULL; // owned, one at a time
    CFMutableDictionaryRef thisDict   = NULL;           // owned, one at a time
    CFMutableStringRef     thisName   = NULL;           // owned, one at a time

    VZ_ASSERT(deviceMatchDict != NULL);
    VZ_ASSERT(deviceToDict != NULL);
    VZ_ASSERT(result != NULL);

    // The platform consumes the matching dictionary.
    err = IOServiceGetMatchingServices(masterPort, deviceMatchDict, &iterator);
    while (err == noErr && (thisObject = IOIteratorNext(iterator)) != IO_OBJECT_NULL) {
        err = CFQDictionaryCreateMutable(&thisDict);
        if (err == noErr) err = deviceToDict(contextPtr, thisObject, thisDict);
        // An empty record marks a device that is not a port: skipped.
        if (err == noErr && CFDictionaryGetCount(thisDict) != 0) {
            err = CopyUserVisiblePortName(thisObject, thisDict, &thisName);
            if (err == noErr) {
                CFDictionarySetValue(thisDict, kSCPropUserDefinedName, thisName);
                CFArrayAppendValue(result, thisDict);
            }
        }

        junk = IOObjectRelease(thisObject);
        VZ_ASSERT(junk == 0);
        thisObject = IO_OBJECT_NULL;
        CFQRelease(thisDict);
        thisDict = NULL;
        CFQRelease(thisName);
        thisName = NULL;
    }

    if (iterator != IO_OBJECT_NULL) {
        junk = IOObjectRelease(iterator);
        VZ_ASSERT(junk == 0);
    }
    return err;
}

// One scan over the entries matchDict selects (consumed, also when it is
// NULL because it could not be made).
static OSStatus AddMatchingPorts(CFMutableDictionaryRef matchDict, DeviceToDictProc deviceToDict,
                                 CFMutableArrayRef result) noexcept
{
    OSStatus err = noErr;

    err = CFQError(matchDict);
    if (err == noErr) {
        err =
            AddMatchingDevicesToArray(kIOMasterPortDefault, matchDict, deviceToDict, NULL, result);
    }
    return err;
}

static CFMutableDictionaryRef CreateSerialMatching(CFStringRef streamType) noexcept
{
    CFMutableDictionaryRef matchDict = NULL; // handed out

    matchDict = IOServiceMatching(kIOSerialBSDServiceValue);
    if (matchDict != NULL) CFDictionarySetValue(matchDict, CFSTR(kIOSerialBSDTypeKey), streamType);
    return matchDict;
}

OSStatus MoreSCCreatePortArrayOld(CFArrayRef *portArray) noexcept
{
    OSStatus          err    = noErr;
    CFMutableArrayRef result = NULL; // owned until handed over

    VZ_ASSERT(portArray != NULL);
    VZ_ASSERT(*portArray == NULL);

    err = CFQArrayCreateMutable(&result);
    if (err == noErr) {
        err = AddMatchingPorts(IOServiceMatching(kIONetworkInterfaceClass),
                               EthernetDeviceToDictProc, result);
    }
    if (err == noErr) {
        err = AddMatchingPorts(CreateSerialMatching(CFSTR(kIOSerialBSDModemType)),
                               ModemOrSerialDeviceToDictProc, result);
    }
    if (err == noErr) {
        err = AddMatchingPorts(CreateSerialMatching(CFSTR(kIOSerialBSDRS232Type)),
                               ModemOrSerialDeviceToDictProc, result);
    }
    if (err == noErr) {
        CFArraySortValues(result, CFRangeMake(0, CFArrayGetCount(result)), PortSorter, NULL);
        *portArray = result;
        result     = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*portArray != NULL));
    return err;
}

OSStatus MoreSCCreatePortArray(CFArrayRef *portArray) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(portArray != nil);
    VZ_ASSERT(*portArray == nil);
    err = MoreSCCreatePortArrayOld(portArray);
    VZ_ASSERT((err == noErr) == (*portArray != NULL));
    return err;
}

// ---------------------------------------------------------------------------
// Sorting.

SInt32 SortOrder(CFDictionaryRef portDict) noexcept
{
    SInt32      result = kSortOrderDefault;
    CFNumberRef numRef = NULL; // borrowed from portDict

    VZ_ASSERT(portDict != NULL);

    numRef = static_cast<CFNumberRef>(CFDictionaryGetValue(portDict, kVaviVAZPortSortOrderKey));
    if (numRef != NULL) {
        VZ_ASSERT(CFGetTypeID(numRef) == CFNumberGetTypeID());
        (void)CFNumberGetValue(numRef, kCFNumberSInt32Type, &result);
    }
    return result;
}

CFComparisonResult PortSorter(const void *lhs, const void *rhs, void *context) noexcept
{
    CFComparisonResult result   = kCFCompareEqualTo;
    CFDictionaryRef    lhsDict  = static_cast<CFDictionaryRef>(lhs);
    CFDictionaryRef    rhsDict  = static_cast<CFDictionaryRef>(rhs);
    SInt32             lhsOrder = 0;
    SInt32             rhsOrder = 0;

    (void)context;
    VZ_ASSERT(lhs != NULL);
    VZ_ASSERT(rhs != NULL);
    VZ_ASSERT(CFGetTypeID(lhsDict) == CFDictionaryGetTypeID());
    VZ_ASSERT(CFGetTypeID(rhsDict) == CFDictionaryGetTypeID());

    lhsOrder = SortOrder(lhsDict);
    rhsOrder = SortOrder(rhsDict);
    if (lhsOrder > rhsOrder) {
        result = kCFCompareGreaterThan;
    } else if (lhsOrder < rhsOrder) {
        result = kCFCompareLessThan;
    } else {
        // The platform's collators are made once per locale and kept, so a
        // sort does not build one per comparison.
        result = CFStringCompare(
            static_cast<CFStringRef>(CFDictionaryGetValue(lhsDict, kSCPropUserDefinedName)),
            static_cast<CFStringRef>(CFDictionaryGetValue(rhsDict, kSCPropUserDefinedName)),
            kCFCompareLocalized);
    }
    return result;
}
