// VaviVAZ.h: the network preferences model: the session on the store and
// every operation on sets, services and entities.
//
// Every operation returns an error code (0 noErr) and hands its results out
// through out-parameters. A required out-parameter must be non-NULL and point
// to NULL on entry; on success it holds one reference that the caller
// releases (CFQRelease), on failure it is NULL.
//
// Codes: -4960 a property-list object could not be made, a key expected in a
// dictionary read from the store is absent, or the store holds a value of the
// wrong kind or shape at a place the model reads; 1001 a platform call failed
// without saying why; any other code is the platform's status, passed through
// unchanged (1004 nothing stored at a path, 3006 links nested too deeply or
// in a cycle, and so on).
#ifndef VZ_VAVIVAZ_H
#define VZ_VAVIVAZ_H

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include "MoreSCSystemVersion.h"

// ---------------------------------------------------------------------------
// The session.
//
// Every public operation brackets its work in MoreSCOpen and MoreSCClose.
// Brackets nest through a process-wide depth; the outermost open takes a fresh
// snapshot of the store, the outermost close commits the changes and applies
// them to the running system when any bracket inside it closed as a
// successful writer, then drops the snapshot. The state is process-wide and
// unguarded: one thread only.

// Enters one level of the bracket. At depth 0 it opens the store under the
// client name (MoreSCSetClient); with lockThePrefs it also takes the store's
// lock, waiting for it when waitForLock. It fails too when the snapshot cannot
// be marked for putting back (out of memory). The depth grows even when the
// open fails, so every call must be matched by exactly one MoreSCClose,
// whatever it returned.
OSStatus MoreSCOpen(Boolean lockThePrefs, Boolean waitForLock) noexcept;

// Leaves one level of the bracket. commit says that the caller changed the
// store and wants the change kept if *err is noErr. With commit and an error
// the level puts the snapshot back as its open found it, unless a writer
// closed successfully inside it: that change is kept, and so is the rest. At
// the outermost close a marked change is committed and then applied; the
// first failure of the two is stored into *err unless *err already holds an
// error, and nothing is retried. Uncommitted changes are dropped with the
// snapshot.
void MoreSCClose(OSStatus *err, Boolean commit) noexcept;

// Abandons what the outermost bracket holds: the snapshot goes back to what
// its open read, the changes of every writer that closed successfully inside
// it included, and the close then neither commits nor applies unless a
// writer closes successfully after this call. For a caller whose change is
// all or nothing (a recipe keeps the steps that went well before a failure).
// Call it at depth 1 only: with no inner bracket open. noErr, or the
// platform's status when the snapshot could not be put back; the store is
// then left unwritten all the same (the object refuses every later commit).
OSStatus MoreSCAbandon(void) noexcept;

// The open preferences object, borrowed, for callers that use the store
// directly inside a bracket. Never NULL; calling it outside a bracket is a
// programming error.
SCPreferencesRef MoreSCGetSCPreferencesRef(void) noexcept;

// The name under which the next outermost open opens the store; NULL means
// "VaviVAZ". The name is retained; MoreSCGetClient does not retain it.
OSStatus    MoreSCSetClient(CFStringRef clientName) noexcept;
CFStringRef MoreSCGetClient(void) noexcept;

// noErr if success; otherwise the platform's last status (SCError), or 1001
// when the platform reported none.
OSStatus MoreSCErrorBoolean(Boolean success) noexcept;
// MoreSCErrorBoolean(object != NULL), for platform calls that return an
// object or NULL.
OSStatus MoreSCError(const void *object) noexcept;
// A platform status as an error code: unchanged.
OSStatus MoreSCToOSStatus(OSStatus status) noexcept;

// MoreSCGetSystemVersion, the cached system version, comes from
// MoreSCSystemVersion.h (it sits below the entity builders, which read it).

// ---------------------------------------------------------------------------
// Reading the store.
//
// setID NULL means the current set, looked up afresh in each bracket. Each
// reader is one bracket; outside any bracket it reads a fresh snapshot,
// inside a caller's bracket it sees the caller's snapshot and uncommitted
// changes. Dictionaries and arrays are handed out as the snapshot holds them;
// treat them as immutable.

