// VaviVAZDigest.cpp: the two entry points that route a protocol name to its
// builder: MoreSCCreateEntity for the entities of a service and
// MoreSCCreateGlobalEntity for those of a set. A protocol without a builder
// is a programming error, never data: callers name protocols in code.
#include "VaviVAZDigest.h"

#include "MoreCFQ.h"

#include <SystemConfiguration/SystemConfiguration.h>

OSStatus MoreSCCreateEntity(CFStringRef protocol, const void *digest,
                            CFMutableDictionaryRef *entity) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    if (CFEqual(protocol, kSCEntNetInterface)) {
        err = MoreSCCreateInterfaceEntity((const MoreSCInterfaceDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetProxies)) {
        err = MoreSCCreateProxiesEntity((const MoreSCProxiesDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetAppleTalk)) {
        err = MoreSCCreateAppleTalkEntity((const MoreSCAppleTalkDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetDNS)) {
        err = MoreSCCreateDNSEntity((const MoreSCDNSDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetIPv4)) {
        err = MoreSCCreateIPv4Entity((const MoreSCIPv4Digest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetPPP)) {
        err = MoreSCCreatePPPEntity((const MoreSCPPPDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetAirPort)) {
        err = MoreSCCreateAirPortEntity((const MoreSCAirPortDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetEthernet)) {
        err = MoreSCCreateEthernetEntity((const MoreSCEthernetDigest *)digest, entity);
    } else if (CFEqual(protocol, kSCEntNetModem)) {
        err = MoreSCCreateModemEntity((const MoreSCModemDigest *)digest, entity);
    } else {
        VZ_ASSERT(false);
    }

    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateGlobalEntity(CFStringRef protocol, const MoreSCGlobalDigest *digest,
                                  CFMutableDictionaryRef *entity) noexcept
{
    OSStatus err = noErr;

    VZ_ASSERT(protocol != NULL);
    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    if (CFEqual(protocol, kSCEntNetIPv4)) {
        err = MoreSCCreateIPv4GlobalEntity(digest, entity);
    } else if (CFEqual(protocol, kSCEntNetNetInfo)) {
        err = MoreSCCreateNetInfoGlobalEntity(digest, entity);
    } else {
        VZ_ASSERT(false);
    }

    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}
