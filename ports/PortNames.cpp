// PortNames.cpp: the user-visible names of ports. Each port gets a fixed name
// (built-in and well-known ports) or a name template whose placeholders take
// values the naming stores in the port record ("%1$@" "BSD Name", "%2$@"
// "slot-name", "%3$@" "IOChildIndex", "%4$@" "IOTTYBaseName"); a client's
// callback may supply a template of its own. While naming, the rules also set
// the final sort value of most ports and mark AirPort hardware.
//
// The names are fixed English texts. Values read from the registry are input:
// a value of the wrong kind is an error code, and a name taken from the
// registry (a product name, a BSD name) is never read as a template whose
// placeholders could ask for values the record lacks.
#include "VaviVAZPortScanner.h"

#include "Internal.h"
#include "MoreCFQ.h"
#include "MoreSCSystemVersion.h"

#include <SystemConfiguration/SystemConfiguration.h>

enum {
    kSortOrderUnchanged = -1 // the naming keeps the value the enumeration wrote
};

// ---------------------------------------------------------------------------
// Strings from registry values.

CFStringRef CreateStringFromProperty(CFTypeRef prop) noexcept
{
    CFStringRef whole  = NULL; // owned: the value as a string, zeros and all
    CFStringRef result = NULL; // handed out
    CFIndex     length = 0;

    VZ_ASSERT(prop != NULL);

    if (CFGetTypeID(prop) == CFDataGetTypeID()) {
        whole = CFStringCreateWithBytes(NULL, CFDataGetBytePtr(static_cast<CFDataRef>(prop)),
                                        CFDataGetLength(static_cast<CFDataRef>(prop)),
                                        kCFStringEncodingMacRoman, false);
    } else if (CFGetTypeID(prop) == CFStringGetTypeID()) {
        whole = static_cast<CFStringRef>(CFQRetain(prop));
    }
    if (whole != NULL) {
        // Registry names are often stored with their terminating zero.
        length = CFStringGetLength(whole);
        while (length > 0 && CFStringGetCharacterAtIndex(whole, length - 1) == 0) {
            length--;
        }
        result = CFStringCreateWithSubstring(NULL, whole, CFRangeMake(0, length));
    }

    CFQRelease(whole);
    return result;
}

// ---------------------------------------------------------------------------
// Network ports.

struct SlotLabel {
    CFStringRef label;
    CFStringRef shown;
};

// A slot label as the user knows the slot; labels the table does not hold
// are shown as they are.
static CFStringRef ShownSlotLabel(CFStringRef label) noexcept
{
    static const SlotLabel kSlotTable[] = {
        {CFSTR("A1"), CFSTR("1")},  {CFSTR("B1"), CFSTR("2")},  {CFSTR("C1"), CFSTR("3")},
        {CFSTR("J12"), CFSTR("1")}, {CFSTR("J11"), CFSTR("2")}, {CFSTR("J10"), CFSTR("3")},
        {CFSTR("J9"), CFSTR("4")},  {CFSTR("A"), CFSTR("1")},   {CFSTR("B"), CFSTR("2")},
        {CFSTR("C"), CFSTR("3")},   {CFSTR("D"), CFSTR("4")},
    };
    CFStringRef shown = label;

    if (MoreSCIsTenTwoOrLater()) {
        for (const SlotLabel &row : kSlotTable) {
            if (CFEqual(label, row.label)) {
                shown = row.shown;
                break;
            }
        }
    }
    return shown;
}

