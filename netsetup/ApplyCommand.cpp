// ApplyCommand.cpp: apply, which publishes the committed store to the running
// system, as every change the command commits does after it: the running
// system then configures the current location. The machine's own root keeps
// the running system's state on /run, empty after a boot, so a unit runs this
// at every boot.
#include "Output.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

#include <optional>

namespace netsetup {

namespace {

void Apply(Context &context)
{
    StoreSession            session(context, StoreSession::Kind::Read);
    std::optional<Location> current;
    if (!context.location.empty()) {
        current = CurrentLocation(context, "apply");
    } else {
        // A store without a current location applies too: the running system
        // then has no configuration, as the store says.
        for (const Location &location : ReadLocations())
            if (location.current) current = location;
    }
    if (!SCPreferencesApplyChanges(MoreSCGetSCPreferencesRef()))
        throw Failure("cannot apply the preferences store " + StorePath(context) +
                          " to the running system",
                      MoreSCErrorBoolean(false));
    session.Finish();

    if (context.json) {
        Json document;
        document["location"] = current ? ToJson(*current) : Json();
        Emit(context, document);
        return;
    }
    context.out += current ? "Applied location " + Describe(*current) + " to the running system.\n"
                           : "The store has no current location: the running system has no "
                             "network configuration now.\n";
}

} // namespace

void AddApplyCommand(CLI::App &app, Context &context)
{
    CLI::App *apply = app.add_subcommand(
        "apply", "make the running system use the current location as the store holds it");
    Bind(apply, context, Apply);
}

} // namespace netsetup
