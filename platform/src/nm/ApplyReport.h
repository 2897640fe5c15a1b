// ApplyReport.h: what an apply did to NetworkManager's profiles (or, for a
// plan, would do), kept for the program that applied.
//
// The report of the latest apply of a thread is held here as plain data, not
// as platform objects, so that holding it never shows in the live-object
// count; VZPreferencesCopyApplyReport() hands it over as a dictionary once
// and forgets it.
#ifndef VZ_PLATFORM_NM_APPLYREPORT_H
#define VZ_PLATFORM_NM_APPLYREPORT_H

#include "Plan.h"
#include "ProfileMapping.h"

#include <CoreFoundation/CoreFoundation.h>

#include <optional>
#include <string>
#include <vector>

namespace vz::nm {

enum class ReachKind {
    NotLive,  // the root is not the running machine's: NetworkManager is not asked
    Absent,   // NetworkManager is not on the bus: the network was not changed
    Followed, // every change was made
    Failed,   // NetworkManager refused or failed; Profile::done says what was made
    Planned,  // a plan only: nothing was changed
};

struct ProfileLine {
    ActionKind  kind = ActionKind::Unchanged;
    bool        done = false; // the call was made and succeeded
    std::string path, name, uuid, type, interfaceName, serviceID, locationID;
};

struct ApplyReport {
    ReachKind                reach  = ReachKind::NotLive;
    int                      status = 0; // an SCError status, when Failed
    std::string              reason;     // NetworkManager's error, when Failed
    std::vector<ProfileLine> profiles;   // in the plan's order
    std::vector<NotCarried>  notCarried;
};

// One line of the report for an action of a plan.
ProfileLine lineFor(const Action &action);

// Keeps report as this thread's latest, replacing any earlier one.
void recordApplyReport(ApplyReport report) noexcept;
// This thread's latest report, handed over and forgotten.
std::optional<ApplyReport> takeApplyReport() noexcept;

// The report as the dictionary of VZPreferencesCopyApplyReport(); nullptr
// when memory runs out.
CFDictionaryRef createReportDictionary(const ApplyReport &report) noexcept;

} // namespace vz::nm

#endif
