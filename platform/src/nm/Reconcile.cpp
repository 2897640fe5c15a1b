// Reconcile.cpp: one pass of NetworkManager following the current set.
#include "Reconcile.h"

#include "NetworkManagerClient.h"
#include "Plan.h"
#include "Runtime.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <algorithm>

namespace vz::nm {

namespace {

constexpr std::string_view kPermissionDeniedSuffix = ".PermissionDenied";
constexpr std::string_view kAccessDenied           = "org.freedesktop.DBus.Error.AccessDenied";
constexpr std::string_view kAuthorizationRequired =
    "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired";

// NetworkManager's refusal of a caller it does not authorise (its own
// PermissionDenied errors, or the bus's policy) is an access error; anything
// else is a failure.
int statusOf(const bus::Error &error) noexcept
{
    const std::string &name    = error.name;
    bool               refused = name == kAccessDenied || name == kAuthorizationRequired ||
                   (name.size() > kPermissionDeniedSuffix.size() &&
                    name.compare(name.size() - kPermissionDeniedSuffix.size(),
                                 kPermissionDeniedSuffix.size(), kPermissionDeniedSuffix) == 0);
    return refused ? kSCStatusAccessError : kSCStatusFailed;
}

// NetworkManager is not running: its name has no owner, or there is no
// system bus to ask at all.
bool isAbsent(const bus::Error &error) noexcept
{
    if (error.isServiceMissing()) return true;
    return error.name.empty() && (error.code == ENOENT || error.code == ECONNREFUSED);
}

void fail(ApplyReport *report, const bus::Error &error)
{
    report->reach  = ReachKind::Failed;
    report->status = statusOf(error);
    report->reason = error.text();
}

int mapStore(const PortFacts &ports, Mapping *mapping)
{
    CFRef<SCPreferencesRef> prefs(SCPreferencesCreate(nullptr, CFSTR("vavivaz"), nullptr));
    if (!prefs) return SCError();
    return mapCurrentSet(prefs.get(), ports, mapping);
}

// Every profile NetworkManager holds, read once; ours with their secrets.
// false with *report failed (or absent) when NetworkManager does not answer.
bool readProfiles(NetworkManagerClient &client, std::vector<ExistingProfile> *profiles,
                  ApplyReport *report)
{
    bus::Result<std::vector<std::string>> paths = client.listProfiles();
    if (!paths) {
        if (isAbsent(paths.error())) {
            report->reach = ReachKind::Absent;
            return false;
        }
        fail(report, paths.error());
        return false;
    }
    for (const std::string &path : *paths) {
        bus::Result<Settings> settings = client.readSettings(path);
        // A profile deleted since the listing is not there to reconcile.
        if (!settings && settings.error().isObjectMissing()) continue;
        if (!settings) {
            fail(report, settings.error());
            return false;
        }
        std::string serviceID, locationID;
        if (readMark(*settings, &serviceID, &locationID))
            for (const char *setting : kSecretSettings) {
                if (settings->count(setting) == 0) continue;
                bus::Result<bool> read = client.readSecrets(path, setting, &*settings);
                if (!read) {
                    fail(report, read.error());
                    return false;
                }
            }
        profiles->push_back({path, std::move(*settings)});
    }
    return true;
}

// Makes the plan's changes in order, marking each line done; stops at the
// first that fails.
bool carryOut(NetworkManagerClient &client, const std::vector<Action> &plan, ApplyReport *report)
{
    std::vector<std::string> updated;
    for (size_t i = 0; i < plan.size(); i++) {
        const Action     &action = plan[i];
        ProfileLine      &line   = report->profiles[i];
        bus::Result<bool> done   = true;
        switch (action.kind) {
        case ActionKind::Delete:
            done = client.deleteProfile(action.path);
            break;
        case ActionKind::Update:
            done = client.updateProfile(action.path, action.settings);
            if (done) updated.push_back(action.path);
            break;
        case ActionKind::Add: {
            bus::Result<std::string> path = client.addProfile(action.settings);
            if (path)
                line.path = *path;
            else
                done = path.error();
            break;
        }
        case ActionKind::Unchanged:
            continue;
        }
        if (!done) {
            fail(report, done.error());
            return false;
        }
        line.done = true;
    }
    if (updated.empty()) return true;
    // An update reaches a running connection only when it is activated
    // again; one that is not running takes it when it next starts.
    bus::Result<std::vector<std::string>> active = client.activeProfiles();
    if (!active) {
        fail(report, active.error());
        return false;
    }
    for (const std::string &path : updated) {
        if (std::find(active->begin(), active->end(), path) == active->end()) continue;
        bus::Result<bool> activated = client.activateProfile(path);
        if (!activated) {
            fail(report, activated.error());
            return false;
        }
    }
    return true;
}

} // namespace

int describeCurrentSet(const PortFacts &ports, ApplyReport *report)
{
    Mapping mapping;
    int     status = mapStore(ports, &mapping);
    if (status != kSCStatusOK) return status;
    *report            = ApplyReport();
    report->reach      = ReachKind::NotLive;
    report->notCarried = std::move(mapping.notCarried);
    return kSCStatusOK;
}

int followCurrentSet(PassKind pass, const PortFacts &ports, ApplyReport *report)
{
    Mapping mapping;
    int     status = mapStore(ports, &mapping);
    if (status != kSCStatusOK) return status;
    ApplyReport result;
    result.notCarried = std::move(mapping.notCarried);

    NetworkManagerClient         client(bus::Deadline::after(kReconcileBudget));
    std::vector<ExistingProfile> existing;
    if (readProfiles(client, &existing, &result)) {
        std::vector<Action> plan = makePlan(mapping.profiles, existing);
        for (const Action &action : plan)
            result.profiles.push_back(lineFor(action));
        if (pass == PassKind::Plan)
            result.reach = ReachKind::Planned;
        else if (carryOut(client, plan, &result))
            result.reach = ReachKind::Followed;
    }
    *report = std::move(result);
    return kSCStatusOK;
}

} // namespace vz::nm
