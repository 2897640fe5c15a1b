// DynamicStore.h: the dynamic store's file, read whole and changed under its
// lock.
//
// The dynamic store is one dictionary of keys (strings) to property-list
// values, kept in var/run/SystemConfiguration/dynamic-store.plist under the
// root. Readers read the file without the lock: every writer replaces it
// atomically, so a reader sees one whole version. Every write is a
// read-modify-write under the lock on "dynamic-store.plist-lock", so two
// writers never lose each other's keys. A file that cannot be read or parsed
// is an error for readers and writers alike, and is never written over. Its
// passwords are kept in a secrets file beside it, as the preferences store's
// are (Secrets.h).
#ifndef VZ_PLATFORM_DYNAMICSTORE_H
#define VZ_PLATFORM_DYNAMICSTORE_H

#include "Runtime.h"

#include <string>

namespace vz {

std::string dynamicStorePath(); // may throw std::bad_alloc

// The whole store: an SCError status, and the dictionary (empty when there is
// no file).
[[nodiscard]] int readDynamicStore(CFRef<CFDictionaryRef> *store) noexcept;

// Changes the store under its lock: edit gets a mutable copy of the current
// content and returns a status; a failure cancels the write, as does
// *changed left false (nothing written). Returns edit's failure or the
// write's status; once the new file is in place the write has happened, and
// a failure to sync its folder afterwards does not undo that.
using DynamicStoreEdit = int (*)(CFMutableDictionaryRef store, bool *changed, void *context);
[[nodiscard]] int updateDynamicStore(DynamicStoreEdit edit, void *context) noexcept;

} // namespace vz

#endif
