// StatusCommand.cpp: status [SERVICE], the state of a service's connection.
// Without SERVICE it asks about the modem's service, found as the status
// probe finds it: the first service in the location's service order whose
// interface is the modem's data port; services whose device name cannot be
// read are passed over, and a service the order leaves out (in a store
// another program wrote) is looked at after the ordered ones.
#include "Output.h"
#include "Store.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

#include <memory>

namespace netsetup {

namespace {

const char *const kModemPort = "ZORVEXMobile-Modem";

std::optional<Service> FindModemService(const Location &location)
{
    for (const Service &service : ReadServices(location))
        if (service.device == kModemPort) return service;
    return std::nullopt;
}

const char *StateName(SCNetworkConnectionStatus status)
{
    switch (status) {
    case kSCNetworkConnectionInvalid:
        return "invalid";
    case kSCNetworkConnectionDisconnected:
        return "disconnected";
    case kSCNetworkConnectionConnecting:
        return "connecting";
    case kSCNetworkConnectionConnected:
        return "connected";
    case kSCNetworkConnectionDisconnecting:
        return "disconnecting";
    default:
        return "unknown";
    }
}

// nameOrID empty: the modem's service.
void ShowStatus(Context &context, const std::string &nameOrID)
{
    StoreSession           session(context, StoreSession::Kind::Read);
    Location               location = SelectedLocation(context);
    std::optional<Service> service;
    if (nameOrID.empty()) {
        service = FindModemService(location);
        if (!service)
            throw Failure("no service of location " + Describe(location) + " uses the modem port " +
                          kModemPort);
    } else {
        service = ResolveService(ReadServices(location), location, nameOrID);
    }
    session.Finish();

    // As the probe asks: a connection without user options has no state.
    Ref<SCNetworkConnectionRef> connection(SCNetworkConnectionCreateWithServiceID(
        nullptr, NewString(service->id).get(), nullptr, nullptr));
    if (!connection)
        throw Failure("no connection for the service " + Describe(*service), MoreSCError(nullptr));
    Ref<CFDictionaryRef>      options(SCNetworkConnectionCopyUserOptions(connection.get()));
    SCNetworkConnectionStatus status = kSCNetworkConnectionInvalid;
    if (options) status = SCNetworkConnectionGetStatus(connection.get());

    if (!context.json) {
        Table table({"NAME", "DEVICE", "STATE", "ID"});
        table.Add({Cell(service->name), Cell(service->device), StateName(status), service->id});
        context.out += table.Text();
        return;
    }
    Json document;
    document["location"] = ToJson(location);
    document["service"]  = ToJson(*service);
    document["state"]    = StateName(status);
    document["status"]   = status;
    Emit(context, document);
}

} // namespace

void AddStatusCommand(CLI::App &app, Context &context)
{
    auto      service = std::make_shared<std::string>();
    CLI::App *status =
        app.add_subcommand("status", "show a connection's state (default: the modem's service)");
    CLI::Option *given = status->add_option("SERVICE", *service, "the service's name or ID");
    Bind(status, context, [service, given](Context &c) {
        if (given->count() > 0 && service->empty()) throw UsageError("the service's name is empty");
        ShowStatus(c, *service);
    });
}

} // namespace netsetup