// Stores the slot label and, for a card with several ports, the port number
// of a PCI card's interface, and gives its template. Values that cannot be
// read become "unknown": they only feed the name.
static CFStringRef AddPCICardValues(CFDictionaryRef        deviceProps,
                                    CFMutableDictionaryRef interfaceInfo) noexcept
{
    CFTypeRef   slotProp    = NULL; // borrowed from deviceProps
    CFStringRef slotText    = NULL; // owned
    CFStringRef stripped    = NULL; // owned
    CFStringRef label       = NULL; // borrowed
    SInt32      childIndex  = 0;
    CFTypeRef   childProp   = NULL; // borrowed from deviceProps
    CFStringRef portText    = NULL; // owned
    CFStringRef theTemplate = CFSTR("PCI Ethernet Slot %2$@");

    slotProp = CFDictionaryGetValue(deviceProps, kPortSlotNameKey);
    if (slotProp != NULL) slotText = CreateStringFromProperty(slotProp);
    if (slotText == NULL) {
        CFDictionarySetValue(interfaceInfo, kPortSlotNameKey, kPortUnknownValue);
    } else {
        label = slotText;
        if (CFStringHasPrefix(slotText, CFSTR("SLOT-"))) {
            stripped = CFStringCreateWithSubstring(NULL, slotText,
                                                   CFRangeMake(5, CFStringGetLength(slotText) - 5));
            if (stripped != NULL) label = stripped;
        }
        CFDictionarySetValue(interfaceInfo, kPortSlotNameKey, ShownSlotLabel(label));
    }

    childProp = CFDictionaryGetValue(deviceProps, kPortChildIndexKey);
    if (childProp != NULL && CFGetTypeID(childProp) == CFNumberGetTypeID() &&
        CFNumberGetValue(static_cast<CFNumberRef>(childProp), kCFNumberSInt32Type, &childIndex)) {
        // Users count ports from 1; the registry from 0.
        portText = CFStringCreateWithFormat(NULL, NULL, CFSTR("%ld"), (long)childIndex + 1);
        CFDictionarySetValue(interfaceInfo, kPortChildIndexKey,
                             portText != NULL ? portText : kPortUnknownValue);
        theTemplate = CFSTR("PCI Ethernet Slot %2$@, Port %3$@");
    }

    CFQRelease(portText);
    CFQRelease(stripped);
    CFQRelease(slotText);
    return theTemplate;
}

