// VaviVAZ.h: the network preferences model: the session on the store and
// every operation on sets, services and entities.
#ifndef VZ_VAVIVAZ_H
#define VZ_VAVIVAZ_H

#include <CoreFoundation/CoreFoundation.h>

// The running system's version as packed hexadecimal digits (10.4.0 reads
// 0x1040), asked of the platform once per process and cached.
UInt32 MoreSCGetSystemVersion(void) noexcept;

#endif
