// NetworkFollow.cpp: NetworkManager after an apply, the apply report and the
// plan, behind their entry points.
#include "NetworkFollow.h"

#include "ApplyReport.h"
#include "MachinePorts.h"
#include "Reconcile.h"
#include "Root.h"
#include "Runtime.h"
#include "SCError.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cstdlib>

namespace vz {

namespace {

bool isLiveRoot()
{
    const char *live = std::getenv("VAVIVAZ_LIVE");
    return live != nullptr && std::string(live) == "1";
}

bool isNetworkStore(const std::string &preferencesPath)
{
    return preferencesPath ==
           pathUnderRoot(std::string(kPreferencesFolder) + "/" + kPreferencesFileName);
}

} // namespace

int followNetwork(const std::string &preferencesPath, int published) noexcept
{
    (void)nm::takeApplyReport();
    if (published != kSCStatusOK) return published;
    return guarded(static_cast<int>(kSCStatusFailed), [&] {
        if (!isNetworkStore(preferencesPath)) return static_cast<int>(kSCStatusOK);
        nm::ApplyReport report;
        if (!isLiveRoot()) {
            nm::recordApplyReport(std::move(report));
            return static_cast<int>(kSCStatusOK);
        }
        int status = nm::followCurrentSet(nm::PassKind::Apply, nm::machinePorts(), &report);
        if (status != kSCStatusOK) return status;
        status = report.reach == nm::ReachKind::Failed ? report.status : kSCStatusOK;
        nm::recordApplyReport(std::move(report));
        return status;
    });
}

} // namespace vz

CFDictionaryRef VZPreferencesCopyApplyReport(void) noexcept
{
    std::optional<vz::nm::ApplyReport> report = vz::nm::takeApplyReport();
    if (!report) return nullptr;
    CFDictionaryRef dict = vz::nm::createReportDictionary(*report);
    if (dict == nullptr) vz::setSCError(kSCStatusFailed);
    return dict;
}

CFDictionaryRef VZPreferencesCopyApplyPlan(void) noexcept
{
    return vz::guarded(static_cast<CFDictionaryRef>(nullptr), []() -> CFDictionaryRef {
        vz::nm::ApplyReport report;
        vz::nm::PortFacts   ports  = vz::nm::machinePorts();
        int                 status = vz::isLiveRoot()
                                         ? vz::nm::followCurrentSet(vz::nm::PassKind::Plan, ports, &report)
                                         : vz::nm::describeCurrentSet(ports, &report);
        if (status != kSCStatusOK) {
            vz::setSCError(status);
            return nullptr;
        }
        CFDictionaryRef dict = vz::nm::createReportDictionary(report);
        if (dict == nullptr) vz::setSCError(kSCStatusFailed);
        return dict;
    });
}