// The default name template of a network interface, from the interface, its
// controller (the interface's parent) and the controller's device.
static OSStatus CopyUserVisibleNameForNetworkPort(io_object_t            interface,
                                                  CFMutableDictionaryRef interfaceInfo,
                                                  CFStringRef           *userVisibleName) noexcept
{
    OSStatus               err             = noErr;
    OSStatus               junk            = noErr;
    io_object_t            controller      = IO_OBJECT_NULL; // owned
    io_object_t            device          = IO_OBJECT_NULL; // owned
    CFMutableDictionaryRef controllerProps = NULL;           // owned
    CFMutableDictionaryRef deviceProps     = NULL;           // owned
    CFStringRef            bsdName         = NULL;           // owned
    CFStringRef            ioClass         = NULL;           // borrowed from controllerProps
    CFStringRef            providerClass   = NULL;           // borrowed from controllerProps
    CFTypeRef              deviceName      = NULL;           // borrowed from deviceProps
    CFStringRef            deviceNameText  = NULL;           // owned
    Boolean                isAirPort       = false;
    SInt32                 sortOrder       = kSortOrderUnchanged;
    CFStringRef            name            = NULL; // borrowed constant or registry value

    err = IORegistryEntryGetParentEntry(interface, kIOServicePlane, &controller);
    if (err == noErr) err = IORegistryEntryGetParentEntry(controller, kIOServicePlane, &device);
    if (err == noErr)
        err = IORegistryEntryCreateCFProperties(controller, &controllerProps, NULL, 0);
    if (err == noErr) {
        err = CopyStringProperty(interface, CFSTR(kIOBSDNameKey), &bsdName);
        if (err == noErr && bsdName == NULL) err = kVaviVAZPortErrorNoName;
    }

    if (err == noErr) {
        if (CFEqual(bsdName, CFSTR("en0"))) {
            sortOrder = kSortOrderBuiltInEthernet;
            name      = CFSTR("Built-in Ethernet");
        } else if (CFEqual(bsdName, CFSTR("fw0"))) {
            sortOrder = kSortOrderBuiltInFireWire;
            name      = CFSTR("Built-in FireWire");
        }
    }
    if (err == noErr && name == NULL) {
        isAirPort = IOObjectConformsTo(interface, kPort80211InterfaceClass);
        if (!isAirPort) {
            err       = GetStringValue(controllerProps, CFSTR(kIOClassKey), &ioClass);
            isAirPort = (err == noErr) && (ioClass != NULL) &&
                        CFStringHasPrefix(ioClass, kPortAirPortClassPrefix);
        }
        if (isAirPort) {
            CFDictionarySetValue(interfaceInfo, kSCPropNetInterfaceHardware, kSCEntNetAirPort);
            sortOrder = kSortOrderAirPort;
            name      = CFSTR("AirPort");
        }
    }
    if (err == noErr && name == NULL) {
        err = IORegistryEntryCreateCFProperties(device, &deviceProps, NULL, 0);
        if (err == noErr) deviceName = CFDictionaryGetValue(deviceProps, kPortDeviceNameKey);
        if (deviceName != NULL) {
            deviceNameText = CreateStringFromProperty(deviceName);
            if (deviceNameText == NULL) err = kVaviVAZPortErrorNoName;
        }
        if (err == noErr && deviceNameText != NULL && CFEqual(deviceNameText, CFSTR("radio"))) {
            sortOrder = kSortOrderRadio;
            name      = CFSTR("Wireless Network Adaptor");
        }
    }
    if (err == noErr && name == NULL) {
        err = GetStringValue(controllerProps, CFSTR(kIOProviderClassKey), &providerClass);
        if (err == noErr && providerClass != NULL && CFEqual(providerClass, kPortPCIDeviceClass)) {
            sortOrder = kSortOrderPCICard;
            name      = AddPCICardValues(deviceProps, interfaceInfo);
        } else if (err == noErr) {
            CFDictionarySetValue(interfaceInfo, CFSTR(kIOBSDNameKey), bsdName);
            name = CFSTR("Ethernet Adaptor (%1$@)");
        }
    }

    if (err == noErr && sortOrder != kSortOrderUnchanged) {
        junk = CFQDictionarySetNumber(interfaceInfo, kVaviVAZPortSortOrderKey, sortOrder);
        VZ_ASSERT(junk == 0);
    }
    if (err == noErr) *userVisibleName = static_cast<CFStringRef>(CFQRetain(name));

    if (controller != IO_OBJECT_NULL) {
        junk = IOObjectRelease(controller);
        VZ_ASSERT(junk == 0);
    }
    if (device != IO_OBJECT_NULL) {
        junk = IOObjectRelease(device);
        VZ_ASSERT(junk == 0);
    }
    CFQRelease(deviceNameText);
    CFQRelease(bsdName);
    CFQRelease(deviceProps);
    CFQRelease(controllerProps);
    return err;
}

// ---------------------------------------------------------------------------
// Serial ports.

