// SysfsRegistry.h: the registry of the machine the process runs on, built
// from the kernel's device tree (sysfs), so that a real machine's ports are
// found without a snapshot.
//
// Only physical ports appear: a network interface or terminal without a
// "device" link is virtual (the loopback, bridges, tunnels, consoles,
// pseudo-terminals, Bluetooth and IrDA terminals) and left out. Each port
// hangs under the root through its bus device and, for a network port, its
// controller:
//
//   class/net/IF       interface, "BSD Name" IF. Type 1 (Ethernet):
//                      IO80211Interface when IF/wireless or IF/phy80211
//                      exists, else IOEthernetInterface, "IOInterfaceType" 6;
//                      type 24 (IEEE 1394): IOFireWireIP, 144; any other:
//                      IONetworkInterface, 1
//     its parent       IOEthernetController named by its driver: "IOClass"
//                      (the driver, from IF/device/driver), "IOMACAddress"
//                      (IF/address; the first 8 bytes, the unique ID, for
//                      IEEE 1394), "IOProviderClass" ("IOPCIDevice" for a PCI
//                      device in a physical slot, "IOUSBInterface" for USB,
//                      else "IOPlatformDevice")
//   class/tty/ttyACM*  IOSerialBSDClient, a modem stream with base name
//                      "usbmodem"
//   class/tty/ttyUSB*  the same when the USB interface above the port is bound
//                      to a mobile broadband driver (option, qcserial, sierra,
//                      qcaux), else an RS-232 stream with base name
//                      "usbserial"
//   class/tty/ttyS*    an RS-232 stream with base name "serial", when its
//                      "type" is a number other than 0 (0: no UART there)
//   bus device         the device the "device" link names, above the kernel's
//                      own layers (USB serial ports, USB interfaces, serial
//                      core ports, virtio devices); one entry per device,
//                      named like its folder. PCI: IOPCIDevice with "name"
//                      (the bytes "ethernet" and a zero byte), "slot-name"
//                      ("SLOT-" and the name of the bus/pci/slots folder
//                      whose address names the device, and a zero byte) and,
//                      when several functions of the device have network
//                      interfaces, "IOChildIndex" (this function's rank among
//                      them, from 0). USB: IOUSBDevice with "Product Name"
//                      (its "product"). Anything else: IOPlatformDevice.
//
// A serial client carries "IOSerialBSDClientType", "IOTTYBaseName",
// "IOTTYDevice" (the terminal's name), and "IOCalloutDevice" and
// "IODialinDevice" (both the terminal's device node, "/dev/ttyUSB0"), so that
// the terminal behind any port name can be found. Entries come in the
// natural order of the class folders' names, network interfaces first.
//
// The maker's modem, a USB device whose "manufacturer" is "ZORVEX" (the
// whole value), has its ports named as the maker's own driver names them:
// its modem serial clients, in the order of their USB interfaces'
// "bInterfaceNumber", are "ZORVEXMobile-Modem", "ZORVEXMobile-Diag" and
// "ZORVEXMobile-Pcui" ("IOTTYBaseName" "ZORVEXMobile", and the entry's name
// the same); a fourth or later port keeps its terminal's name. The device
// node stays the terminal's.
//
// The tree is input: an attribute that is missing, unreadable or malformed
// leaves out its property; a port that cannot be named (a name that is not
// UTF-8 text), whose device link leads nowhere, out of the tree or round a
// loop, or that went away during the scan, is left out; nothing else stops
// the build but running out of memory.
#ifndef VZ_PLATFORM_SYSFSREGISTRY_H
#define VZ_PLATFORM_SYSFSREGISTRY_H

#include "Registry.h"

#include <IOKit/IOReturn.h>

#include <memory>
#include <string>

namespace vz {

// The sysfs folder: $VAVIVAZ_SYSFS, or /sys when it is unset or empty.
std::string sysfsDirectory(); // may throw std::bad_alloc

// kIOReturnSuccess with the registry of the tree at folder (a bare root when
// the folder holds no ports or cannot be read), or kIOReturnNoMemory.
[[nodiscard]] IOReturn registryFromSysfs(const std::string               &folder,
                                         std::shared_ptr<const Registry> *registry) noexcept;

} // namespace vz

#endif
