// MoreSCSystemVersion.h: the running system's version, cached per process.
//
// The entity builders, the port scanner and the model pick formats and
// defaults by this value, so it lives below all of them.
#ifndef VZ_MORESCSYSTEMVERSION_H
#define VZ_MORESCSYSTEMVERSION_H

#include <CoreFoundation/CoreFoundation.h>

// The running system's version as packed hexadecimal digits (10.4.0 reads
// 0x1040), asked of the platform once per process and cached.
UInt32 MoreSCGetSystemVersion(void) noexcept;

#endif
