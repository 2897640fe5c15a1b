// LocationCommands.cpp: the locations (the store's sets) and the commands on
// one: locations, location switch, delete, create, duplicate and rename.
#include "Output.h"
#include "Store.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

#include <memory>

namespace netsetup {

namespace {

void Report(Context &context, const Location &location, const std::string &sentence)
{
    if (!context.json) {
        context.out += sentence + "\n";
        return;
    }
    Json document;
    document["location"] = ToJson(location);
    Emit(context, document);
}

void ListLocations(Context &context)
{
    StoreSession          session(context, StoreSession::Kind::Read);
    std::vector<Location> locations = ReadLocations();
    session.Finish();
    for (const Location &location : locations)
        NoteDamage(context, location);
    if (context.json) {
        Json list = Json::array();
        for (const Location &location : locations)
            list.push_back(ToJson(location));
        Json document;
        document["locations"] = list;
        Emit(context, document);
        return;
    }
    // The first column marks the current location with "*", and one that
    // cannot be read whole with "!".
    Table table({"", "NAME", "SERVICES", "ID"});
    table.RightAlign(2);
    for (const Location &location : locations)
        table.Add({std::string(location.current ? "*" : "") + (location.damage ? "!" : ""),
                   Cell(location.name), std::to_string(location.serviceCount), location.id});
    context.out += table.Text();
}

// Opens a change session and finds the location named; the change runs with
// the locations as they were and returns the ID of the location to report
// and the sentence for people.
void ChangeLocation(Context &context, const std::string &nameOrID,
                    const std::function<std::pair<std::string, std::string>(
                        StoreSession &, const std::vector<Location> &, const Location &)> &change)
{
    StoreSession          session(context, StoreSession::Kind::Change);
    std::vector<Location> locations = ReadLocations(false);
    const Location        location  = RereadLocation(ResolveLocation(locations, nameOrID));
    auto [id, sentence]             = change(session, locations, location);
    Location after                  = location;
    if (!id.empty()) {
        after.id = id;
        after    = RereadLocation(after);
    }
    session.Finish();
    Report(context, after, sentence);
}

std::pair<std::string, std::string> Switch(StoreSession &, const std::vector<Location> &,
                                           const Location &location)
{
    if (!location.current)
        Check(MoreSCSetCurrentSet(NewString(location.id).get()),
              "cannot switch to location " + Describe(location));
    return {location.id, "Switched to location " + Describe(location) + "."};
}

std::pair<std::string, std::string> Delete(StoreSession &, const std::vector<Location> &,
                                           const Location &location)
{
    OSStatus err = MoreSCDeleteSet(NewString(location.id).get());
    if (err == kMoreSCErrorBadRequest && location.current)
        throw Failure("cannot delete the current location " + Describe(location) +
                      "; switch to another one first (error " + std::to_string(err) + ")");
    Check(err, "cannot delete location " + Describe(location));
    return {std::string(), "Deleted location " + Describe(location) + "."};
}

std::pair<std::string, std::string> Rename(const std::vector<Location> &locations,
                                           const Location &location, const std::string &newName)
{
    CheckLocationNameFree(locations, newName, location.id);
    if (location.name != newName)
        Check(MoreSCRenameSet(NewString(location.id).get(), NewString(newName).get()),
              "cannot rename location " + Describe(location));
    return {location.id, "Renamed location " + Describe(location) + " to " + Quote(newName) + "."};
}

std::pair<std::string, std::string> Duplicate(Context                     &context,
                                              const std::vector<Location> &locations,
                                              const Location &location, const std::string &newName)
{
    CheckLocationNameFree(locations, newName);
    // The copy gets every service the location links.
    MendServiceOrder(context, location);
    Ref<CFStringRef> newID;
    Check(MoreSCDuplicateSet(NewString(location.id).get(), NewString(newName).get(), newID.put()),
          "cannot duplicate location " + Describe(location));
    std::string id = Utf8(newID.get());
    return {id, "Duplicated location " + Describe(location) + " as " + Quote(newName) + " (" + id +
                    ")."};
}

// fromPorts: with a new service for every port the scanner finds, in its
// order.
void CreateLocation(Context &context, const std::string &given, bool fromPorts)
{
    const std::string name = CheckNewName(given);
    StoreSession      session(context, StoreSession::Kind::Change);
    CheckLocationNameFree(ReadLocations(false), name);
    Ref<CFStringRef> newID;
    if (fromPorts)
        Check(MoreSCNewSet(NewString(name).get(), newID.put()),
              "cannot create location " + Quote(name) + " from the machine's ports");
    else
        Check(MoreSCNewEmptySet(NewString(name).get(), newID.put()),
              "cannot create location " + Quote(name));
    Location location;
    location.id = Utf8(newID.get());
    location    = RereadLocation(location);
    session.Finish();
    std::string sentence = "Created location " + Describe(location);
    if (fromPorts)
        sentence += " with " + std::to_string(location.serviceCount) + " service" +
                    (location.serviceCount == 1 ? "" : "s") + " for the machine's ports";
    Report(context, location, sentence + ".");
}

} // namespace

void AddLocationCommands(CLI::App &app, Context &context)
{
    CLI::App *locations =
        app.add_subcommand("locations", "list every location; \"*\" marks the current one");
    Bind(locations, context, ListLocations);
    CLI::App &location = *app.add_subcommand("location", "switch, create or change a location");
    location.require_subcommand(1);

    struct Arguments {
        std::string location, newName;
        bool        fromPorts = false;
    };
    auto        args   = std::make_shared<Arguments>();
    const char *kWhich = "the location's name or ID";

    CLI::App *switchTo = location.add_subcommand("switch", "make a location the current one");
    switchTo->add_option("NAME", args->location, kWhich)->required();
    Bind(switchTo, context, [args](Context &c) { ChangeLocation(c, args->location, Switch); });

    CLI::App *remove =
        location.add_subcommand("delete", "delete a location other than the current one");
    remove->add_option("NAME", args->location, kWhich)->required();
    Bind(remove, context, [args](Context &c) { ChangeLocation(c, args->location, Delete); });

    CLI::App *create = location.add_subcommand(
        "create", "create a location: empty, or with a new service for every port");
    create->add_option("NAME", args->newName, "its name")->required();
    create->add_flag("--from-ports", args->fromPorts,
                     "a new service for every port, in the order of 'vz-netsetup ports'");
    Bind(create, context,
         [args](Context &c) { CreateLocation(c, args->newName, args->fromPorts); });

    CLI::App *duplicate =
        location.add_subcommand("duplicate", "copy a location with copies of all its services");
    duplicate->add_option("NAME", args->location, kWhich)->required();
    duplicate->add_option("NEW-NAME", args->newName, "the copy's name")->required();
    Bind(duplicate, context, [args](Context &c) {
        args->newName = CheckNewName(args->newName);
        ChangeLocation(
            c, args->location,
            [args, &c](StoreSession &, const std::vector<Location> &all, const Location &source) {
                return Duplicate(c, all, source, args->newName);
            });
    });

    CLI::App *rename = location.add_subcommand("rename", "give a location a new name");
    rename->add_option("NAME", args->location, kWhich)->required();
    rename->add_option("NEW-NAME", args->newName, "its new name")->required();
    Bind(rename, context, [args](Context &c) {
        args->newName = CheckNewName(args->newName);
        ChangeLocation(
            c, args->location,
            [args](StoreSession &, const std::vector<Location> &all, const Location &target) {
                return Rename(all, target, args->newName);
            });
    });
}

} // namespace netsetup