OSStatus CopyUserVisibleNameForModemOrSerialPort(io_object_t            interface,
                                                 CFMutableDictionaryRef interfaceInfo,
                                                 CFStringRef           *userVisibleName) noexcept
{
    OSStatus           err         = noErr;
    OSStatus           junk        = noErr;
    CFStringRef        clientType  = NULL; // owned
    CFStringRef        baseName    = NULL; // owned
    CFStringRef        productName = NULL; // owned
    CFMutableStringRef lowerBase   = NULL; // owned
    Boolean            isModem     = false;
    CFStringRef        name        = NULL; // borrowed

    VZ_ASSERT(interface != IO_OBJECT_NULL);
    VZ_ASSERT(interfaceInfo != NULL);
    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(*userVisibleName == NULL);

    err = CopyStringProperty(interface, CFSTR(kIOSerialBSDTypeKey), &clientType);
    if (err == noErr && clientType == NULL) err = kVaviVAZPortErrorNoName;
    if (err == noErr) {
        isModem = CFEqual(clientType, CFSTR(kIOSerialBSDModemType));
        if (isModem) {
            junk = CFQDictionarySetNumber(interfaceInfo, kVaviVAZPortSortOrderKey, kSortOrderModem);
            VZ_ASSERT(junk == 0);
        }
        err = CopyStringProperty(interface, CFSTR(kIOTTYBaseNameKey), &baseName);
        if (err == noErr && baseName == NULL) err = kVaviVAZPortErrorNoName;
    }
    if (err == noErr)
        err = SearchStringPropertyUpwards(interface, kPortProductNameKey, &productName);

    if (err == noErr) {
        if (isModem && CFEqual(baseName, CFSTR("modem"))) {
            name = CFSTR("Internal Modem");
            junk = CFQDictionarySetNumber(interfaceInfo, kVaviVAZPortSortOrderKey,
                                          kSortOrderInternalModem);
            VZ_ASSERT(junk == 0);
        } else if (CFEqual(baseName, CFSTR("modem"))) {
            name = CFSTR("Modem Port");
        } else if (CFEqual(baseName, CFSTR("printer"))) {
            name = CFSTR("Printer Port");
        } else if (CFEqual(baseName, CFSTR("modem-printer"))) {
            name = CFSTR("Modem/Printer Port");
        } else if (CFEqual(baseName, CFSTR("IrDA-IrCOMM"))) {
            name = CFSTR("IrDA Modem Port");
        } else if (CFStringHasPrefix(baseName, CFSTR("Bluetooth-"))) {
            name = CFSTR("Bluetooth");
        } else if (CFEqual(baseName, CFSTR("usbmodem")) || productName != NULL) {
            name = (productName != NULL) ? productName : CFSTR("USB Modem");
            if (isModem) {
                junk = CFQDictionarySetNumber(interfaceInfo, kVaviVAZPortSortOrderKey,
                                              kSortOrderUSBModem);
                VZ_ASSERT(junk == 0);
            }
        } else {
            lowerBase = CFStringCreateMutableCopy(NULL, 0, baseName);
            if (lowerBase != NULL) CFStringLowercase(lowerBase, NULL);
            CFDictionarySetValue(interfaceInfo, CFSTR(kIOTTYBaseNameKey),
                                 (lowerBase != NULL) ? static_cast<CFStringRef>(lowerBase)
                                                     : kPortUnknownValue);
            name = CFSTR("%4$@-port");
        }
        *userVisibleName = static_cast<CFStringRef>(CFQRetain(name));
    }

    CFQRelease(lowerBase);
    CFQRelease(productName);
    CFQRelease(baseName);
    CFQRelease(clientType);
    VZ_ASSERT((err == 0) == (*userVisibleName != NULL));
    return err;
}

// ---------------------------------------------------------------------------
// The name of a port.

// Whether the first occurrence of a placeholder is to be replaced: always
// when the record holds its value; otherwise (an assertion) when the
// callback's template asked for it. A placeholder that only a text from the
// registry brought in (a product name or BSD name used as the name, a value
// replaced for an earlier placeholder) stays as written when its value is
// missing, so that no registry text can stop the process. The built-in
// templates always find their values: each rule stores the values its
// template asks for.
static Boolean ShouldExpand(CFStringRef placeholder, CFTypeRef value, CFStringRef givenTemplate,
                            Boolean strict) noexcept
{
    return (value != NULL) ||
           (strict && CFStringFind(givenTemplate, placeholder, 0).location != kCFNotFound);
}

static void ReplaceFirst(CFMutableStringRef text, CFStringRef placeholder, CFTypeRef value) noexcept
{
    CFStringReplace(text, CFStringFind(text, placeholder, 0), static_cast<CFStringRef>(value));
}

