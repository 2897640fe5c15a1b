// Plan.h: what must change in NetworkManager for its profiles to be the
// desired ones.
//
// Only profiles that carry our mark take part: a person's own profile is
// never planned for, whatever it holds. Each desired profile is matched with
// the profile of ours marked with the same service and set under the same
// UUID and of the same type: equal over the keys we own, it stays as it is;
// otherwise it is updated. A password the desired profile leaves out (one
// the mapping could not read) is the matched profile's: it is kept, never
// cleared. Without a match it is added (and a profile of another type or UUID
// goes).
// Every other profile of ours (a service gone, switched off or of another
// set, or a second copy) is deleted. Deletions come first, so that a device
// is free when its new profile arrives, then updates, then additions.
#ifndef VZ_PLATFORM_NM_PLAN_H
#define VZ_PLATFORM_NM_PLAN_H

#include "ProfileMapping.h"
#include "Settings.h"

#include <string>
#include <vector>

namespace vz::nm {

// A profile NetworkManager holds: its object path and settings, the secrets
// of ours merged in.
struct ExistingProfile {
    std::string path;
    Settings    settings;
};

enum class ActionKind { Delete, Update, Add, Unchanged };

struct Action {
    ActionKind  kind = ActionKind::Unchanged;
    std::string path;     // the profile changed, kept or deleted; empty for Add
    Settings    settings; // what it holds afterwards; for Delete, what it held
};

// Deletions, updates, additions and the unchanged, in that order; each group
// in the order of the desired profiles (deletions: NetworkManager's order).
std::vector<Action> makePlan(const std::vector<DesiredProfile>  &desired,
                             const std::vector<ExistingProfile> &existing);

// Whether a profile holds a secret setting, so that reading it whole takes
// GetSecrets as well as GetSettings.
bool holdsSecrets(const Settings &settings);

} // namespace vz::nm

#endif
