// StatusCommand.cpp: status [SERVICE], the state of a service's connection,
// and status --wait STATE, which waits until the connection is in that
// state. Without SERVICE it asks about the modem's service, found as the
// status probe finds it: the first service in the location's service order
// whose interface is the modem's data port; services whose device name
// cannot be read are passed over, and a service the order leaves out (in a
// store another program wrote) is looked at after the ordered ones.
#include "ConnectionState.h"
#include "Output.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <sstream>
#include <thread>

namespace netsetup {

namespace {

const char *const kModemPort = "ZORVEXMobile-Modem";

// How often a wait looks at the state again.
constexpr std::chrono::milliseconds kWaitInterval{100};

std::optional<Service> FindModemService(const Location &location)
{
    for (const Service &service : ReadServices(location))
        if (service.device == kModemPort) return service;
    return std::nullopt;
}

// "30", "0.5": as a person writes it.
std::string Seconds(double seconds)
{
    std::ostringstream text;
    text << seconds;
    return text.str();
}

struct StatusArguments {
    std::string service, wait;
    double      timeout = 30;
};

// nameOrID empty: the modem's service.
void ShowStatus(Context &context, const StatusArguments &args, bool waiting)
{
    StoreSession session(context, StoreSession::Kind::Read);
    Location     location = SelectedLocation(context);
    Service      service  = FindConnectionService(location, args.service);
    session.Finish();

    // The clock starts before the first read: with ModemManager silent one
    // read takes its whole budget, and the wait, reads included, must end
    // within the timeout (a read begun before the end may finish).
    auto end = std::chrono::steady_clock::now() +
               std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                   std::chrono::duration<double>(args.timeout));
    SCNetworkConnectionStatus status = ReadConnectionStatus(service.id);
    while (waiting && args.wait != StateName(status)) {
        auto left = end - std::chrono::steady_clock::now();
        if (left <= std::chrono::steady_clock::duration::zero())
            throw Failure("the connection of the service " + Describe(service) + " is " +
                          StateName(status) + ", not " + args.wait + ", after " +
                          Seconds(args.timeout) + " seconds");
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(kWaitInterval, left));
        status = ReadConnectionStatus(service.id);
    }
    ReportConnection(context, location, service, status);
}

} // namespace

Service FindConnectionService(const Location &location, const std::string &nameOrID)
{
    if (!nameOrID.empty()) return ResolveService(ReadServices(location), location, nameOrID);
    std::optional<Service> service = FindModemService(location);
    if (!service)
        throw Failure("no service of location " + Describe(location) + " uses the modem port " +
                      kModemPort);
    return *service;
}

SCNetworkConnectionStatus ReadConnectionStatus(const std::string &serviceID)
{
    Ref<SCNetworkConnectionRef> connection(SCNetworkConnectionCreateWithServiceID(
        nullptr, NewString(serviceID).get(), nullptr, nullptr));
    if (!connection)
        throw Failure("no connection for the service " + serviceID, MoreSCError(nullptr));
    Ref<CFDictionaryRef> options(SCNetworkConnectionCopyUserOptions(connection.get()));
    return options ? SCNetworkConnectionGetStatus(connection.get()) : kSCNetworkConnectionInvalid;
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

void ReportConnection(Context &context, const Location &location, const Service &service,
                      SCNetworkConnectionStatus status)
{
    if (!context.json) {
        Table table({"NAME", "DEVICE", "STATE", "ID"});
        table.Add({Cell(service.name), Cell(service.device), StateName(status), service.id});
        context.out += table.Text();
        return;
    }
    Json document;
    document["location"] = ToJson(location);
    document["service"]  = ToJson(service);
    document["state"]    = StateName(status);
    document["status"]   = status;
    Emit(context, document);
}

void AddStatusCommand(CLI::App &app, Context &context)
{
    auto      args = std::make_shared<StatusArguments>();
    CLI::App *status =
        app.add_subcommand("status", "show a connection's state (default: the modem's service)");
    CLI::Option *given = status->add_option("SERVICE", args->service, "the service's name or ID");
    CLI::Option *wait =
        status
            ->add_option("--wait", args->wait,
                         "wait until the connection is in STATE: connected, connecting, "
                         "disconnecting, disconnected or invalid")
            ->type_name("STATE")
            ->check(CLI::IsMember(
                {"connected", "connecting", "disconnecting", "disconnected", "invalid"}));
    CLI::Option *timeout =
        status->add_option("--timeout", args->timeout, "with --wait: give up after SECONDS (30)")
            ->type_name("SECONDS");
    Bind(status, context, [args, given, wait, timeout](Context &c) {
        if (given->count() > 0 && args->service.empty())
            throw UsageError("the service's name is empty");
        if (timeout->count() > 0 && wait->count() == 0)
            throw UsageError("--timeout goes with --wait");
        if (!std::isfinite(args->timeout) || args->timeout <= 0 || args->timeout > 86400)
            throw UsageError("--timeout must be a number of seconds above 0, at most 86400");
        ShowStatus(c, *args, wait->count() > 0);
    });
}

} // namespace netsetup