// The ID of the current set (the last component of the set path recorded as
// current). The platform's status or 1001 when no current set is recorded;
// -4960 when the recorded value is not a string or not of the form
// "/Sets/<ID>".
OSStatus MoreSCCopyCurrentSet(CFStringRef *setID) noexcept;

// The set's services dictionary (local service ID -> link) and/or its service
// order (the array of local service IDs under the set's global IPv4 entity).
// Either out-parameter may be NULL, not both. -4960 when the order is absent
// or not an array, when a value read is not a dictionary, or, with both asked
// for, when the dictionary and the order differ in length.
OSStatus MoreSCCopyServicesDict(CFStringRef setID, CFDictionaryRef *servicesDict,
                                CFArrayRef *serviceOrder) noexcept;

// The set's local service IDs and/or the IDs of the shared services their
// links resolve to, both in service order, duplicates and all. Either
// out-parameter may be NULL, not both. An order entry that is missing or not
// a string fails the call with -4960; with resolved IDs asked for, an entry
// without a usable link fails the whole call. No partial list is handed out.
OSStatus MoreSCCopyServiceIDs(CFStringRef setID, CFArrayRef *localServiceIDs,
                              CFArrayRef *resolvedServiceIDs) noexcept;

// The entity dictionary of protocol in the service that the set's link for
// serviceID points to, or in the set's global entities when serviceID is NULL.
OSStatus MoreSCCopyEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                          CFDictionaryRef *entity) noexcept;

// The BSD device name of the service's interface entity. -4960 when the
// entity has no device name or it is not a string.
OSStatus MoreSCCopyBSDNameOfService(CFStringRef setID, CFStringRef serviceID,
                                    CFStringRef *bsdName) noexcept;

// ---------------------------------------------------------------------------
// Editing sets, services and entities.
//
// Writers close their bracket as writers: called outside any bracket, a
// writer that succeeds commits its change and applies it before it returns,
// and one that fails commits nothing, not even the steps that went well
// before the failure. Inside a caller's bracket the changes wait for the
// outermost close; a writer that fails there leaves the snapshot as it found
// it, so that the caller's next successful writer commits none of it, and one
// that succeeds is kept even when the caller fails later. serviceID NULL in
// the entity operations means the set's
// global entities. Dictionaries and arrays handed out by the mutable readers
// are shallow copies: change them, not what they hold, and write them back.

// A call that asks for something the store cannot do as asked: deleting the
// current set, adding an entity that exists, removing one that does not,
// deleting a service the set does not list, replacing entities with a list
// that names a protocol twice or names a property of the service. Nothing is
// changed.
enum { kMoreSCErrorBadRequest = -50 };

// The entities dictionary of a service (its entities by protocol, with its
// name and inactive mark) or of the set's globals: as stored, or as a new
// mutable copy. MoreSCSetEntitiesDict stores a whole one back. The service
// is reached through the set's link, so a change is seen by every set that
// links to it.
OSStatus MoreSCCopyEntitiesDict(CFStringRef setID, CFStringRef serviceID,
                                CFDictionaryRef *entitiesDict) noexcept;
OSStatus MoreSCCopyEntitiesDictMutable(CFStringRef setID, CFStringRef serviceID,
                                       CFMutableDictionaryRef *entitiesDict) noexcept;
OSStatus MoreSCSetEntitiesDict(CFStringRef setID, CFStringRef serviceID,
                               CFDictionaryRef entitiesDict) noexcept;

// The protocols and/or the entities of a service, in matching order; values
// that are not dictionaries (the name, the inactive mark) are not entities.
// Either out-parameter may be NULL, not both.
OSStatus MoreSCCopyEntities(CFStringRef setID, CFStringRef serviceID, CFArrayRef *entityProtocols,
                            CFArrayRef *entityValues) noexcept;
// Replaces every entity of the service with entityValues[i] under
// entityProtocols[i] (arrays of equal length); the service's other properties
// stay. -50 when a protocol is named twice or names such a property.
OSStatus MoreSCSetEntities(CFStringRef setID, CFStringRef serviceID, CFArrayRef entityProtocols,
                           CFArrayRef entityValues) noexcept;
