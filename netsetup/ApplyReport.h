// ApplyReport.h: how the running system's network followed a change: the
// line (with --json, the "networkmanager" member of the document) that every
// command adds after a change it applied, the failure of an apply that
// NetworkManager refused, and the plan that 'apply --dry-run' prints.
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
// Throws the Failure of an apply that failed with code: words, then what
// NetworkManager said when the apply failed there ("...: NetworkManager
// refused the change: ... (error 1003)"), else the code in words.
[[noreturn]] void ThrowApplyFailure(const std::string &words, OSStatus code);
// apply --dry-run: what an apply would change in NetworkManager.
void PrintApplyPlan(Context &context);

} // namespace netsetup

#endif
