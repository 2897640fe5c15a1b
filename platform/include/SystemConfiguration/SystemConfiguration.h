// SystemConfiguration.h: the network preferences store, the dynamic store,
// connection status, status codes and the schema constants.
//
// Every file lives under the root (VAVIVAZ_ROOT, or the machine's own root,
// a folder the build fixes):
//   Library/Preferences/SystemConfiguration/preferences.plist (+ "-lock")
//   var/run/SystemConfiguration/dynamic-store.plist (+ "-lock")
#ifndef VZ_SYSTEMCONFIGURATION_H
#define VZ_SYSTEMCONFIGURATION_H

#include <CoreFoundation/CoreFoundation.h>

// Status codes, as SCError() reports them.
enum {
    kSCStatusOK               = 0,
    kSCStatusFailed           = 1001, // failed, no more specific status
    kSCStatusInvalidArgument  = 1002,
    kSCStatusAccessError      = 1003, // permission denied
    kSCStatusNoKey            = 1004, // nothing stored at the key or path
    kSCStatusKeyExists        = 1005,
    kSCStatusLocked           = 1006,
    kSCStatusNeedLock         = 1007,
    kSCStatusNoStoreSession   = 2001,
    kSCStatusNoPrefsSession   = 3001,
    kSCStatusPrefsBusy        = 3002, // the lock is held elsewhere and the caller would not wait
    kSCStatusNoConfigFile     = 3003,
    kSCStatusNoLink           = 3004,
    kSCStatusStale            = 3005, // the store changed since this snapshot was taken
    kSCStatusMaxLink          = 3006  // links nested too deeply, or a cycle
};

typedef const struct __SCPreferences       *SCPreferencesRef;
typedef const struct __SCDynamicStore      *SCDynamicStoreRef;
typedef const struct __SCNetworkConnection *SCNetworkConnectionRef;

typedef void (*SCDynamicStoreCallBack)(SCDynamicStoreRef store, CFArrayRef changedKeys,
                                       void *info);
typedef struct {
    CFIndex version;
    void   *info;
    const void *(*retain)(const void *info);
    void (*release)(const void *info);
    CFStringRef (*copyDescription)(const void *info);
} SCDynamicStoreContext;

typedef int32_t SCNetworkConnectionStatus;
enum {
    kSCNetworkConnectionInvalid       = -1,
    kSCNetworkConnectionDisconnected  = 0,
    kSCNetworkConnectionConnecting    = 1,
    kSCNetworkConnectionConnected     = 2,
    kSCNetworkConnectionDisconnecting = 3
};

typedef void (*SCNetworkConnectionCallBack)(SCNetworkConnectionRef connection,
                                            SCNetworkConnectionStatus status, void *info);
typedef struct {
    CFIndex version;
    void   *info;
    const void *(*retain)(const void *info);
    void (*release)(const void *info);
    CFStringRef (*copyDescription)(const void *info);
} SCNetworkConnectionContext;