// Adds one entity (-50 when the service has it already) or removes one (-50
// when the service lacks it).
OSStatus MoreSCNewEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                         CFDictionaryRef entity) noexcept;
OSStatus MoreSCDeleteEntity(CFStringRef setID, CFStringRef serviceID,
                            CFStringRef protocol) noexcept;

// Writes the set's services dictionary and/or its service order (which must
// then have as many entries as the dictionary). The order goes into the
// set's global IPv4 entity, which must exist; its other keys stay.
OSStatus MoreSCSetServicesDict(CFStringRef setID, CFDictionaryRef servicesDict,
                               CFArrayRef serviceOrder) noexcept;
// Mutable copies of the set's services dictionary and/or order; both are read
// and must agree in length (-4960 otherwise) whatever is asked for.
OSStatus MoreSCCopyServicesDictMutable(CFStringRef setID, CFMutableDictionaryRef *servicesDict,
                                       CFMutableArrayRef *serviceOrder) noexcept;

// Stores one entity whole, or hands out a mutable copy of one.
OSStatus MoreSCSetEntity(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                         CFDictionaryRef entity) noexcept;
OSStatus MoreSCCopyEntityMutable(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                                 CFMutableDictionaryRef *entity) noexcept;

// Active means without kSCResvInactive (whatever its value). The setters
// write, and commit, only when the state changes. A service's state is its
// own mark only; its entities have marks of their own.
OSStatus MoreSCSetEntityActive(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                               Boolean active) noexcept;
OSStatus MoreSCIsEntityActive(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                              Boolean *active) noexcept;
OSStatus MoreSCIsServiceActive(CFStringRef setID, CFStringRef serviceID, Boolean *active) noexcept;
OSStatus MoreSCSetServiceActive(CFStringRef setID, CFStringRef serviceID, Boolean active) noexcept;

// A service's user-visible name (-4960 when it has none, or one that is not
// a string), and renaming it in the shared record.
OSStatus MoreSCCopyUserVisibleNameOfService(CFStringRef setID, CFStringRef serviceID,
                                            CFStringRef *userVisibleName) noexcept;
OSStatus MoreSCRenameService(CFStringRef setID, CFStringRef serviceID,
                             CFStringRef newServiceUserVisibleName) noexcept;

// The sets dictionary (set ID -> set), read or replaced whole; replacing it
// checks nothing.
OSStatus MoreSCCopySetsDict(CFDictionaryRef *setsDict) noexcept;
OSStatus MoreSCSetSetsDict(CFDictionaryRef setsDict) noexcept;
// Every set ID, and, when currentSetIndex is not NULL, the current set's
// position in that array (left as it was when the current set is not among
// them). Without currentSetIndex the current set is not read.
OSStatus MoreSCCopySetIDs(CFArrayRef *setIDs, CFIndex *currentSetIndex) noexcept;
// Records the set as current; the ID is not looked up.
OSStatus MoreSCSetCurrentSet(CFStringRef setID) noexcept;
// A set's user-visible name (-4960 when it has none, or one that is not a
// string), and renaming it.
OSStatus MoreSCCopyUserVisibleNameOfSet(CFStringRef setID, CFStringRef *userVisibleName) noexcept;
OSStatus MoreSCRenameSet(CFStringRef setID, CFStringRef newSetUserVisibleName) noexcept;

// Deleting and copying. Every delete that goes through ends by removing the
// shared services that no set links to any more; that sweep fails, removing
// nothing, while any set's links cannot be read (one whose target is not a
// service path), and its error is returned (the delete is then undone, like
// any failed writer). A set's service order, damaged or not, does not stop
// it.
// A set delete that fails inside a caller's bracket still sweeps the
// caller's snapshot; the sweep is committed only with the caller's own
// successful changes.
//
// MoreSCDeleteService takes the service out of the set's services and order
// (-50, changing nothing, when the set lists it in neither). MoreSCDeleteSet
// deletes a set other than the current one (-50, changing nothing, for the
// current one). MoreSCDuplicateSet copies a set (NULL: the
// current one) with a copy of each of its services, in the same order,
// named userVisibleName or, when that is NULL, like the source; the copy is
// not made current. MoreSCDuplicateService copies the shared service
// serviceID and appends the copy to the set's order, named userVisibleName
// or like the source. The new IDs are handed out when newSetID or
// newServiceID is not NULL. A failed copy leaves nothing behind.
OSStatus MoreSCDeleteService(CFStringRef setID, CFStringRef serviceID) noexcept;
OSStatus MoreSCDeleteSet(CFStringRef setID) noexcept;
OSStatus MoreSCDuplicateSet(CFStringRef setID, CFStringRef userVisibleName,
                            CFStringRef *newSetID) noexcept;
