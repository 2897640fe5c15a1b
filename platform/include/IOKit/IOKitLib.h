// IOKitLib.h: the device registry: a tree of entries, each of a class, with a
// name and properties, which the system walks to find the machine's network
// and serial ports.
//
// The registry is read from the root's snapshot file,
// var/run/SystemConfiguration/ioregistry.plist: an XML property list whose
// top dictionary is the registry root. Every entry is a dictionary holding
//
//   IOObjectClass            its class name (a string; optional at the root,
//                            which is an IORegistryEntry without it)
//   IORegistryEntryName      its name (a string; optional, the class name
//                            without it)
//   IORegistryEntryChildren  its children in order (an array of entries;
//                            optional)
//
// and any other key as a property. An entry's parent in the IOService plane
// is the entry that lists it. A missing file is a registry of a bare root; a
// file that cannot be read or parsed, or holds an entry of another shape, is
// no registry at all: the calls that reach the registry answer
// kIOReturnError (or IO_OBJECT_NULL). The file is parsed once per process
// and version of the file; a changed file is seen by the next call that
// reaches the registry, while the handles made before keep the registry they
// came from.
//
// On a live root (the machine's own, or any root with VAVIVAZ_LIVE=1) without
// a snapshot file, the registry is the running machine's, built once per
// process from the kernel's device tree (the sysfs folder /sys, or
// $VAVIVAZ_SYSFS): its physical network interfaces, each
// under an IOEthernetController under its bus device (IOPCIDevice,
// IOUSBDevice or IOPlatformDevice), and its USB modems, USB serial ports and
// UARTs as IOSerialBSDClient entries under theirs.
//
// Classes conform to their superclasses by a built-in table of the classes the
// system meets: IOEthernetInterface and IOFireWireIP are IONetworkInterfaces,
// IO80211Interface is an IOEthernetInterface, IOEthernetController is an
// IONetworkController, and every class is an IOService and an
// IORegistryEntry.
//
// Handles (io_object_t and its aliases) are counted objects: every handle a
// call hands out is released with IOObjectRelease. Property reads hand out
// one reference the caller releases. Only the IOService plane exists.
#ifndef VZ_IOKIT_IOKITLIB_H
#define VZ_IOKIT_IOKITLIB_H

#include <CoreFoundation/CoreFoundation.h>
#include <IOKit/IOKitKeys.h>
#include <IOKit/IOReturn.h>

typedef unsigned int mach_port_t;
typedef int          boolean_t;
typedef UInt32       IOOptionBits;
typedef char         io_name_t[128];

typedef struct __IOObject *io_object_t;
typedef io_object_t        io_iterator_t;
typedef io_object_t        io_service_t;
typedef io_object_t        io_registry_entry_t;

#define MACH_PORT_NULL ((mach_port_t)0)
#define IO_OBJECT_NULL ((io_object_t)0)

// Options of IORegistryEntrySearchCFProperty: search beyond the entry itself,
// towards its descendants, or with kIORegistryIterateParents towards its
// ancestors.
enum { kIORegistryIterateRecursively = 0x00000001, kIORegistryIterateParents = 0x00000002 };

extern "C" {

// The port that names the registry; every value names the one registry.
extern const mach_port_t kIOMasterPortDefault;

// A new matching dictionary selecting the entries that conform to the class
// name (under kIOProviderClassKey); NULL when it cannot be made.
CFMutableDictionaryRef IOServiceMatching(const char *name) noexcept;

// An iterator over the entries that matching selects, in registry order
// (depth first, children in order): those that conform to its
// kIOProviderClassKey class (any entry without one) and whose properties equal
// its other values. The dictionary is consumed (released) whatever the
// outcome. kIOReturnBadArgument for a NULL dictionary or iterator pointer or a
// class that is not a string, kIOReturnError when there is no registry,
// kIOReturnNoMemory.
kern_return_t IOServiceGetMatchingServices(mach_port_t masterPort, CFDictionaryRef matching,
                                           io_iterator_t *existing) noexcept;

// The iterator's next entry (a new handle), or IO_OBJECT_NULL after the last.
io_object_t IOIteratorNext(io_iterator_t iterator) noexcept;
// Starts the iterator again from its first entry.
void IOIteratorReset(io_iterator_t iterator) noexcept;

// kIOReturnSuccess, or kIOReturnBadArgument for IO_OBJECT_NULL.
kern_return_t IOObjectRetain(io_object_t object) noexcept;
kern_return_t IOObjectRelease(io_object_t object) noexcept;

// Whether the entry's class is className or one of its superclasses; false
// for an iterator or IO_OBJECT_NULL.
boolean_t IOObjectConformsTo(io_object_t object, const io_name_t className) noexcept;
// The entry's class name ("IOIterator" for an iterator), cut to fit.
kern_return_t IOObjectGetClass(io_object_t object, io_name_t className) noexcept;

// The registry root (a new handle), or IO_OBJECT_NULL when there is no
// registry.
io_registry_entry_t IORegistryGetRootEntry(mach_port_t masterPort) noexcept;
// The entry's name, cut to fit.
kern_return_t IORegistryEntryGetName(io_registry_entry_t entry, io_name_t name) noexcept;
// The entry's parent in the plane (a new handle); kIOReturnNoDevice for the
// root.
kern_return_t IORegistryEntryGetParentEntry(io_registry_entry_t entry, const io_name_t plane,
                                            io_registry_entry_t *parent) noexcept;
// An iterator over the entry's children in the plane, in order.
kern_return_t IORegistryEntryGetChildIterator(io_registry_entry_t entry, const io_name_t plane,
                                              io_iterator_t *iterator) noexcept;

// All the entry's properties in a new mutable dictionary, or one property
// (NULL when the entry has none under key). The reserved keys of the snapshot
// (IOObjectClass, IORegistryEntryName, IORegistryEntryChildren) are not
// properties.
kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t     entry,
                                                CFMutableDictionaryRef *properties,
                                                CFAllocatorRef          allocator,
                                                IOOptionBits            options) noexcept;
CFTypeRef     IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key,
                                              CFAllocatorRef allocator, IOOptionBits options) noexcept;
// The property under key of the entry or, with kIORegistryIterateRecursively,
// of the nearest entry that has it: its ancestors nearest first with
// kIORegistryIterateParents, its descendants in registry order without.
CFTypeRef IORegistryEntrySearchCFProperty(io_registry_entry_t entry, const io_name_t plane,
                                          CFStringRef key, CFAllocatorRef allocator,
                                          IOOptionBits options) noexcept;

} // extern "C"

#endif
