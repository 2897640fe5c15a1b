// VaviVAZDigest.h: the entity builders. A digest is a small fixed record that a
// caller clears to zero and fills; a builder turns it into the entity
// dictionary that the network preferences store holds for one protocol, with
// defaults that depend on the running system's version. The builders only
// build: they never touch the store.
//
// Also here: the encodings between the compact forms that digests carry (six
// MAC bytes, IPv4 addresses, a password string) and the forms stored in
// entities.
//
// Error codes: 0 success; -4960 a string, number, array, dictionary or data
// value could not be made, or a MAC string is longer than 17 characters or not
// ASCII; -108 a memory block could not be allocated; -1 a MAC string that does
// not scan as six hexadecimal groups.
//
// Every builder's out-parameter must be non-NULL and point to NULL on entry;
// on success it holds a new mutable dictionary the caller releases, on failure
// it stays NULL and nothing is left half-built. A digest that breaks its rules
// (a required field NULL, a value outside the listed ones) is a programming
// error and stops the process with an assertion.
#ifndef VZ_VAVIVAZDIGEST_H
#define VZ_VAVIVAZDIGEST_H

#include <CoreFoundation/CoreFoundation.h>

#include <arpa/inet.h>

// ---------------------------------------------------------------------------
// Encodings

// "02:0a:1b:ff:07:c4" for the six bytes at macAddr (first byte first).
OSStatus VaviVAZCreateStringWithMacAddress(const UInt8 *macAddr, CFStringRef *result) noexcept;

// Reads six colon-separated groups of one or two hexadecimal digits (either
// case) into macAddr[0..5]. -4960 for a string of more than 17 characters or
// with a character outside ASCII, -1 for one that does not scan (a group with
// a sign, such as "-1", included); macAddr is written only on success.
OSStatus VaviVAZStringToMacAddress(CFStringRef cfStr, UInt8 *macAddr) noexcept;

// The dotted decimal form of an address in network byte order.
OSStatus VaviVAZCreateStringWithInetAddress(struct in_addr addr, CFStringRef *result) noexcept;

// An array of the dotted forms of addrCount addresses, in input order.
OSStatus VaviVAZCreateArrayWithInetAddresses(UInt32 addrCount, const struct in_addr *addresses,
                                             CFArrayRef *result) noexcept;

// The password's UTF-16 code units in host byte order, two bytes each, with no
// byte-order mark and no terminator: the form the PPP entity stores.
OSStatus VaviVAZCopyEncodedPPPPassword(CFStringRef password, CFDataRef *encodedPassword) noexcept;

// ---------------------------------------------------------------------------
// Digests of the protocol entities of a service and of a set's globals

// Both global entities (IPv4, NetInfo) take this record; nothing reads it.
struct MoreSCGlobalDigest {
    UInt32 reserved;
};

// For each proxy protocol: its enable flag, host (NULL: none) and port (0:
// none). From 10.3 on, a protocol that is off, without host and port, is left
// out of the entity altogether.
struct MoreSCProxiesDigest {
    CFArrayRef  exceptionsList; // host names, optional
    Boolean     ftpPassive;
    Boolean     ftpEnable;
    CFStringRef ftpProxy;
    UInt16      ftpPort;
    Boolean     gopherEnable;
    CFStringRef gopherProxy;
    UInt16      gopherPort;
    Boolean     httpEnable;
    CFStringRef httpProxy;
    UInt16      httpPort;
    Boolean     httpsEnable;
    CFStringRef httpsProxy;
    UInt16      httpsPort;
    Boolean     rtspEnable;
    CFStringRef rtspProxy;
    UInt16      rtspPort;
    Boolean     socksEnable;
    CFStringRef socksProxy;
    UInt16      socksPort;
    Boolean     excludeSimpleHostnames;   // written on 10.4 and later
    Boolean     proxyAutoDiscoveryEnable; // written on 10.4 and later
};

