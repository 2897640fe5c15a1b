// NetworkFollow.cpp: NetworkManager after an apply, the apply report and the
// plan, behind their entry points.
#include "NetworkFollow.h"

#include "ApplyReport.h"
#include "LiveConnection.h"
#include "MachinePorts.h"
#include "ModemManager.h"
#include "Reconcile.h"
#include "Root.h"
#include "Runtime.h"
#include "SCError.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <memory>

namespace vz {

namespace {

// The machine's ports as the mapping asks about them: addresses from the
// registry, and a modem port counts as managed when ModemManager names a
// modem for its terminal. ModemManager is asked within one budget for the
// whole pass; absent, refusing or silent, it manages nothing, and the
// modem's service is said not to be carried.
nm::PortFacts livePorts()
{
    nm::PortFacts ports = nm::machinePorts();
    auto deadline       = std::make_shared<bus::Deadline>(bus::Deadline::after(live::kQueryBudget));
    ports.isManagedModem = [deadline](std::string_view device) {
        bus::Result<std::optional<mm::Modem>> modem =
            mm::findModem(live::managedName(std::string(device)), *deadline);
        return modem && modem->has_value();
    };
    return ports;
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
        int status = nm::followCurrentSet(nm::PassKind::Apply, livePorts(), &report);
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
        int status = vz::isLiveRoot() ? vz::nm::followCurrentSet(vz::nm::PassKind::Plan,
                                                                 vz::livePorts(), &report)
                                      : vz::nm::describeCurrentSet(vz::nm::machinePorts(), &report);
        if (status != kSCStatusOK) {
            vz::setSCError(status);
            return nullptr;
        }
        CFDictionaryRef dict = vz::nm::createReportDictionary(report);
        if (dict == nullptr) vz::setSCError(kSCStatusFailed);
        return dict;
    });
}