// Replaces the first occurrence of each placeholder, in order, by the
// record's value. strict: the template is the callback's, whose placeholders
// must all have their values.
static void ExpandNameTemplate(CFMutableStringRef name, CFStringRef givenTemplate, Boolean strict,
                               CFDictionaryRef interfaceInfo) noexcept
{
    CFTypeRef value = NULL; // borrowed from interfaceInfo

    if (CFStringFind(name, CFSTR("%1$@"), 0).location != kCFNotFound) {
        value = CFDictionaryGetValue(interfaceInfo, CFSTR(kIOBSDNameKey));
        if (ShouldExpand(CFSTR("%1$@"), value, givenTemplate, strict)) {
            VZ_ASSERT(CFDictionaryGetValue(interfaceInfo, CFSTR(kIOBSDNameKey)) != NULL);
            ReplaceFirst(name, CFSTR("%1$@"), value);
        }
    }
    if (CFStringFind(name, CFSTR("%2$@"), 0).location != kCFNotFound) {
        value = CFDictionaryGetValue(interfaceInfo, CFSTR("slot-name"));
        if (ShouldExpand(CFSTR("%2$@"), value, givenTemplate, strict)) {
            VZ_ASSERT(CFDictionaryGetValue(interfaceInfo, CFSTR("slot-name")) != NULL);
            ReplaceFirst(name, CFSTR("%2$@"), value);
        }
    }
    if (CFStringFind(name, CFSTR("%3$@"), 0).location != kCFNotFound) {
        value = CFDictionaryGetValue(interfaceInfo, CFSTR("IOChildIndex"));
        if (ShouldExpand(CFSTR("%3$@"), value, givenTemplate, strict)) {
            VZ_ASSERT(CFDictionaryGetValue(interfaceInfo, CFSTR("IOChildIndex")) != NULL);
            ReplaceFirst(name, CFSTR("%3$@"), value);
        }
    }
    if (CFStringFind(name, CFSTR("%4$@"), 0).location != kCFNotFound) {
        value = CFDictionaryGetValue(interfaceInfo, CFSTR(kIOTTYBaseNameKey));
        if (ShouldExpand(CFSTR("%4$@"), value, givenTemplate, strict)) {
            VZ_ASSERT(CFDictionaryGetValue(interfaceInfo, CFSTR(kIOTTYBaseNameKey)) != NULL);
            ReplaceFirst(name, CFSTR("%4$@"), value);
        }
    }
}

OSStatus CopyUserVisiblePortName(io_object_t interface, CFMutableDictionaryRef interfaceInfo,
                                 CFMutableStringRef *userVisibleName) noexcept
{
    OSStatus           err              = noErr;
    CFStringRef        defaultName      = NULL; // owned: the built-in template
    CFStringRef        callbackTemplate = NULL; // owned
    CFStringRef        nameTemplate     = NULL; // owned: the one expanded
    CFMutableStringRef result           = NULL; // owned until handed over

    VZ_ASSERT(interface != IO_OBJECT_NULL);
    VZ_ASSERT(interfaceInfo != NULL);
    VZ_ASSERT(userVisibleName != NULL);
    VZ_ASSERT(*userVisibleName == NULL);

    if (IOObjectConformsTo(interface, kIONetworkInterfaceClass)) {
        err = CopyUserVisibleNameForNetworkPort(interface, interfaceInfo, &defaultName);
    } else if (IOObjectConformsTo(interface, kIOSerialBSDServiceValue)) {
        err = CopyUserVisibleNameForModemOrSerialPort(interface, interfaceInfo, &defaultName);
    } else {
        err = CopyStringProperty(interface, CFSTR(kIOBSDNameKey), &defaultName);
        if (err == noErr && defaultName == NULL) err = kVaviVAZPortErrorNoName;
    }

    if (gPortNameCallback != NULL) {
        err = gPortNameCallback(interface, interfaceInfo, defaultName, &callbackTemplate);
    }
    if (err == noErr) {
        if (callbackTemplate != NULL) {
            if (CFGetTypeID(callbackTemplate) == CFStringGetTypeID()) {
                nameTemplate = static_cast<CFStringRef>(CFQRetain(callbackTemplate));
            }
        } else if (defaultName != NULL) {
            nameTemplate = CFStringCreateCopy(NULL, defaultName);
        }
        if (nameTemplate == NULL) err = kVaviVAZPortErrorNoName;
    }
    if (err == noErr) {
        result = CFStringCreateMutableCopy(NULL, 0, nameTemplate);
        if (result == NULL) err = kVaviVAZPortErrorNoName;
    }
    if (err == noErr) {
        ExpandNameTemplate(result, nameTemplate, callbackTemplate != NULL, interfaceInfo);
        *userVisibleName = result;
        result           = NULL;
    }

    CFQRelease(result);
    CFQRelease(nameTemplate);
    CFQRelease(callbackTemplate);
    CFQRelease(defaultName);
    VZ_ASSERT((err == 0) == (*userVisibleName != NULL));
    return err;
}
