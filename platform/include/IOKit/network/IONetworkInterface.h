// IONetworkInterface.h: the properties of a network interface entry, and the
// interface types the system tells apart (the values of the BSD interface
// type list).
#ifndef VZ_IOKIT_NETWORK_IONETWORKINTERFACE_H
#define VZ_IOKIT_NETWORK_IONETWORKINTERFACE_H

#define kIONetworkInterfaceClass "IONetworkInterface"
#define kIOInterfaceType "IOInterfaceType"

#ifndef IFT_ETHER
#define IFT_ETHER 0x6
#endif
#ifndef IFT_IEEE1394
#define IFT_IEEE1394 0x90
#endif

#endif
