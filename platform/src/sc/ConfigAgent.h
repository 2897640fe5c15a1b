// ConfigAgent.h: the configuration agent, which publishes the committed
// preferences to the dynamic store for the running system.
//
// publishSetup() reads the committed store file (with the passwords this
// process may read, which the dynamic store keeps apart in turn) and replaces
// every key of the Setup: domain of the dynamic store, in one locked write,
// with the current set's configuration:
//   Setup:/Network/Global/<entity>             each global entity of the set
//   Setup:/Network/Service/<id>/<entity>       for each service of the set,
//                                              by its ID in the set
// A service reached through its link that carries __INACTIVE__ is left out,
// and so is each entity carrying __INACTIVE__; entities are published as
// stored. An entity is a value that is a dictionary; a service whose link
// leads nowhere is left out. A store without a current set publishes nothing
// (every earlier Setup: key goes); a current set that is not a set path, or
// a store that cannot be read, is an error and the dynamic store is left as
// it was.
// A password this process may not read reaches it as a marker, whose ID
// names nothing in the dynamic store: the dynamic store's own secret at the
// same key is published in its place. Where it has none, a process that may
// not read the preferences' secrets is refused (1003) and the dynamic store
// is left as it was.
#ifndef VZ_PLATFORM_CONFIGAGENT_H
#define VZ_PLATFORM_CONFIGAGENT_H

#include <string>

namespace vz {

// An SCError status.
[[nodiscard]] int publishSetup(const std::string &preferencesPath) noexcept;

// The whole apply of SCPreferencesApplyChanges: publishSetup(), then the
// running system's network brought to the current set (NetworkFollow.h). An
// SCError status: publishSetup's failure (the network is then left as it
// is), or the network's.
[[nodiscard]] int applyCommitted(const std::string &preferencesPath) noexcept;

} // namespace vz

#endif
