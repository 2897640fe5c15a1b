// NetworkFollow.h: the running system's network following an apply. On a
// live root (the running machine's own), NetworkManager's profiles are
// brought to the current set of the network preferences store after it was
// published (nm/Reconcile.h); the report of what was done is kept for the
// program that applied (VZPreferencesCopyApplyReport).
#ifndef VZ_PLATFORM_NETWORKFOLLOW_H
#define VZ_PLATFORM_NETWORKFOLLOW_H

#include <string>

namespace vz {

// For the store at preferencesPath, just committed, after publishSetup()
// answered published. The report of an earlier apply is forgotten first; a
// store that was not published goes no further (published is returned).
// Nothing is asked of NetworkManager unless it is the network preferences
// store of a live root (the report then says NotLive). An SCError status:
// 1003 when NetworkManager refused a change, 1001 when it failed one or the
// store cannot be read; NetworkManager not running is not a failure.
[[nodiscard]] int followNetwork(const std::string &preferencesPath, int published) noexcept;

} // namespace vz

#endif