extern "C" {

// The status of the most recent failed call of this layer on this thread; 0
// if none failed.
int         SCError(void) noexcept;
const char *SCErrorString(int status) noexcept;

// Preferences store. prefsID NULL names the network preferences store; a
// relative ID names a file in the same folder, an absolute one a file under
// the root.
CFTypeID         SCPreferencesGetTypeID(void) noexcept;
SCPreferencesRef SCPreferencesCreate(CFAllocatorRef allocator, CFStringRef name,
                                     CFStringRef prefsID) noexcept;
Boolean SCPreferencesLock(SCPreferencesRef prefs, Boolean wait) noexcept;
Boolean SCPreferencesUnlock(SCPreferencesRef prefs) noexcept;
Boolean SCPreferencesCommitChanges(SCPreferencesRef prefs) noexcept;
Boolean SCPreferencesApplyChanges(SCPreferencesRef prefs) noexcept;
CFArrayRef        SCPreferencesCopyKeyList(SCPreferencesRef prefs) noexcept;
CFPropertyListRef SCPreferencesGetValue(SCPreferencesRef prefs, CFStringRef key) noexcept;
Boolean SCPreferencesAddValue(SCPreferencesRef prefs, CFStringRef key,
                              CFPropertyListRef value) noexcept;
Boolean SCPreferencesSetValue(SCPreferencesRef prefs, CFStringRef key,
                              CFPropertyListRef value) noexcept;
Boolean SCPreferencesRemoveValue(SCPreferencesRef prefs, CFStringRef key) noexcept;

CFStringRef     SCPreferencesPathCreateUniqueChild(SCPreferencesRef prefs,
                                                   CFStringRef prefix) noexcept;
CFDictionaryRef SCPreferencesPathGetValue(SCPreferencesRef prefs, CFStringRef path) noexcept;
CFStringRef     SCPreferencesPathGetLink(SCPreferencesRef prefs, CFStringRef path) noexcept;
Boolean SCPreferencesPathSetValue(SCPreferencesRef prefs, CFStringRef path,
                                  CFDictionaryRef value) noexcept;
Boolean SCPreferencesPathSetLink(SCPreferencesRef prefs, CFStringRef path,
                                 CFStringRef link) noexcept;
Boolean SCPreferencesPathRemoveValue(SCPreferencesRef prefs, CFStringRef path) noexcept;

// Restore points in the edits made through a preferences object, an addition
// of this platform (hence the prefix), for callers whose series of edits must
// leave the object as it found it when one of them fails. Marks nest as a
// stack. VZPreferencesPushMark remembers the object's values as they are now.
// VZPreferencesPopMark drops the latest mark; with restore it first puts
// every value back as it was when that mark was pushed (a commit made since
// is not undone in the store, but the object then holds changes again).
// Without restore the edits made since the mark stay, and belong to the
// enclosing mark. A pop without a mark fails with 1002; a restore that cannot
// finish (out of memory) fails with 1001 and leaves the object refusing every
// later lock and commit with 3005, so that what it was to undo is never
// written.
Boolean VZPreferencesPushMark(SCPreferencesRef prefs) noexcept;
Boolean VZPreferencesPopMark(SCPreferencesRef prefs, Boolean restore) noexcept;

// How the running system's network followed an apply, an addition of this
// platform. On a live root (the running machine's own), applying also brings
// NetworkManager's connection profiles to the current set when NetworkManager
// is on the system bus, and the report (a dictionary of the kVZApply... keys
// below) says what was changed, what failed and what no profile can carry.
// VZPreferencesCopyApplyReport hands over the report of the latest
// SCPreferencesApplyChanges of this thread and forgets it: NULL when none
// was made since the last call. VZPreferencesCopyApplyPlan changes nothing:
// it reads the committed store and NetworkManager's profiles and reports
// what an apply would change (State "Planned"); NULL with SCError() set when
// the store cannot be read.
CFDictionaryRef VZPreferencesCopyApplyReport(void) noexcept;
CFDictionaryRef VZPreferencesCopyApplyPlan(void) noexcept;

// One view of each store for a process that reads in one pass, an addition
// of this platform. Every new preferences object proves that the parse of the
// store it shares is still the file's (a stat of the file each). A process
// that opens many in a row and hears from no one meanwhile (the status probe,
// which opens one per service) may call VZPreferencesReadInOnePass with true:
// from then on a store proven once is not proven again, and every later
// object sees that first view. Nothing the process could observe tells the
// two apart, since a change it would have met after its first view could as
// well have come after its last. The process's own writes end the views they
// may change; false proves every object again.
void VZPreferencesReadInOnePass(Boolean onePass) noexcept;

// Dynamic store.
CFTypeID          SCDynamicStoreGetTypeID(void) noexcept;
SCDynamicStoreRef SCDynamicStoreCreate(CFAllocatorRef allocator, CFStringRef name,
                                       SCDynamicStoreCallBack callout,
                                       SCDynamicStoreContext *context) noexcept;
// Keys matching a POSIX extended regular expression over the whole key.
CFArrayRef        SCDynamicStoreCopyKeyList(SCDynamicStoreRef store, CFStringRef pattern) noexcept;
CFPropertyListRef SCDynamicStoreCopyValue(SCDynamicStoreRef store, CFStringRef key) noexcept;
Boolean SCDynamicStoreSetValue(SCDynamicStoreRef store, CFStringRef key,
                               CFPropertyListRef value) noexcept;
Boolean SCDynamicStoreRemoveValue(SCDynamicStoreRef store, CFStringRef key) noexcept;
// "domain/Network/Service/serviceID/entity"
CFStringRef SCDynamicStoreKeyCreateNetworkServiceEntity(CFAllocatorRef allocator,
                                                        CFStringRef domain, CFStringRef serviceID,
                                                        CFStringRef entity) noexcept;
// "domain/Network/Global/entity"
CFStringRef SCDynamicStoreKeyCreateNetworkGlobalEntity(CFAllocatorRef allocator,
                                                       CFStringRef domain,
                                                       CFStringRef entity) noexcept;

// The root every file of this layer lives under, and whether it is live
// (the running machine's own, whose connections and devices are the
// machine's), additions of this platform. VZCopyRootPath gives a new string
// ("/" for the top of the file system), NULL when memory runs out.
CFStringRef VZCopyRootPath(void) noexcept;
Boolean     VZRootIsLive(void) noexcept;

// Connection status: the dynamic store's, and on a live root ModemManager's
// for a service whose device a modem manages (within one second; when
// ModemManager cannot say, the dynamic store's).
CFTypeID               SCNetworkConnectionGetTypeID(void) noexcept;
SCNetworkConnectionRef SCNetworkConnectionCreateWithServiceID(
    CFAllocatorRef allocator, CFStringRef serviceID, SCNetworkConnectionCallBack callout,
    SCNetworkConnectionContext *context) noexcept;
CFStringRef SCNetworkConnectionCopyServiceID(SCNetworkConnectionRef connection) noexcept;
SCNetworkConnectionStatus SCNetworkConnectionGetStatus(SCNetworkConnectionRef connection) noexcept;
CFDictionaryRef SCNetworkConnectionCopyUserOptions(SCNetworkConnectionRef connection) noexcept;
// Starts and stops the service's connection; false with SCError() set on
// failure. On a live root through ModemManager: Start connects the modem of
// the service's device with the account, password and access point name of
// the PPP entity of userOptions (kSCEntNetPPP: kSCPropNetPPPAuthName,
// kSCPropNetPPPAuthPassword as text or as the stored encoded form,
// kVZPropNetPPPAccessPointName), each taken from the service's published PPP
// entity when userOptions does not give it, and returns once the modem is
// connected; Stop disconnects it. On any other root they record the
// transition in the dynamic store (State: Status 2, with userOptions less
// any password, or 0). linger and forceDisconnect change nothing.
Boolean SCNetworkConnectionStart(SCNetworkConnectionRef connection, CFDictionaryRef userOptions,
                                 Boolean linger) noexcept;
Boolean SCNetworkConnectionStop(SCNetworkConnectionRef connection, Boolean forceDisconnect) noexcept;
// Why the connection's last Start or Stop failed, in words (ModemManager's
// reason when it gave one), an addition of this platform: a new string, or
// NULL when the last one did not fail.
CFStringRef VZNetworkConnectionCopyLastError(SCNetworkConnectionRef connection) noexcept;

} // extern "C"

