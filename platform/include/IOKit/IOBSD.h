// IOBSD.h: the key under which a registry entry records its BSD device name.
#ifndef VZ_IOKIT_IOBSD_H
#define VZ_IOKIT_IOBSD_H

#define kIOBSDNameKey "BSD Name"

#endif
