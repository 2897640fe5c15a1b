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