// Schema constants. Each is an immortal string whose text is the platform's.
// Store keys and path components.
#define kSCPrefCurrentSet      CFSTR("CurrentSet")
#define kSCPrefNetworkServices CFSTR("NetworkServices")
#define kSCPrefSets            CFSTR("Sets")
#define kSCPrefSystem          CFSTR("System")
#define kSCCompNetwork         CFSTR("Network")
#define kSCCompService         CFSTR("Service")
#define kSCCompGlobal          CFSTR("Global")
#define kSCCompSystem          CFSTR("System")
#define kSCCompInterface       CFSTR("Interface")
#define kSCCompAnyRegex        CFSTR("[^/]+")
#define kSCResvLink            CFSTR("__LINK__")
#define kSCResvInactive        CFSTR("__INACTIVE__")

// An apply report's keys and values (VZPreferencesCopyApplyReport).
#define kVZApplyReportState      CFSTR("State") // one of the five states:
#define kVZApplyStateNotLive     CFSTR("NotLive")  // NetworkManager is not asked
#define kVZApplyStateAbsent      CFSTR("Absent")   // not on the bus: nothing changed
#define kVZApplyStateFollowed    CFSTR("Followed") // every change made
#define kVZApplyStateFailed      CFSTR("Failed")   // refused or failed (Done says how far)
#define kVZApplyStatePlanned     CFSTR("Planned")  // nothing changed: a plan
#define kVZApplyReportError      CFSTR("Error")    // number, when Failed: an SCError status
#define kVZApplyReportReason     CFSTR("Reason")   // string, when Failed: NetworkManager's error
#define kVZApplyReportProfiles   CFSTR("Profiles") // array of dictionaries, one per profile of ours:
#define kVZApplyProfileAction    CFSTR("Action")   // one of the four actions:
#define kVZApplyActionAdd        CFSTR("add")
#define kVZApplyActionUpdate     CFSTR("update")
#define kVZApplyActionDelete     CFSTR("delete")
#define kVZApplyActionUnchanged  CFSTR("unchanged")
#define kVZApplyProfileDone      CFSTR("Done") // number 1 when the change was made
#define kVZApplyProfileName      CFSTR("Name")
#define kVZApplyProfileUUID      CFSTR("UUID")
#define kVZApplyProfileType      CFSTR("Type")      // "802-3-ethernet", "pppoe", ...
#define kVZApplyProfileInterface CFSTR("Interface") // when bound to one
#define kVZApplyProfileServiceID CFSTR("ServiceID")
#define kVZApplyProfileLocationID CFSTR("LocationID")
#define kVZApplyProfilePath      CFSTR("Path") // NetworkManager's object, when there is one
#define kVZApplyReportNotCarried CFSTR("NotCarried") // array of dictionaries:
#define kVZApplyNotCarriedServiceID   CFSTR("ServiceID")
#define kVZApplyNotCarriedServiceName CFSTR("ServiceName")
#define kVZApplyNotCarriedItem        CFSTR("Item")  // "proxy", "phone-number", ...
#define kVZApplyNotCarriedValue       CFSTR("Value") // the offending text, when there is one
#define kVZApplyNotCarriedText        CFSTR("Text")  // in words: "the HTTP proxy of Ethernet"

