// ProtocolEntities.cpp: the builders of a service's protocol entities (proxies,
// AppleTalk, DNS, IPv4) and of a set's two global entities (IPv4, NetInfo).
//
// Each builder makes a new dictionary, stores keys step by step while the error
// code is 0, and hands the dictionary over only when every step succeeded; on
// any failure the partly built dictionary is released at the single exit.
// Which keys a proxies, IPv4 global or AirPort entity carries depends on the
// running system's version, read through the cached MoreSCGetSystemVersion.
#include "VaviVAZDigest.h"

#include "MoreCFQ.h"
#include "MoreSCSystemVersion.h"
#include "RequiredField.h"

#include <SystemConfiguration/SystemConfiguration.h>

Boolean gMoreSCCreateIPv4EntityDontCheck = false;

// Keys of the system's own, not schema constants.
#define kExcludeSimpleHostnamesKey CFSTR("ExcludeSimpleHostnames")
#define kProxyAutoDiscoveryEnableKey CFSTR("ProxyAutoDiscoveryEnable")

OSStatus MoreSCCreateIPv4GlobalEntity(const MoreSCGlobalDigest *digest,
                                      CFMutableDictionaryRef   *entity) noexcept
{
    OSStatus               err          = noErr;
    CFMutableDictionaryRef result       = NULL; // owned until handed over
    CFArrayRef             serviceOrder = NULL;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    // Up to 10.4 the global IPv4 entity carries the PPP override flag; 10.5
    // dropped it.
    if ((err == noErr) && !MoreSCIsTenFiveOrLater()) {
        err = CFQDictionarySetNumber(result, kSCPropNetPPPOverridePrimary, 0);
    }
    if (err == noErr) {
        serviceOrder = CFArrayCreate(kCFAllocatorDefault, NULL, 0, &kCFTypeArrayCallBacks);
        err          = CFQError(serviceOrder);
    }
    if (err == noErr) CFDictionarySetValue(result, kSCPropNetServiceOrder, serviceOrder);
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(serviceOrder);
    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateNetInfoGlobalEntity(const MoreSCGlobalDigest *digest,
                                         CFMutableDictionaryRef   *entity) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef result = NULL; // owned until handed over

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

// Stores one proxy protocol: its enable flag, then the host and the port when
// given. From 10.3 on a protocol that is off and names no host or port is left
// out altogether; earlier systems expect every protocol's enable key.
static OSStatus AddProxy(CFMutableDictionaryRef dict, CFStringRef enableKey, CFStringRef proxyKey,
                         CFStringRef portKey, Boolean enable, CFStringRef proxy,
                         UInt16 port) noexcept
{
    OSStatus err      = noErr;
    bool     leaveOut = false;

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(enableKey != NULL);

    leaveOut = MoreSCIsTenThreeOrLater() && !enable && (proxy == NULL) && (port == 0);
    if (!leaveOut) {
        err = CFQDictionarySetNumber(dict, enableKey, enable);
        if ((err == noErr) && (proxy != NULL)) CFDictionarySetValue(dict, proxyKey, proxy);
        if ((err == noErr) && (port != 0)) err = CFQDictionarySetNumber(dict, portKey, port);
    }
    return err;
}

const MoreSCProxyKind *MoreSCGetProxyKinds(CFIndex *count) noexcept
{
    static const MoreSCProxyKind kKinds[] = {
        {"ftp", kSCPropNetProxiesFTPEnable, kSCPropNetProxiesFTPProxy, kSCPropNetProxiesFTPPort,
         &MoreSCProxiesDigest::ftpEnable, &MoreSCProxiesDigest::ftpProxy,
         &MoreSCProxiesDigest::ftpPort},
        {"gopher", kSCPropNetProxiesGopherEnable, kSCPropNetProxiesGopherProxy,
         kSCPropNetProxiesGopherPort, &MoreSCProxiesDigest::gopherEnable,
         &MoreSCProxiesDigest::gopherProxy, &MoreSCProxiesDigest::gopherPort},
        {"http", kSCPropNetProxiesHTTPEnable, kSCPropNetProxiesHTTPProxy, kSCPropNetProxiesHTTPPort,
         &MoreSCProxiesDigest::httpEnable, &MoreSCProxiesDigest::httpProxy,
         &MoreSCProxiesDigest::httpPort},
        {"https", kSCPropNetProxiesHTTPSEnable, kSCPropNetProxiesHTTPSProxy,
         kSCPropNetProxiesHTTPSPort, &MoreSCProxiesDigest::httpsEnable,
         &MoreSCProxiesDigest::httpsProxy, &MoreSCProxiesDigest::httpsPort},
        {"rtsp", kSCPropNetProxiesRTSPEnable, kSCPropNetProxiesRTSPProxy, kSCPropNetProxiesRTSPPort,
         &MoreSCProxiesDigest::rtspEnable, &MoreSCProxiesDigest::rtspProxy,
         &MoreSCProxiesDigest::rtspPort},
        {"socks", kSCPropNetProxiesSOCKSEnable, kSCPropNetProxiesSOCKSProxy,
         kSCPropNetProxiesSOCKSPort, &MoreSCProxiesDigest::socksEnable,
         &MoreSCProxiesDigest::socksProxy, &MoreSCProxiesDigest::socksPort},
    };

    VZ_ASSERT(count != NULL);
    *count = static_cast<CFIndex>(sizeof kKinds / sizeof kKinds[0]);
    return kKinds;
}

OSStatus MoreSCCreateProxiesEntity(const MoreSCProxiesDigest *digest,
                                   CFMutableDictionaryRef    *entity) noexcept
{
    OSStatus               err       = noErr;
    CFMutableDictionaryRef result    = NULL; // owned until handed over
    const MoreSCProxyKind *kinds     = NULL; // borrowed constants
    const MoreSCProxyKind *kind      = NULL;
    CFIndex                kindCount = 0;
    CFIndex                index     = 0;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    if ((err == noErr) && (digest->exceptionsList != NULL)) {
        CFDictionarySetValue(result, kSCPropNetProxiesExceptionsList, digest->exceptionsList);
    }
    if (err == noErr) {
        err = CFQDictionarySetNumber(result, kSCPropNetProxiesFTPPassive, digest->ftpPassive);
    }
    kinds = MoreSCGetProxyKinds(&kindCount);
    for (index = 0; (err == noErr) && (index < kindCount); index++) {
        kind = &kinds[index];
        err  = AddProxy(result, kind->enableKey, kind->proxyKey, kind->portKey,
                        digest->*(kind->enable), digest->*(kind->proxy), digest->*(kind->port));
    }
    // The two settings below appeared with 10.4; earlier systems do not know
    // the keys.
    if ((err == noErr) && MoreSCIsTenFourOrLater()) {
        err = CFQDictionarySetNumber(result, kExcludeSimpleHostnamesKey,
                                     digest->excludeSimpleHostnames);
        if (err == noErr) {
            err = CFQDictionarySetNumber(result, kProxyAutoDiscoveryEnableKey,
                                         digest->proxyAutoDiscoveryEnable);
        }
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateAppleTalkEntity(const MoreSCAppleTalkDigest *digest,
                                     CFMutableDictionaryRef      *entity) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef result = NULL; // owned until handed over

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    VZ_ASSERT_FIELD_IS_ONE_OF(digest->configMethod,
                              CFEqual(digest->configMethod, kSCValNetAppleTalkConfigMethodNode));
    if (err == noErr) {
        CFDictionarySetValue(result, kSCPropNetAppleTalkConfigMethod, digest->configMethod);
        if (digest->defaultZone != NULL) {
            CFDictionarySetValue(result, kSCPropNetAppleTalkDefaultZone, digest->defaultZone);
        }
    }
    if ((err == noErr) && digest->hasNetworkAndNode) {
        err = CFQDictionarySetNumber(result, kSCPropNetAppleTalkNetworkID, digest->networkID);
        if (err == noErr) {
            err = CFQDictionarySetNumber(result, kSCPropNetAppleTalkNodeID, digest->nodeID);
        }
    }
    // An active entity has no inactive key at all, not the value 0.
    if ((err == noErr) && !digest->active) {
        err = CFQDictionarySetNumber(result, kSCResvInactive, 1);
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateDNSEntity(const MoreSCDNSDigest  *digest,
                               CFMutableDictionaryRef *entity) noexcept
{
    OSStatus               err     = noErr;
    UInt32                 index   = 0;
    CFMutableDictionaryRef result  = NULL; // owned until handed over
    CFArrayRef             servers = NULL;
    CFMutableArrayRef      domains = NULL;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    if ((err == noErr) && (digest->serverAddressesCount != 0)) {
        VZ_ASSERT(digest->serverAddresses != NULL);
        err = VaviVAZCreateArrayWithInetAddresses(digest->serverAddressesCount,
                                                  digest->serverAddresses, &servers);
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetDNSServerAddresses, servers);
    }
    if ((err == noErr) && (digest->searchDomainsCount != 0)) {
        VZ_ASSERT(digest->searchDomains != NULL);
        err = CFQArrayCreateMutable(&domains);
        for (index = 0; (err == noErr) && (index < digest->searchDomainsCount); index++) {
            VZ_ASSERT(digest->searchDomains[index] != NULL);
            CFArrayAppendValue(domains, digest->searchDomains[index]);
        }
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetDNSSearchDomains, domains);
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(domains);
    CFQRelease(servers);
    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}

OSStatus MoreSCCreateIPv4Entity(const MoreSCIPv4Digest *digest,
                                CFMutableDictionaryRef *entity) noexcept
{
    OSStatus               err       = noErr;
    OSType                 method    = 'bad!'; // the method's class, for the checks only
    CFMutableDictionaryRef result    = NULL;   // owned until handed over
    CFArrayRef             addresses = NULL;
    CFArrayRef             masks     = NULL;
    CFStringRef            router    = NULL;

    VZ_ASSERT(digest != NULL);
    VZ_ASSERT(digest->configMethod != NULL);
    VZ_ASSERT(entity != NULL);
    VZ_ASSERT(*entity == NULL);

    err = CFQDictionaryCreateMutable(&result);
    if (!gMoreSCCreateIPv4EntityDontCheck) {
        if (CFEqual(digest->configMethod, kSCValNetIPv4ConfigMethodBOOTP)) {
            method = 'boot';
        } else if (CFEqual(digest->configMethod, kSCValNetIPv4ConfigMethodDHCP)) {
            method = 'dhcp';
        } else if (CFEqual(digest->configMethod, kSCValNetIPv4ConfigMethodINFORM)) {
            method = 'info';
        } else if (CFEqual(digest->configMethod, kSCValNetIPv4ConfigMethodManual)) {
            method = 'manu';
        } else if (CFEqual(digest->configMethod, kSCValNetIPv4ConfigMethodPPP)) {
            method = 'ppp ';
        }
        VZ_ASSERT(method != 'bad!');
        VZ_ASSERT((digest->clientID == NULL) || (method == 'dhcp'));
    }
    if (err == noErr) {
        CFDictionarySetValue(result, kSCPropNetIPv4ConfigMethod, digest->configMethod);
        if (digest->clientID != NULL) {
            CFDictionarySetValue(result, kSCPropNetIPv4DHCPClientID, digest->clientID);
        }
    }
    // An address of 0 means "none given" and is never stored.
    if ((err == noErr) && (digest->address.s_addr != 0)) {
        err = VaviVAZCreateArrayWithInetAddresses(1, &digest->address, &addresses);
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetIPv4Addresses, addresses);
    }
    if ((err == noErr) && (digest->subnetMask.s_addr != 0)) {
        err = VaviVAZCreateArrayWithInetAddresses(1, &digest->subnetMask, &masks);
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetIPv4SubnetMasks, masks);
    }
    // The router is one plain string, not an array.
    if ((err == noErr) && (digest->router.s_addr != 0)) {
        err = VaviVAZCreateStringWithInetAddress(digest->router, &router);
        if (err == noErr) CFDictionarySetValue(result, kSCPropNetIPv4Router, router);
    }
    if (err == noErr) {
        *entity = result;
        result  = NULL;
    }

    CFQRelease(router);
    CFQRelease(masks);
    CFQRelease(addresses);
    CFQRelease(result);
    VZ_ASSERT((err == noErr) == (*entity != NULL));
    return err;
}
