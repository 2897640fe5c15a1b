// ServiceCommands.cpp: the services of a location and the commands on one
// service as a whole: services, service show, enable, disable, delete,
// rename, duplicate and order.
#include "Output.h"
#include "ServiceEdit.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <memory>

namespace netsetup {

namespace {

void ReportServices(Context &context, const Location &location,
                    const std::vector<Service> &services)
{
    if (!context.json) {
        context.out += ServicesTable(services);
        return;
    }
    EmitServices(context, location, services);
}

void ListServices(Context &context)
{
    StoreSession         session(context, StoreSession::Kind::Read);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);
    session.Finish();
    ReportServices(context, location, services);
    NoteDamage(context, location, services);
}

void ShowService(Context &context, const std::string &nameOrID)
{
    StoreSession         session(context, StoreSession::Kind::Read);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);
    Service              service  = ResolveService(services, location, nameOrID);
    session.Finish();
    if (service.damage) {
        context.notes.push_back("the service " + service.id + ": " + *service.damage);
        context.damaged = true;
    }
    if (!context.json) {
        context.out += ServiceLines(service, location, services.size());
        return;
    }
    ReportService(context, location, service, "");
}

std::string SetActive(ServiceEdit &edit, bool active)
{
    Check(MoreSCSetServiceActive(edit.setID.get(), edit.serviceID.get(), active),
          std::string("cannot ") + (active ? "enable" : "disable") + " the service " +
              Describe(edit.service));
    return std::string(active ? "Enabled" : "Disabled") + " the service " + Describe(edit.service) +
           ".";
}

std::string Rename(ServiceEdit &edit, const std::string &newName)
{
    CheckServiceNameFree(edit.services, edit.location, newName, edit.service.id);
    if (edit.service.name != newName)
        Check(MoreSCRenameService(edit.setID.get(), edit.serviceID.get(), NewString(newName).get()),
              "cannot rename the service " + Describe(edit.service));
    return "Renamed the service " + Describe(edit.service) + " to " + Quote(newName) + ".";
}

void DeleteService(Context &context, const std::string &nameOrID)
{
    StoreSession         session(context, StoreSession::Kind::Change);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);
    Service              service  = ResolveService(services, location, nameOrID);
    MendServiceOrder(context, location);
    Check(MoreSCDeleteService(NewString(location.id).get(), NewString(service.id).get()),
          "cannot delete the service " + Describe(service));
    location = RereadLocation(location);
    session.Finish();
    ReportService(context, location, service,
                  "Deleted the service " + Describe(service) + " from location " +
                      Describe(location) + ".");
}

// The ID of the shared service that the set's link for serviceID leads to:
// the one a copy is made from. The order lists every linked service once
// (MendServiceOrder).
Ref<CFStringRef> SharedServiceID(CFStringRef setID, const Service &service)
{
    Ref<CFArrayRef> local, resolved;
    Check(MoreSCCopyServiceIDs(setID, local.put(), resolved.put()),
          "cannot follow the link of the service " + Describe(service));
    Ref<CFStringRef> id    = NewString(service.id);
    CFIndex          index = CFArrayGetFirstIndexOfValue(
                 local.get(), CFRangeMake(0, CFArrayGetCount(local.get())), id.get());
    if (index < 0) throw Failure("the service order of its location leaves out " + service.id);
    return Ref<CFStringRef>::retain(
        static_cast<CFStringRef>(CFArrayGetValueAtIndex(resolved.get(), index)));
}

void DuplicateService(Context &context, const std::string &nameOrID, const std::string &given)
{
    const std::string    newName = CheckNewName(given);
    StoreSession         session(context, StoreSession::Kind::Change);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);
    Service              service  = ResolveService(services, location, nameOrID);
    CheckServiceNameFree(services, location, newName);
    MendServiceOrder(context, location);
    Ref<CFStringRef> setID = NewString(location.id);
    Ref<CFStringRef> newID;
    Check(MoreSCDuplicateService(setID.get(), SharedServiceID(setID.get(), service).get(),
                                 NewString(newName).get(), newID.put()),
          "cannot duplicate the service " + Describe(service));
    // The copy is appended to the service order.
    Service copy  = ReadService(location, Utf8(newID.get()));
    copy.position = services.size() + 1;
    location      = RereadLocation(location);
    session.Finish();
    ReportService(context, location, copy,
                  "Duplicated the service " + Describe(service) + " as " + Describe(copy) + ".");
}