// Dynamic store domains.
#define kSCDynamicStoreDomainSetup  CFSTR("Setup:")
#define kSCDynamicStoreDomainState  CFSTR("State:")
#define kSCDynamicStoreDomainFile   CFSTR("File:")
#define kSCDynamicStoreDomainPlugin CFSTR("Plugin:")
#define kSCDynamicStoreDomainPrefs  CFSTR("Prefs:")

// Entities.
#define kSCEntNetAirPort   CFSTR("AirPort")
#define kSCEntNetAppleTalk CFSTR("AppleTalk")
#define kSCEntNetDHCP      CFSTR("DHCP")
#define kSCEntNetDNS       CFSTR("DNS")
#define kSCEntNetEthernet  CFSTR("Ethernet")
#define kSCEntNetFireWire  CFSTR("FireWire")
#define kSCEntNetInterface CFSTR("Interface")
#define kSCEntNetIPv4      CFSTR("IPv4")
#define kSCEntNetIPv6      CFSTR("IPv6")
#define kSCEntNetLink      CFSTR("Link")
#define kSCEntNetModem     CFSTR("Modem")
#define kSCEntNetNetInfo   CFSTR("NetInfo")
#define kSCEntNetPPP       CFSTR("PPP")
#define kSCEntNetPPPoE     CFSTR("PPPoE")
#define kSCEntNetProxies   CFSTR("Proxies")

// Properties.
#define kSCPropUserDefinedName       CFSTR("UserDefinedName")
#define kSCPropMACAddress            CFSTR("MACAddress")
#define kSCPropNetServiceOrder       CFSTR("ServiceOrder")
#define kSCPropNetPPPOverridePrimary CFSTR("PPPOverridePrimary")
// The access point name a mobile broadband modem connects to, kept in the
// service's PPP entity: a key of this platform's own.
#define kVZPropNetPPPAccessPointName CFSTR("VZAccessPointName")

