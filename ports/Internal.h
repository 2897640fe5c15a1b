// Internal.h: what the scanner's two files share (the enumeration in
// VaviVAZPortScanner.cpp, the names in PortNames.cpp), and what its white-box
// tests reach: the registry keys it reads, the error of a damaged registry
// value, the name callback and the internal steps.
#ifndef VZ_PORTS_INTERNAL_H
#define VZ_PORTS_INTERNAL_H

#include "VaviVAZPortScanner.h"

#include <IOKit/IOBSD.h>
#include <IOKit/network/IOEthernetController.h>
#include <IOKit/network/IONetworkInterface.h>
#include <IOKit/serial/IOSerialKeys.h>

// Registry properties read by name, and port record keys of the names.
#define kPortHiddenPortKey CFSTR("HiddenPort")
#define kPortV92ModemKey CFSTR("V92Modem")
#define kPortProductNameKey CFSTR("Product Name")
#define kPortDeviceNameKey CFSTR("name")
#define kPortSlotNameKey CFSTR("slot-name")
#define kPortChildIndexKey CFSTR("IOChildIndex")
#define kPortUnknownValue CFSTR("unknown")
#define kPortAirPortClassPrefix CFSTR("AirPort")
#define kPortPCIDeviceClass CFSTR("IOPCIDevice")
#define kPort80211InterfaceClass "IO80211Interface"

enum {
    // A registry value of the wrong kind where the scanner needs a string or
    // bytes (a damaged registry): the scan fails with the registry's own
    // status for damage.
    kPortErrorRegistryValue = kIOReturnError,
    // A serial port without "IOTTYDevice": no record can name its device.
    kPortErrorNoDevice = kIOReturnNotFound
};

// The sort values of port records ("SortOrder"), lowest first. The
// enumeration writes the first value of a port (its kind), and the naming
// step replaces it for the ports it knows better.
enum {
    kSortOrderInternalModem   = 0,  // the modem stream whose base name is "modem"
    kSortOrderUSBModem        = 1,  // a modem stream on "usbmodem" or with a product name
    kSortOrderModem           = 2,  // any other modem stream
    kSortOrderBluetooth       = 3,  // an RS-232 stream on "Bluetooth..."
    kSortOrderIrDA            = 4,  // an RS-232 stream on "IrDA-IrCOMM..."
    kSortOrderSerial          = 5,  // any other RS-232 stream
    kSortOrderBuiltInEthernet = 6,  // "en0"
    kSortOrderBuiltInFireWire = 7,  // "fw0"
    kSortOrderPCICard         = 8,  // a network interface on a PCI card
    kSortOrderFireWire        = 9,  // any other FireWire interface
    kSortOrderAirPort         = 10, // AirPort
    kSortOrderRadio           = 11, // a wireless adaptor whose device is "radio"
    kSortOrderEthernet        = 12, // any other Ethernet interface
    kSortOrderDefault         = 100 // a record without a sort value sorts last
};

extern VaviVAZPortNameCallback gPortNameCallback;

typedef OSStatus (*DeviceToDictProc)(void *contextPtr, io_object_t interface,
                                     CFMutableDictionaryRef interfaceInfo);

OSStatus AddMatchingDevicesToArray(mach_port_t masterPort, CFDictionaryRef deviceMatchDict,
                                   DeviceToDictProc deviceToDict, void *contextPtr,
                                   CFMutableArrayRef result) noexcept;
OSStatus EthernetDeviceToDictProc(void *contextPtr, io_object_t interface,
                                  CFMutableDictionaryRef interfaceInfo) noexcept;
OSStatus ModemOrSerialDeviceToDictProc(void *contextPtr, io_object_t interface,
                                       CFMutableDictionaryRef interfaceInfo) noexcept;
CFComparisonResult PortSorter(const void *lhs, const void *rhs, void *context) noexcept;
SInt32             SortOrder(CFDictionaryRef portDict) noexcept;

OSStatus    CopyUserVisiblePortName(io_object_t interface, CFMutableDictionaryRef interfaceInfo,
                                    CFMutableStringRef *userVisibleName) noexcept;
OSStatus    CopyUserVisibleNameForModemOrSerialPort(io_object_t            interface,
                                                    CFMutableDictionaryRef interfaceInfo,
                                                    CFStringRef           *userVisibleName) noexcept;
CFStringRef CreateStringFromProperty(CFTypeRef prop) noexcept;

// A string property of a registry entry (one reference, in *value, NULL when
// the entry has none) or of a dictionary (borrowed), or found by a search
// towards the entry's ancestors: kPortErrorRegistryValue when the value is
// of another kind.
OSStatus CopyStringProperty(io_object_t entry, CFStringRef key, CFStringRef *value) noexcept;
OSStatus GetStringValue(CFDictionaryRef dict, CFStringRef key, CFStringRef *value) noexcept;
OSStatus SearchStringPropertyUpwards(io_object_t entry, CFStringRef key,
                                     CFStringRef *value) noexcept;

#endif