void OrderServices(Context &context, const std::vector<std::string> &namesOrIDs)
{
    StoreSession         session(context, StoreSession::Kind::Change);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);

    // The services named come first, in the order given; the others follow
    // in the order they had.
    std::vector<std::string> order;
    for (const std::string &nameOrID : namesOrIDs) {
        const Service &service = ResolveService(services, location, nameOrID);
        if (std::find(order.begin(), order.end(), service.id) != order.end())
            throw Failure("the service " + Describe(service) + " is named twice");
        order.push_back(service.id);
    }
    std::vector<std::string> before;
    for (const Service &service : services) {
        before.push_back(service.id);
        if (std::find(order.begin(), order.end(), service.id) == order.end())
            order.push_back(service.id);
    }
    // A stored order that disagrees with the services, or is damaged, is
    // written anew even when the listing's order stays: that mends it. One
    // that could not be read for another reason is not replaced.
    const std::string what = "cannot change the service order of location " + Describe(location);
    if (location.damage && !location.orderDamaged) throw Failure(what + ": " + *location.damage);
    if (order != before || location.orderDamaged || !location.orderProblems.empty()) {
        Check(MoreSCSetServicesDict(NewString(location.id).get(), nullptr,
                                    NewStringArray(order).get()),
              what);
        services = ReadServices(location);
        location = RereadLocation(location);
    }
    session.Finish();
    ReportServices(context, location, services);
}

} // namespace

void ReportService(Context &context, const Location &location, const Service &service,
                   const std::string &sentence)
{
    if (!context.json) {
        context.out += sentence + "\n";
        return;
    }
    Json document;
    document["location"] = ToJson(location);
    document["service"]  = ToJson(service);
    Emit(context, document);
}

void EditService(Context &context, const std::string &nameOrID,
                 const std::function<std::string(ServiceEdit &)> &change)
{
    StoreSession         session(context, StoreSession::Kind::Change);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);
    const Service       &service  = ResolveService(services, location, nameOrID);
    ServiceEdit          edit{
        session, location, services, service, NewString(location.id), NewString(service.id)};
    std::string sentence = change(edit);
    Service     after    = ReadService(location, service.id);
    after.position       = service.position;
    session.Finish();
    ReportService(context, location, after, sentence);
}

void AddServicesCommand(CLI::App &app, Context &context)
{
    CLI::App *services = app.add_subcommand(
        "services", "list the location's services in order; \"-\" marks an inactive one");
    Bind(services, context, ListServices);
}

void AddServiceCommands(CLI::App &service, Context &context)
{
    struct Arguments {
        std::string              service, newName;
        std::vector<std::string> services;
    };
    auto args = std::make_shared<Arguments>();

    CLI::App *show = service.add_subcommand("show", "show a service and its settings");
    show->add_option("SERVICE", args->service, "the service's name or ID")->required();
    Bind(show, context, [args](Context &c) { ShowService(c, args->service); });

    CLI::App *enable = service.add_subcommand("enable", "make a service active");
    enable->add_option("SERVICE", args->service, "the service's name or ID")->required();
    Bind(enable, context, [args](Context &c) {
        EditService(c, args->service, [](ServiceEdit &edit) { return SetActive(edit, true); });
    });

    CLI::App *disable = service.add_subcommand("disable", "make a service inactive");
    disable->add_option("SERVICE", args->service, "the service's name or ID")->required();
    Bind(disable, context, [args](Context &c) {
        EditService(c, args->service, [](ServiceEdit &edit) { return SetActive(edit, false); });
    });

    CLI::App *remove = service.add_subcommand("delete", "delete a service from the location");
    remove->add_option("SERVICE", args->service, "the service's name or ID")->required();
    Bind(remove, context, [args](Context &c) { DeleteService(c, args->service); });

    CLI::App *rename = service.add_subcommand("rename", "give a service a new name");
    rename->add_option("SERVICE", args->service, "the service's name or ID")->required();
    rename->add_option("NEW-NAME", args->newName, "its new name")->required();
    Bind(rename, context, [args](Context &c) {
        args->newName = CheckNewName(args->newName);
        EditService(c, args->service,
                    [args](ServiceEdit &edit) { return Rename(edit, args->newName); });
    });

    CLI::App *duplicate = service.add_subcommand(
        "duplicate", "copy a service and its settings to the end of the service order");
    duplicate->add_option("SERVICE", args->service, "the service's name or ID")->required();
    duplicate->add_option("NEW-NAME", args->newName, "the copy's name")->required();
    Bind(duplicate, context,
         [args](Context &c) { DuplicateService(c, args->service, args->newName); });

    CLI::App *order = service.add_subcommand(
        "order", "move the services named to the front of the service order, in that order");
    order->add_option("SERVICE", args->services, "the services' names or IDs")->required();
    Bind(order, context, [args](Context &c) { OrderServices(c, args->services); });
}

} // namespace netsetup