#define kSCPropNetInterfaceDeviceName          CFSTR("DeviceName")
#define kSCPropNetInterfaceHardware            CFSTR("Hardware")
#define kSCPropNetInterfaceType                CFSTR("Type")
#define kSCPropNetInterfaceSubType             CFSTR("SubType")
#define kSCPropNetInterfaceSupportsModemOnHold CFSTR("SupportsModemOnHold")

#define kSCPropNetIPv4ConfigMethod  CFSTR("ConfigMethod")
#define kSCPropNetIPv4Addresses     CFSTR("Addresses")
#define kSCPropNetIPv4SubnetMasks   CFSTR("SubnetMasks")
#define kSCPropNetIPv4Router        CFSTR("Router")
#define kSCPropNetIPv4DHCPClientID  CFSTR("DHCPClientID")
#define kSCPropNetIPv6ConfigMethod  CFSTR("ConfigMethod")

#define kSCPropNetDNSServerAddresses CFSTR("ServerAddresses")
#define kSCPropNetDNSSearchDomains   CFSTR("SearchDomains")

#define kSCPropNetProxiesExceptionsList CFSTR("ExceptionsList")
#define kSCPropNetProxiesFTPPassive     CFSTR("FTPPassive")
#define kSCPropNetProxiesFTPEnable      CFSTR("FTPEnable")
#define kSCPropNetProxiesFTPProxy       CFSTR("FTPProxy")
#define kSCPropNetProxiesFTPPort        CFSTR("FTPPort")
#define kSCPropNetProxiesGopherEnable   CFSTR("GopherEnable")
#define kSCPropNetProxiesGopherProxy    CFSTR("GopherProxy")
#define kSCPropNetProxiesGopherPort     CFSTR("GopherPort")
#define kSCPropNetProxiesHTTPEnable     CFSTR("HTTPEnable")
#define kSCPropNetProxiesHTTPProxy      CFSTR("HTTPProxy")
#define kSCPropNetProxiesHTTPPort       CFSTR("HTTPPort")
#define kSCPropNetProxiesHTTPSEnable    CFSTR("HTTPSEnable")
#define kSCPropNetProxiesHTTPSProxy     CFSTR("HTTPSProxy")
#define kSCPropNetProxiesHTTPSPort      CFSTR("HTTPSPort")
#define kSCPropNetProxiesRTSPEnable     CFSTR("RTSPEnable")
#define kSCPropNetProxiesRTSPProxy      CFSTR("RTSPProxy")
#define kSCPropNetProxiesRTSPPort       CFSTR("RTSPPort")
#define kSCPropNetProxiesSOCKSEnable    CFSTR("SOCKSEnable")
#define kSCPropNetProxiesSOCKSProxy     CFSTR("SOCKSProxy")
#define kSCPropNetProxiesSOCKSPort      CFSTR("SOCKSPort")

#define kSCPropNetAppleTalkConfigMethod CFSTR("ConfigMethod")
#define kSCPropNetAppleTalkDefaultZone  CFSTR("DefaultZone")
#define kSCPropNetAppleTalkNetworkID    CFSTR("NetworkID")
#define kSCPropNetAppleTalkNodeID       CFSTR("NodeID")

