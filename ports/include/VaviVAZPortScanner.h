// VaviVAZPortScanner.h: the port scanner. It lists the machine's network ports
// (Ethernet, FireWire, AirPort and other wireless adaptors) and its modem and
// serial ports from the device registry, each as a port record with a
// user-visible name, in one array sorted in a fixed, user-friendly order.
//
// A port record is a mutable dictionary of string keys; values are strings
// unless noted:
//
//   kSCPropUserDefinedName          every port: the user-visible name (a
//                                   mutable string)
//   kSCPropNetInterfaceHardware     every port: kSCEntNetEthernet,
//                                   kSCEntNetFireWire, kSCEntNetAirPort for
//                                   network ports, kSCEntNetModem for serial
//   kSCPropNetInterfaceType         every port: kSCValNetInterfaceTypeEthernet
//                                   (AirPort too) or ...FireWire; ...PPP for
//                                   serial ports
//   kSCPropNetInterfaceSubType      serial ports:
//                                   kSCValNetInterfaceSubTypePPPSerial
//   kSCPropNetInterfaceDeviceName   every port: the BSD name ("en0") of a
//                                   network port, the device name ("modem")
//                                   of a serial port
//   kSCPropMACAddress               network ports whose controller reports a
//                                   6- or 8-byte address: lower-case
//                                   hexadecimal bytes joined by ":"
//   kVaviVAZPortSortOrderKey        every port: a 32-bit number, the sort
//                                   value (below)
//   kVaviVAZPortHardwareVariantKey  serial ports whose base name begins
//                                   "IrDA-IrCOMM" or "Bluetooth": that word
//   kSCPropNetInterfaceSupportsModemOnHold
//                                   serial ports with a numeric "V92Modem" on
//                                   the port or a device above it: that number
//
// and the values a name template's placeholders take ("BSD Name", "slot-name",
// "IOChildIndex", "IOTTYBaseName"), where the port's name rule filled them.
//
// Sort values, lowest first: 0 the internal modem, 1 a USB modem, 2 any other
// modem, 3 a Bluetooth serial port, 4 an IrDA serial port, 5 any other serial
// port, 6 "en0", 7 "fw0", 8 a network port on a PCI card, 9 any other FireWire
// port, 10 AirPort, 11 another wireless adaptor, 12 any other Ethernet port.
// Equal values are ordered by name, compared as the user's language sorts.
//
// Error codes: 0 success; -1 (kVaviVAZPortErrorNoName) a port without the
// name it needs (a network interface without "BSD Name", a serial port
// without its client type or base name); -4960 an object could not be made;
// the registry's status when a registry call fails, kIOReturnError for a
// registry value of the wrong kind and kIOReturnNotFound for a serial port
// without "IOTTYDevice" (both damaged registries); a name callback's error.
// The first failure ends the scan and no array is handed out. A device that
// is not a port (another interface type, a hidden serial port, one without
// a base name or with base name "irda") is no failure: it is left out. So is
// a MAC address of another length than 6 or 8 bytes, or a "V92Modem" that
// is not a number: the port is kept without it.
#ifndef VZ_VAVIVAZPORTSCANNER_H
#define VZ_VAVIVAZPORTSCANNER_H

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitLib.h>

#define kVaviVAZPortSortOrderKey CFSTR("SortOrder")
#define kVaviVAZPortHardwareVariantKey CFSTR("HardwareVariant")
#define kVaviVAZHardwareVariantIrDA CFSTR("IrDA-IrCOMM")
#define kVaviVAZHardwareVariantBluetooth CFSTR("Bluetooth")

enum {
    kVaviVAZPortErrorNoName = -1 // no name could be made for a port
};

// A client's hook for port names, called once for every port the scan keeps,
// with the port's registry entry (borrowed), its record so far, and the
// built-in name template (NULL when there is none: its error is then passed
// on unless the callback returns 0 and stores a template). The callback
// returns an error code, which replaces the built-in naming's; on 0 it may
// store in *nameTemplate (NULL on entry) a string of its own, which the scan
// releases. A template may hold the placeholders "%1$@" ("BSD Name"),
// "%2$@" ("slot-name"), "%3$@" ("IOChildIndex") and "%4$@"
// ("IOTTYBaseName"); the first occurrence of each is replaced by the
// record's value under that key, which must be there: a callback may store
// the value itself. Any other error fails the whole scan.
typedef OSStatus (*VaviVAZPortNameCallback)(io_object_t            interface,
                                            CFMutableDictionaryRef interfaceInfo,
                                            CFStringRef defaultName, CFStringRef *nameTemplate);

// Scans the registry and hands out a new sorted array of port records in
// *portArray (NULL on entry), which the caller releases. Both calls do the
// same scan.
OSStatus MoreSCCreatePortArray(CFArrayRef *portArray) noexcept;
OSStatus MoreSCCreatePortArrayOld(CFArrayRef *portArray) noexcept;

// Sets the process-wide name callback; NULL restores the built-in names.
// Read without a lock on every port: set it before scanning.
void VaviVAZSetPortNameCallback(VaviVAZPortNameCallback callback) noexcept;

#endif
