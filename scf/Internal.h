// Internal.h: what the model's own files share and nothing else may use: the
// session's process-wide state, the paths of the preferences tree, and the
// check that turns a store value of the wrong kind into an error code.
//
// The tree, as the model reads and writes it ("/"-separated paths):
//
//   CurrentSet                              string: the set path of the current set
//   /Sets/<setID>                           the set path: a set dictionary
//   <set path>/Network/Service              local service ID -> { __LINK__: service path }
//   <set path>/Network/Global               the set's global entities
//   <set path>/Network/Global/IPv4          holds ServiceOrder, the array of local IDs
//   /NetworkServices/<serviceID>            the service path: one shared service
//   <service path>/<protocol>               one entity dictionary
//
// A set reaches a service's content only through its link; the last component
// of the link's target is the resolved service ID.
#ifndef VZ_SCF_INTERNAL_H
#define VZ_SCF_INTERNAL_H

#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include "MoreCFQ.h"

// Whatever the store holds is input: a value of the wrong kind, or a path
// that does not have the shape the model writes, is reported with this code
// (the code of a missing key), never asserted.
enum { kMoreSCErrorStoreValue = kCFQErrorObjectNotMade };

// The session (Session.cpp writes these; the other files only read them, in
// assertions that a bracket is open).
//   gPrefsRef        the open preferences object, owned; NULL at depth 0
//   gPrefsOpenCount  nesting depth of open brackets
//   gPrefsLocked     the store's lock is held through gPrefsRef
//   gPrefsDirty      a bracket closed as a successful writer; the outermost
//                    close commits and applies
extern SCPreferencesRef gPrefsRef;
extern SInt32           gPrefsOpenCount;
extern Boolean          gPrefsLocked;
extern Boolean          gPrefsDirty;

// noErr when value is of the kind typeID, kMoreSCErrorStoreValue otherwise.
// value must not be NULL.
OSStatus CheckStoreValueKind(CFTypeRef value, CFTypeID typeID) noexcept;

// Paths. None of these opens a bracket; those that read the store require
// one to be open. Each out-parameter must be non-NULL and point to NULL on
// entry; on success it receives a new string, on failure it stays NULL.

// "/Sets/<setID>" for a given set ID. Does not read the store.
OSStatus CreateSetPathWithSetID(CFStringRef setID, CFStringRef *setPath) noexcept;

// The ID of a set path or service path: the third of exactly three
// "/"-separated components. kMoreSCErrorStoreValue for any other shape.
OSStatus CopySeIDFromSePath(CFStringRef sePath, CFStringRef *seID) noexcept;

// The set path of setID, or the path recorded as current when setID is NULL
// (the platform's status or 1001 when none is recorded, kMoreSCErrorStoreValue
// when it is not a string).
OSStatus CopySetPath(CFStringRef setID, CFStringRef *setPath) noexcept;

// <set path>/Network/Global and <set path>/Network/Service.
OSStatus CopySetGlobalsPath(CFStringRef setID, CFStringRef *setGlobalsPath) noexcept;
OSStatus CopySetServicesPath(CFStringRef setID, CFStringRef *setServicesPath) noexcept;

// The target of the set's link for serviceID, or the set globals path when
// serviceID is NULL. A missing entry, or one that is not a link, fails with
// the platform's status or 1001; a target that is not a string with
// kMoreSCErrorStoreValue.
OSStatus CopyResolvedServicePath(CFStringRef setID, CFStringRef serviceID,
                                 CFStringRef *servicePath) noexcept;

// <resolved service path (or set globals path)>/<protocol>.
OSStatus CopyEntityPath(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                        CFStringRef *entityPath) noexcept;

// ---------------------------------------------------------------------------
// Editing: helpers that the editing files share with each other and with the
// code that makes new services and sets. They run inside the caller's
// bracket (the readers they call nest in it) and never mark it as a writer;
// those that reach the store require one to be open.

struct MoreSCGlobalDigest;

// The dictionary stored at path, retained: the platform's status or 1001 when
// nothing is stored there, kMoreSCErrorStoreValue when it is not a
// dictionary. Requires an open bracket.
OSStatus CopyStoredDictionary(CFStringRef path, CFDictionaryRef *dict) noexcept;

