// VaviVAZHelpers.h: configuration recipes: one call for a task a user of the
// network preferences model (VaviVAZ.h) would otherwise do in many. Finding
// a set by name and the first port of a kind; configuring the service of one
// port in the current set (with ready-made entities, or built from dial-up or
// PPPoE digests) while switching off the maker's auxiliary modem ports;
// reading and switching AppleTalk; listing the services that run DHCP and
// releasing a service's lease.
//
// Every operation returns an error code (0 noErr) and hands its results out
// through out-parameters. A required out-parameter must be non-NULL and point
// to NULL on entry; on success it holds one reference that the caller
// releases, on failure it is NULL. Passing NULL where an argument is
// required, or an out-parameter that is not NULL on entry, is a programming
// error and stops the process with an assertion.
//
// The recipes run in the model's session (MoreSCOpen and MoreSCClose):
// called outside any session, a recipe that changes the store commits and
// applies its changes before it returns; inside a caller's session the
// changes wait for the caller's outermost close. A recipe that fails part of
// the way keeps the changes it made before the failure (each was made by a
// writer of the model that succeeded) and they are committed with the rest.
//
// Codes: those of the model (VaviVAZ.h) and of the port scanner
// (VaviVAZPortScanner.h), passed through; -50 (kMoreSCErrorBadRequest) a
// recipe without a port; -108 a memory block could not be allocated; -4960
// an object could not be made, or a value read from a store is of the wrong
// kind; -2 a service configured for IPv4 in the running system without a
// config method.
#ifndef VZ_VAVIVAZHELPERS_H
#define VZ_VAVIVAZHELPERS_H

#include <CoreFoundation/CoreFoundation.h>

#include "VaviVAZDigest.h"

enum {
    kMoreSCErrorNoConfigMethod = -2 // a running IPv4 configuration without a config method
};

// ---------------------------------------------------------------------------
// Finding sets and ports.

// The ID of the first set (in the order the sets dictionary lists them) whose
// user-visible name equals userVisibleName exactly. No such set is success
// with *setID still NULL. A set whose name cannot be read ends the search
// with that error. The sets are read in one snapshot of the store.
OSStatus VaviVAZindSetByUserVisibleNameAndCopyID(CFStringRef  userVisibleName,
                                                 CFStringRef *setID) noexcept;

// The device name ("en0", "modem", ...) of the first port, in the port
// scanner's order, whose hardware equals hardware (kSCEntNetEthernet,
// kSCEntNetAirPort, kSCEntNetModem or kSCEntNetFireWire). No such port is
// success with *bsdName still NULL; the scan's error is passed on. With
// kSCEntNetEthernet this finds "en0" before other Ethernet ports and never
// an AirPort port.
OSStatus VaviVAZCopyDefaultPortBSDName(CFStringRef hardware, CFStringRef *bsdName) noexcept;

// ---------------------------------------------------------------------------
// Configuring one port's service in the current set.
//
// Despite their names, these make no new set: they work on the current set,
// which keeps its name (userVisibleName is required and not used further),
// and hand its ID out in *newSetID when newSetID is not NULL. Every service of
// the current set whose interface's device name equals bsdName is made
// active and receives the entities; every other service on the maker's
// auxiliary modem ports, "ZORVEXMobile-Diag" and "ZORVEXMobile-Pcui", is made
// inactive. Services are visited in service order. A service whose device
// name cannot be read is passed over: one without a device (a VPN service),
// or one whose link or record is damaged. When no service on bsdName was
// found and a damaged one was passed over, the recipe fails with the error
// of the first (it may have been on the port); the services visited before
// keep their changes.

// The device names of the auxiliary ports of the maker's modem.
#define kVaviVAZModemDiagnosticsPort CFSTR("ZORVEXMobile-Diag")
#define kVaviVAZModemControlPort CFSTR("ZORVEXMobile-Pcui")

