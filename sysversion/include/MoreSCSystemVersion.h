// MoreSCSystemVersion.h: the running system's version, cached per process.
//
// The entity builders, the port scanner and the model pick formats and
// defaults by this value, so it lives below all of them; they ask the named
// predicates below, which hold the thresholds.
#ifndef VZ_MORESCSYSTEMVERSION_H
#define VZ_MORESCSYSTEMVERSION_H

#include <CoreFoundation/CoreFoundation.h>

// The running system's version as packed hexadecimal digits (10.4.0 reads
// 0x1040), asked of the platform once per process and cached.
UInt32 MoreSCGetSystemVersion(void) noexcept;

// The thresholds the library decides by, each once, beside its predicate.
// The comparisons are unsigned; a release is "or later" when the version is
// above the last value before it.
enum {
    kMoreSCLastVersionBeforeTenTwo       = 0x101F,
    kMoreSCLastVersionBeforeTenThree     = 0x102F,
    kMoreSCLastVersionBeforeTenThreeFive = 0x1034,
    kMoreSCLastVersionBeforeTenFour      = 0x103F,
    kMoreSCLastVersionBeforeTenFive      = 0x104F,
    kMoreSCVersionTenTwo                 = 0x1020 // any 10.2.x, its update digit cleared
};

// 10.2 or later: PPP defaults, the slot table of port names, FTP passive
// mode for new services.
inline Boolean MoreSCIsTenTwoOrLater(void) noexcept
{
    return MoreSCGetSystemVersion() > kMoreSCLastVersionBeforeTenTwo;
}
// 10.3 or later: proxies left out when off, an automatic IPv6 entity for new
// services.
inline Boolean MoreSCIsTenThreeOrLater(void) noexcept
{
    return MoreSCGetSystemVersion() > kMoreSCLastVersionBeforeTenThree;
}
// 10.3.5 or later: PPP defaults.
inline Boolean MoreSCIsTenThreeFiveOrLater(void) noexcept
{
    return MoreSCGetSystemVersion() > kMoreSCLastVersionBeforeTenThreeFive;
}
// 10.4 or later: PPP defaults, proxy settings, AirPort entities without a MAC
// address, FireWire services, the default modem script.
inline Boolean MoreSCIsTenFourOrLater(void) noexcept
{
    return MoreSCGetSystemVersion() > kMoreSCLastVersionBeforeTenFour;
}
// 10.5 or later: no PPP override and no NetInfo in a set's global entities.
inline Boolean MoreSCIsTenFiveOrLater(void) noexcept
{
    return MoreSCGetSystemVersion() > kMoreSCLastVersionBeforeTenFive;
}
// Any 10.2.x: the store's unique children are numbered by the library.
inline Boolean MoreSCIsTenTwo(void) noexcept
{
    return (MoreSCGetSystemVersion() & ~static_cast<UInt32>(0xF)) == kMoreSCVersionTenTwo;
}

#endif
