// IOKitKeys.h: the registry's plane and matching keys, as C strings (wrap them
// in CFSTR for a property-list key).
#ifndef VZ_IOKIT_IOKITKEYS_H
#define VZ_IOKIT_IOKITKEYS_H

#define kIOServicePlane "IOService"
#define kIOProviderClassKey "IOProviderClass"
#define kIOClassKey "IOClass"

#endif