#define kSCPropNetPPPDialOnDemand               CFSTR("DialOnDemand")
#define kSCPropNetPPPIdleReminder               CFSTR("IdleReminder")
#define kSCPropNetPPPIdleReminderTimer          CFSTR("IdleReminderTimer")
#define kSCPropNetPPPDisconnectOnIdle           CFSTR("DisconnectOnIdle")
#define kSCPropNetPPPDisconnectOnIdleTimer      CFSTR("DisconnectOnIdleTimer")
#define kSCPropNetPPPDisconnectOnLogout         CFSTR("DisconnectOnLogout")
#define kSCPropNetPPPDisconnectOnSleep          CFSTR("DisconnectOnSleep")
#define kSCPropNetPPPCommRedialEnabled          CFSTR("CommRedialEnabled")
#define kSCPropNetPPPCommRedialCount            CFSTR("CommRedialCount")
#define kSCPropNetPPPCommRedialInterval         CFSTR("CommRedialInterval")
#define kSCPropNetPPPCommRemoteAddress          CFSTR("CommRemoteAddress")
#define kSCPropNetPPPCommAlternateRemoteAddress CFSTR("CommAlternateRemoteAddress")
#define kSCPropNetPPPCommDisplayTerminalWindow  CFSTR("CommDisplayTerminalWindow")
#define kSCPropNetPPPCommUseTerminalScript      CFSTR("CommUseTerminalScript")
#define kSCPropNetPPPLCPEchoEnabled             CFSTR("LCPEchoEnabled")
#define kSCPropNetPPPLCPEchoFailure             CFSTR("LCPEchoFailure")
#define kSCPropNetPPPLCPEchoInterval            CFSTR("LCPEchoInterval")
#define kSCPropNetPPPIPCPCompressionVJ          CFSTR("IPCPCompressionVJ")
#define kSCPropNetPPPVerboseLogging             CFSTR("VerboseLogging")
#define kSCPropNetPPPLogfile                    CFSTR("Logfile")
#define kSCPropNetPPPAuthName                   CFSTR("AuthName")
#define kSCPropNetPPPAuthPassword               CFSTR("AuthPassword")
#define kSCPropNetPPPACSPEnabled                CFSTR("ACSPEnabled")

// An addition of this platform (hence the prefix). The stores' files never
// hold a password: each AuthPassword is kept in a secrets file beside the
// store that only the store's owner can read, and the entity keeps this key
// instead, whose value (a string) names the password there and tells nothing
// of it. A process that can read the secrets file sees every entity with its
// AuthPassword, as it was set, and not this key (unless the secrets file has
// lost that password); any other process sees this key where a password is
// set, and no AuthPassword.
#define kVZPropNetPPPAuthPasswordSecret CFSTR("VZAuthPasswordSecret")

#define kSCPropNetModemConnectionScript            CFSTR("ConnectionScript")
#define kSCPropNetModemDataCompression             CFSTR("DataCompression")
#define kSCPropNetModemDialMode                    CFSTR("DialMode")
#define kSCPropNetModemErrorCorrection             CFSTR("ErrorCorrection")
#define kSCPropNetModemPulseDial                   CFSTR("PulseDial")
#define kSCPropNetModemSpeaker                     CFSTR("Speaker")
#define kSCPropNetModemHoldCallWaitingAudibleAlert CFSTR("HoldCallWaitingAudibleAlert")
#define kSCPropNetModemHoldDisconnectOnAnswer      CFSTR("HoldDisconnectOnAnswer")
#define kSCPropNetModemHoldEnabled                 CFSTR("HoldEnabled")
#define kSCPropNetModemHoldReminder                CFSTR("HoldReminder")
#define kSCPropNetModemHoldReminderTime            CFSTR("HoldReminderTime")

#define kSCPropNetAirPortPreferredNetwork CFSTR("PreferredNetwork")

// Values.
#define kSCValNetInterfaceTypeEthernet      CFSTR("Ethernet")
#define kSCValNetInterfaceTypeFireWire      CFSTR("FireWire")
#define kSCValNetInterfaceTypePPP           CFSTR("PPP")
#define kSCValNetInterfaceSubTypePPPSerial  CFSTR("PPPSerial")
#define kSCValNetInterfaceSubTypePPPoE      CFSTR("PPPoE")
#define kSCValNetIPv4ConfigMethodBOOTP      CFSTR("BOOTP")
#define kSCValNetIPv4ConfigMethodDHCP       CFSTR("DHCP")
#define kSCValNetIPv4ConfigMethodINFORM     CFSTR("INFORM")
#define kSCValNetIPv4ConfigMethodManual     CFSTR("Manual")
#define kSCValNetIPv4ConfigMethodPPP        CFSTR("PPP")
#define kSCValNetIPv6ConfigMethodAutomatic  CFSTR("Automatic")
#define kSCValNetAppleTalkConfigMethodNode  CFSTR("Node")
#define kSCValNetModemDialModeWaitForDialTone CFSTR("WaitForDialTone")
#define kSCValNetModemDialModeIgnoreDialTone  CFSTR("IgnoreDialTone")

#endif