OSStatus MoreSCDuplicateService(CFStringRef setID, CFStringRef serviceID,
                                CFStringRef userVisibleName, CFStringRef *newServiceID) noexcept;

// ---------------------------------------------------------------------------
// New services and sets, made from the port records of the port scanner
// (VaviVAZPortScanner.h).

// Makes a new service for the port that portDict describes and appends it to
// the order of the set (NULL: the current set), named after the port and
// filled with the entities its kind of port gets. A network port (one whose
// record has kSCPropMACAddress: Ethernet, AirPort, FireWire) gets
//   Interface  device name, name, hardware and type of the record
//   Proxies    FTP passive mode from 10.2 on
//   AppleTalk  node configuration, inactive
//   DNS        empty
//   IPv4       DHCP
//   IPv6       automatic, from 10.3 on
//   PPP        the PPPoE defaults, inactive
//   AirPort or Ethernet with the MAC address (FireWire: no link entity);
// a modem port (no MAC address) gets the same without AppleTalk, with the
// subtype (and any "HardwareVariant") in its Interface, IPv4 by PPP, an
// active PPP entity with the dial-up defaults, and a Modem entity with error
// correction and compression, speaker and dial-tone wait on and the default
// modem script of the catalogue (VaviVAZCCLScanner.h; an empty name when no
// script is installed). A non-zero kSCPropNetInterfaceSupportsModemOnHold
// marks the modem's Interface and writes its hold settings. PPP's LCP echo is
// on for the devices "en0" and "modem" and for AirPort, off for others.
//
// portDict must keep the rules of a port record (MoreSCCheckPortRecord); a
// record that breaks one stops the process with an assertion. The new
// service's ID is handed out in *newServiceID when that is not NULL. Codes:
// the store's, the builders' and the catalogue's (a script folder that cannot
// be read, for one); -1 for a MAC address that does not scan as six bytes,
// -4960 for one longer than 17 characters (an eight-byte address on an
// Ethernet or AirPort port). A failed call leaves the store as it found it:
// neither the service nor its link.
OSStatus MoreSCNewService(CFStringRef setID, CFDictionaryRef portDict,
                          CFStringRef *newServiceID) noexcept;

// Whether a service can be made from the port record portDict: it has a
// name, hardware (Ethernet, AirPort, Modem, FireWire), type (Ethernet, PPP,
// FireWire) and device name; a subtype (PPPSerial or PPPoE) exactly with type
// PPP; a MAC address exactly when the hardware is not Modem; a hardware
// variant only with Modem; its name, device name and MAC address are
// strings. noErr, or -50 with *reason, when reason is not NULL, set to
// static words naming the first rule broken ("its controller reports no MAC
// address"; the scanner's records break no other). Reads nothing else.
OSStatus MoreSCCheckPortRecord(CFDictionaryRef portDict, const char **reason) noexcept;

// Makes a new set named userVisibleName (required) with a global IPv4 entity
// (its service order), a NetInfo global entity up to 10.4.x, and a new
// service (as MoreSCNewService makes them) for every port the scanner finds,
// in the scanner's order, which becomes the set's service order. FireWire
// ports get no service before 10.4; neither does a network port whose
// controller reports no MAC address. The set is not made current. Its ID is
// handed out in *newSetID when that is not NULL. The scan's, the store's or
// MoreSCNewService's error; a failed call leaves no set and none of its
// services behind.
OSStatus MoreSCNewSet(CFStringRef userVisibleName, CFStringRef *newSetID) noexcept;

// Makes a new set as MoreSCNewSet does, but without services: its service
// order is empty. The same codes, but for the scan's.
OSStatus MoreSCNewEmptySet(CFStringRef userVisibleName, CFStringRef *newSetID) noexcept;

#endif
