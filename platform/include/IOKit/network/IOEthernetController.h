// IOEthernetController.h: the properties of a network controller entry.
#ifndef VZ_IOKIT_NETWORK_IOETHERNETCONTROLLER_H
#define VZ_IOKIT_NETWORK_IOETHERNETCONTROLLER_H

#define kIOMACAddress "IOMACAddress"

#endif
