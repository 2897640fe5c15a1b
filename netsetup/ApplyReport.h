// ApplyReport.h: how the running system's network followed a change: the
// line (with --json, the "networkmanager" member of the document) that every
// command adds after a change it applied, the words for an apply that
// failed, and the plan that 'apply --dry-run' prints.
//
// The platform keeps the report of the latest apply; a command takes it
// after its run. Nothing is added on a root that is not live (the running
// machine's): there applying never reaches NetworkManager, and the output
// stays what it always was.
#ifndef VZ_NETSETUP_APPLYREPORT_H
#define VZ_NETSETUP_APPLYREPORT_H

#include "Command.h"

#include <string>

namespace netsetup {

// Forgets a report left from before this run.
void DiscardApplyReport();
// Adds the latest apply's report, if any, to the command's output.
void AddApplyReport(Context &context);
// What NetworkManager said when the latest apply failed in it, for the end
// of the error message ("NetworkManager refused the change: ... (error
// 1003)"); empty when it did not fail there.
std::string ApplyFailureDetail();
// apply --dry-run: what an apply would change in NetworkManager.
void PrintApplyPlan(Context &context);

} // namespace netsetup

#endif