struct MoreSCAppleTalkDigest {
    Boolean     active;       // false: the entity is marked inactive
    CFStringRef configMethod; // required, kSCValNetAppleTalkConfigMethodNode
    Boolean     hasNetworkAndNode;
    UInt16      networkID;
    UInt8       nodeID;
    CFStringRef defaultZone; // optional
};

struct MoreSCDNSDigest {
    UInt32                serverAddressesCount;
    const struct in_addr *serverAddresses; // required when the count is nonzero
    UInt32                searchDomainsCount;
    const CFStringRef    *searchDomains; // required when the count is nonzero; no NULL entry
};

struct MoreSCIPv4Digest {
    CFStringRef    configMethod; // required: BOOTP, DHCP, INFORM, Manual or PPP
    struct in_addr address;      // 0: none
    struct in_addr subnetMask;   // 0: none
    struct in_addr router;       // 0: none
    CFStringRef    clientID;     // optional, only with DHCP
};

// ---------------------------------------------------------------------------
// Digests of the link entities of a service

struct MoreSCInterfaceDigest {
    CFStringRef deviceName;      // required, the port's BSD name
    CFStringRef hardware;        // required: AirPort, Ethernet, Modem or FireWire
    CFStringRef variant;         // optional, modem hardware only
    CFStringRef type;            // required: Ethernet, PPP or FireWire
    CFStringRef subType;         // optional, PPP type only: PPPSerial or PPPoE
    CFStringRef userDefinedName; // required
    Boolean     supportsHold;    // has an effect only for modem hardware
};

// Timers and intervals in seconds.
struct MoreSCPPPOptions {
    Boolean dialOnDemand;
    Boolean idleReminder;
    UInt32  idleReminderTimer;
    Boolean disconnectOnIdle;
    UInt32  disconnectOnIdleTimer;
    Boolean disconnectOnLogout;
    Boolean commRedialEnabled;
    UInt32  commRedialCount;
    UInt32  commRedialInterval;
    Boolean lcpEchoEnabled;
    Boolean ipcpCompressionVJ;
    Boolean commDisplayTerminalWindow;
    Boolean verboseLogging;
};

struct MoreSCPPPDigest {
    Boolean                 active; // false: the entity is marked inactive
    CFStringRef             userDefinedName;
    CFStringRef             authName;
    CFStringRef             authPassword; // plain text; stored encoded
    CFStringRef             commRemoteAddress;
    CFStringRef             commAlternateRemoteAddress;
    const MoreSCPPPOptions *options; // NULL: the dial-up defaults of this system
};

struct MoreSCModemDigest {
    CFStringRef connectionScript; // required
    Boolean     errorCorrectionAndCompression;
    Boolean     speaker;
    Boolean     pulseDial;
    Boolean     waitForDialTone;
    Boolean     supportsHold; // the modem-on-hold settings are written
};

struct MoreSCAirPortDigest {
    UInt8       macAddress[6];
    CFStringRef preferredNetwork; // optional
};

struct MoreSCEthernetDigest {
    UInt8 macAddress[6];
};

// ---------------------------------------------------------------------------
// Defaults and settings

extern const MoreSCPPPOptions  kMoreSCPPPOptionsDefaultTenOne;
extern const MoreSCPPPOptions  kMoreSCPPPOptionsDefaultTenTwoAndLater;
extern const MoreSCPPPOptions  kMoreSCPPPoEOptionsDefaultTenTwoAndLater;
extern const MoreSCModemDigest kMoreSCModemDigestDefault; // needs a script name to be built

// While true, MoreSCCreateIPv4Entity skips its checks of the config method and
// the client ID. The builder never resets it.
extern Boolean gMoreSCCreateIPv4EntityDontCheck;

// The PPP option defaults of the running system (borrowed, never NULL): the
// 10.1 record before 10.2 whatever is asked, else the PPPoE or the dial-up
// record.
const MoreSCPPPOptions *MoreSCGetDefaultPPPOptions(Boolean pppoe) noexcept;

