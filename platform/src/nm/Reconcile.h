// Reconcile.h: bringing NetworkManager's profiles to the current set of the
// committed store, the apply's last step on a live root.
//
// One pass: the store is read (a fresh snapshot, through the preferences
// calls), mapped to the profiles NetworkManager should hold, NetworkManager's
// profiles are listed once and each read once (its secrets too, for ours
// that keep one), and then only what differs is called: a deletion, an
// update or an addition per profile that changes, and a new activation of an
// updated profile that is active, so that the running connection takes the
// change. A second pass with nothing changed in between calls nothing that
// changes NetworkManager.
//
// NetworkManager not on the bus (or no bus at all) is not a failure: the
// store and the dynamic store are what they should be, and the network is
// simply not managed here. A refusal or a failure half way stops the pass
// where it is; what was done stays done, and the next pass, planning from
// what NetworkManager then holds, completes it.
#ifndef VZ_PLATFORM_NM_RECONCILE_H
#define VZ_PLATFORM_NM_RECONCILE_H

#include "ApplyReport.h"
#include "ProfileMapping.h"

#include <chrono>

namespace vz::nm {

// The longest one pass waits for NetworkManager in all.
inline constexpr std::chrono::seconds kReconcileBudget{25};

enum class PassKind { Apply, Plan };

// Runs one pass (a plan changes nothing) and fills *report: Followed,
// Absent, Failed (report->status 1003 for a refusal, 1001 otherwise) or
// Planned. Returns an SCError status of its own only when the store cannot
// be read (then *report is left alone). May throw std::bad_alloc.
[[nodiscard]] int followCurrentSet(PassKind pass, const PortFacts &ports, ApplyReport *report);

// The mapping alone, for a root NetworkManager is not asked about: the
// report says NotLive and lists what no profile would carry.
[[nodiscard]] int describeCurrentSet(const PortFacts &ports, ApplyReport *report);

} // namespace vz::nm

#endif