// serviceSettings maps entity names to entity dictionaries, applied in the
// dictionary's order. An entry under kSCEntNetInterface is merged into the
// service's interface entity (its keys win, the others stay); any other entry
// replaces the service's entity of that name whole.
OSStatus MoreSCMakeNewSingleServiceSet(CFStringRef bsdName, CFStringRef userVisibleName,
                                       CFDictionaryRef serviceSettings,
                                       CFStringRef    *newSetID) noexcept;

// A dial-up service on bsdName (NULL: -50, nothing done): its PPP entity from
// pppSettings (required, active set: a NULL options pointer takes this
// system's dial-up defaults) and, each only when given, its Modem, IPv4 and
// DNS entities from the other digests; the interface entity and the entities
// not given stay as they are.
OSStatus MoreSCMakeNewDialupSet(CFStringRef bsdName, CFStringRef userVisibleName,
                                const MoreSCModemDigest *modemSettings,
                                const MoreSCPPPDigest   *pppSettings,
                                const MoreSCIPv4Digest  *ipv4Settings,
                                const MoreSCDNSDigest *dnsSettings, CFStringRef *newSetID) noexcept;

// A PPPoE service on bsdName, or when that is NULL on the first Ethernet port
// (VaviVAZCopyDefaultPortBSDName; -50 when the machine has none): its PPP
// entity from pppSettings (required, active set; its options are passed
// through, so NULL options give the dial-up defaults too), its IPv4 entity
// from ipv4Settings or else configured by PPP, its DNS entity when
// dnsSettings is given, and its interface turned into PPP over Ethernet
// (type PPP, subtype PPPoE; device name, hardware and name kept).
OSStatus MoreSCMakeNewPPPoESet(CFStringRef bsdName, CFStringRef userVisibleName,
                               const MoreSCPPPDigest  *pppSettings,
                               const MoreSCIPv4Digest *ipv4Settings,
                               const MoreSCDNSDigest *dnsSettings, CFStringRef *newSetID) noexcept;

// ---------------------------------------------------------------------------
// AppleTalk and DHCP.

// AppleTalk is on in a set (NULL: the current set) when at least one active
// service of the set has an active AppleTalk entity. *active is set to false
// first and becomes true only then; a service without an AppleTalk entity,
// or whose link or record cannot be read, does not count and is no error.
OSStatus MoreSCIsAppleTalkActive(CFStringRef setID, Boolean *active) noexcept;

// Makes the AppleTalk entity of every service of the set (NULL: the current
// set) active or inactive, active services or not; services without one are
// skipped. Commits only when an entity changed. A failure stops the walk;
// the entities changed before it stay changed.
OSStatus MoreSCSetAppleTalkActive(CFStringRef setID, Boolean active) noexcept;

// The IDs (in the current set) of the services whose IPv4 configuration in
// force in the running system uses DHCP, as the configuration agent
// publishes it in the dynamic store (Setup:/Network/Service/<ID>/IPv4; BOOTP,
// INFORM, Manual and PPP do not count), in the dynamic store's order. The
// store is opened under the client name of MoreSCSetClient. -2 for a
// configured service without a config method, -4960 for a value or config
// method of the wrong kind, the platform's status (or 1001) when the dynamic
// store cannot be read; nothing is listed then.
OSStatus MoreSCCreateActiveDHCPServicesArray(CFArrayRef *activeDHCP) noexcept;

// Releases the DHCP lease of the service (its ID in the current set): marks
// its IPv4 entity inactive and closes a session, then makes it active again
// and closes another. Called outside any session each close commits and
// applies, so the running system drops the service's IPv4 configuration
// (giving up the lease) and then configures it anew; inside a caller's
// session nothing is applied in between and no lease is released. The entity
// ends active whatever its state before; the config method is not looked at.
// A failure of the first step changes nothing; one of the second step leaves
// the entity inactive, committed.
OSStatus MoreSCDHCPRelease(CFStringRef serviceID) noexcept;

#endif