// The running system's version as the PPP builder sees it: false at program
// start, recomputed by every call of MoreSCGetDefaultPPPOptions (which the
// PPP builder makes first). Read them; only that call writes them.
extern Boolean gTenTwoOrLater;       // 10.2 or later
extern Boolean gTenThreeOrLater;     // 10.3 or later
extern Boolean gTenThreeFiveOrLater; // 10.3.5 or later
extern Boolean gTenFourOrLater;      // 10.4 or later

// ---------------------------------------------------------------------------
// Builders

// Routes protocol (kSCEntNetInterface, Proxies, AppleTalk, DNS, IPv4, PPP,
// AirPort, Ethernet or Modem) to its builder; digest must be that protocol's
// record. Any other protocol is an assertion.
OSStatus MoreSCCreateEntity(CFStringRef protocol, const void *digest,
                            CFMutableDictionaryRef *entity) noexcept;

// Routes kSCEntNetIPv4 or kSCEntNetNetInfo to its global builder; any other
// protocol is an assertion.
OSStatus MoreSCCreateGlobalEntity(CFStringRef protocol, const MoreSCGlobalDigest *digest,
                                  CFMutableDictionaryRef *entity) noexcept;
OSStatus MoreSCCreateIPv4GlobalEntity(const MoreSCGlobalDigest *digest,
                                      CFMutableDictionaryRef   *entity) noexcept;
OSStatus MoreSCCreateNetInfoGlobalEntity(const MoreSCGlobalDigest *digest,
                                         CFMutableDictionaryRef   *entity) noexcept;

OSStatus MoreSCCreateProxiesEntity(const MoreSCProxiesDigest *digest,
                                   CFMutableDictionaryRef    *entity) noexcept;

// The proxy protocols of a proxies entity, in the order the builder writes
// them: the name people use for each ("ftp", "gopher", "http", "https",
// "rtsp", "socks"), the entity's keys of its enable flag, host and port, and
// the digest's fields for them.
struct MoreSCProxyKind {
    const char *name;
    CFStringRef enableKey;
    CFStringRef proxyKey;
    CFStringRef portKey;
    Boolean MoreSCProxiesDigest::*enable;
    CFStringRef MoreSCProxiesDigest::*proxy;
    UInt16 MoreSCProxiesDigest::*port;
};
// The kinds (borrowed, for the life of the process); their number in *count.
const MoreSCProxyKind *MoreSCGetProxyKinds(CFIndex *count) noexcept;
OSStatus               MoreSCCreateAppleTalkEntity(const MoreSCAppleTalkDigest *digest,
                                                   CFMutableDictionaryRef      *entity) noexcept;
OSStatus               MoreSCCreateDNSEntity(const MoreSCDNSDigest  *digest,
                                             CFMutableDictionaryRef *entity) noexcept;
OSStatus               MoreSCCreateIPv4Entity(const MoreSCIPv4Digest *digest,
                                              CFMutableDictionaryRef *entity) noexcept;

OSStatus MoreSCCreateInterfaceEntity(const MoreSCInterfaceDigest *digest,
                                     CFMutableDictionaryRef      *entity) noexcept;
OSStatus MoreSCCreatePPPEntity(const MoreSCPPPDigest  *digest,
                               CFMutableDictionaryRef *entity) noexcept;
OSStatus MoreSCCreateModemEntity(const MoreSCModemDigest *digest,
                                 CFMutableDictionaryRef  *entity) noexcept;
OSStatus MoreSCCreateAirPortEntity(const MoreSCAirPortDigest *digest,
                                   CFMutableDictionaryRef    *entity) noexcept;
OSStatus MoreSCCreateEthernetEntity(const MoreSCEthernetDigest *digest,
                                    CFMutableDictionaryRef     *entity) noexcept;

#endif
