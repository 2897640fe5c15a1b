// Plan.cpp: desired profiles against NetworkManager's.
#include "Plan.h"

namespace vz::nm {

namespace {

// A desired profile that leaves a password out (one the mapping could not
// read) keeps the password NetworkManager holds, both in the comparison and
// in the update, which would otherwise clear it.
Settings keepingUnreadPasswords(const Settings &desired, const Settings &held)
{
    Settings kept = desired;
    for (const char *setting : kSecretSettings) {
        auto wanted = kept.find(setting);
        if (wanted == kept.end() || wanted->second.count(kPasswordKey) != 0) continue;
        if (const Value *password = findValue(held, setting, kPasswordKey))
            wanted->second[kPasswordKey] = *password;
    }
    return kept;
}

} // namespace

std::vector<Action> makePlan(const std::vector<DesiredProfile>  &desired,
                             const std::vector<ExistingProfile> &existing)
{
    struct Ours {
        const ExistingProfile *profile;
        std::string            serviceID, locationID;
        bool                   matched = false;
    };
    std::vector<Ours> ours;
    for (const ExistingProfile &profile : existing) {
        Ours candidate{&profile, {}, {}};
        if (readMark(profile.settings, &candidate.serviceID, &candidate.locationID))
            ours.push_back(std::move(candidate));
    }

    std::vector<Action> updates, additions, unchanged;
    for (const DesiredProfile &profile : desired) {
        std::string serviceID, locationID;
        (void)readMark(profile.settings, &serviceID, &locationID);
        // NetworkManager never changes a profile's UUID, nor its type in
        // place: a profile of ours under another UUID, or of another type
        // (a service that went from Ethernet to PPPoE), cannot become this
        // one. It goes, and this one is added.
        std::string uuid  = textValue(profile.settings, kConnectionSetting, kUUIDKey);
        std::string type  = textValue(profile.settings, kConnectionSetting, kTypeKey);
        Ours       *match = nullptr;
        for (Ours &candidate : ours) {
            const Settings &held = candidate.profile->settings;
            if (!candidate.matched && candidate.serviceID == serviceID &&
                candidate.locationID == locationID &&
                textValue(held, kConnectionSetting, kUUIDKey) == uuid &&
                textValue(held, kConnectionSetting, kTypeKey) == type) {
                match = &candidate;
                break;
            }
        }
        if (match == nullptr) {
            additions.push_back({ActionKind::Add, {}, profile.settings});
            continue;
        }
        match->matched    = true;
        Settings   wanted = keepingUnreadPasswords(profile.settings, match->profile->settings);
        ActionKind kind   = sameProfile(wanted, match->profile->settings) ? ActionKind::Unchanged
                                                                          : ActionKind::Update;
        (kind == ActionKind::Update ? updates : unchanged)
            .push_back({kind, match->profile->path, std::move(wanted)});
    }

    std::vector<Action> plan;
    for (const Ours &candidate : ours)
        if (!candidate.matched)
            plan.push_back(
                {ActionKind::Delete, candidate.profile->path, candidate.profile->settings});
    for (std::vector<Action> *group : {&updates, &additions, &unchanged})
        for (Action &action : *group)
            plan.push_back(std::move(action));
    return plan;
}

bool holdsSecrets(const Settings &settings)
{
    for (const char *setting : kSecretSettings)
        if (settings.count(setting) != 0) return true;
    return false;
}

} // namespace vz::nm
