// AppleTalkCommand.cpp: appletalk [on|off], whether AppleTalk is on in the
// location (an active service with an active AppleTalk entity), and
// switching the AppleTalk entity of every service of the location.
#include "Output.h"
#include "Store.h"

#include "VaviVAZHelpers.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace netsetup {

namespace {

bool IsAppleTalkOn(const Location &location)
{
    Boolean active = false;
    Check(MoreSCIsAppleTalkActive(NewString(location.id).get(), &active),
          "cannot read AppleTalk's state in location " + Describe(location));
    return active;
}

// state empty: only report it.
void AppleTalk(Context &context, const std::string &state)
{
    bool     on = false;
    Location location;
    if (state.empty()) {
        StoreSession session(context, StoreSession::Kind::Read);
        location = SelectedLocation(context);
        on       = IsAppleTalkOn(location);
        session.Finish();
    } else {
        bool         wanted = state == "on";
        StoreSession session(context, StoreSession::Kind::Change);
        location = SelectedLocation(context);
        // The switch walks the service order: it must list every service.
        MendServiceOrder(context, location);
        Check(MoreSCSetAppleTalkActive(NewString(location.id).get(), wanted),
              "cannot switch AppleTalk " + state + " in location " + Describe(location));
        on = IsAppleTalkOn(location);
        // Only an active service's entity counts: switching every entity on
        // may leave AppleTalk off. That is a failure, and nothing is kept.
        if (on != wanted)
            throw Failure("AppleTalk cannot be switched on in location " + Describe(location) +
                          ": none of its active services has an AppleTalk entity");
        session.Finish();
    }
    if (!context.json) {
        context.out += "AppleTalk is " + std::string(on ? "on" : "off") + " in location " +
                       Describe(location) + ".\n";
        return;
    }
    Json document;
    document["location"]  = ToJson(location);
    document["appletalk"] = on;
    Emit(context, document);
}

} // namespace

void AddAppleTalkCommand(CLI::App &app, Context &context)
{
    auto      state     = std::make_shared<std::string>();
    CLI::App *appletalk = app.add_subcommand(
        "appletalk", "show whether AppleTalk is on in the location, or switch it on or off");
    appletalk->add_option("STATE", *state, "on or off: switch every service's AppleTalk")
        ->transform(CLI::IsMember({"on", "off"}, CLI::ignore_case).description(""));
    Bind(appletalk, context, [state](Context &c) { AppleTalk(c, *state); });
}

} // namespace netsetup