// The string under key in dict (read from the store), retained: -4960 when
// the key is absent, kMoreSCErrorStoreValue when the value is not a string.
OSStatus CopyStoredString(CFDictionaryRef dict, CFStringRef key, CFStringRef *value) noexcept;

// The bodies of the public writers that other operations build on. Each does
// the work of the public operation of the same name inside the caller's
// bracket, but does not mark the bracket as a writer: an operation made of
// several writes marks it once, at its own close and only if it succeeded.
// An operation that fails half-way then needs no clean-up of its own: its
// close puts the snapshot back as its open found it, nested or not
// (Session.cpp). A public writer called as a step instead would be kept once
// it succeeded, as a recipe's steps are, and stay when the operation fails.
OSStatus SetEntitiesDictInBracket(CFStringRef setID, CFStringRef serviceID,
                                  CFDictionaryRef entitiesDict) noexcept;
OSStatus NewEntityInBracket(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                            CFDictionaryRef entity) noexcept;
OSStatus SetServicesDictInBracket(CFStringRef setID, CFDictionaryRef servicesDict,
                                  CFArrayRef serviceOrder) noexcept;
OSStatus RenameServiceInBracket(CFStringRef setID, CFStringRef serviceID,
                                CFStringRef newServiceUserVisibleName) noexcept;
OSStatus RenameSetInBracket(CFStringRef setID, CFStringRef newSetUserVisibleName) noexcept;
OSStatus DeleteServiceInBracket(CFStringRef setID, CFStringRef serviceID) noexcept;
OSStatus DeleteSetInBracket(CFStringRef setID) noexcept;

// Sets dictKey to newValue in the dictionary stored at dictPath: the stored
// dictionary is copied, changed and stored back whole, its other keys as they
// were read. The platform's status or 1001 when nothing is stored at the path.
OSStatus PreferencesPathSetProperty(CFStringRef dictPath, CFStringRef dictKey,
                                    CFTypeRef newValue) noexcept;

// Makes a mutable service or entity dictionary active (no inactive mark) or
// inactive (the mark as the number 1). *changed, when changed is not NULL, is
// set to true only when dict was altered; it is never set to false.
OSStatus SetDictionaryActive(CFMutableDictionaryRef dict, Boolean active,
                             Boolean *changed) noexcept;

// "/NetworkServices/<serviceID>". Does not read the store.
OSStatus CreateServicePathWithServiceID(CFStringRef serviceID, CFStringRef *servicePath) noexcept;

// Builds the entity of protocol from its digest (MoreSCCreateEntity) and adds
// it to the service, or to the set's globals when serviceID is NULL, as
// NewEntityInBracket does (-50 when the service already has that entity).
OSStatus AddEntityToService(CFStringRef setID, CFStringRef serviceID, CFStringRef protocol,
                            const void *digest) noexcept;
// The same for a global entity of the set (MoreSCCreateGlobalEntity).
OSStatus AddGlobalEntityToSet(CFStringRef setID, CFStringRef protocol,
                              const MoreSCGlobalDigest *digest) noexcept;

// Makes a new, empty child dictionary under prefix (kSCPrefSets or
// kSCPrefNetworkServices) and hands out its ID and its path, both owned by
// the caller; on failure both stay NULL, and the child may be left for the
// failing caller's close to take out. On 10.2.x systems the child is
// numbered one above the largest numeric key under the prefix (0 for the
// first); elsewhere the store chooses the key. Fails with the store's status,
// or 1001, when no child can be made.
OSStatus MakeNewSeAndCopyIDAndPath(CFStringRef prefix, CFStringRef *newSeID,
                                   CFStringRef *newSePath) noexcept;

// Links the shared service serviceID into the set under the same ID and
// appends it to the end of the set's service order. -50, with nothing
// written, when the set already lists that ID.
OSStatus AddServiceToSet(CFStringRef setID, CFStringRef serviceID) noexcept;

// Removes every shared service that no set links to (a key holding "/"
// names no service and is left). Fails, removing nothing, when any set's
// links cannot be read; fails with
// the store's status, or 1001, when there is no services level. A removal
// that is refused stops the sweep; what was removed before stays removed
// until the failing caller's close puts it back.
OSStatus DeleteUnreferencedServices(void) noexcept;

#endif
