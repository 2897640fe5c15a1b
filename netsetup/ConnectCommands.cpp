// ConnectCommands.cpp: connect [SERVICE] [--apn APN] and disconnect
// [SERVICE], by default the modem's service (as status finds it). connect
// gives the connection controller the account, the password and the access
// point name of the service's PPP entity (--apn takes the place of the one
// the service keeps) and returns once the connection is up, or says why not.
// On the machine's own root ModemManager connects the modem; on any other
// root the controller records the new state, as the demo machine's does.
#include "ConnectionState.h"
#include "Output.h"

#include "VaviVAZ.h"

#include <CLI/CLI.hpp>

#include <memory>

namespace netsetup {

namespace {

struct ConnectArguments {
    std::string service, apn;
};

// The PPP settings of the service, as the options of a connection.
Ref<CFDictionaryRef> ConnectOptions(const Location &location, const Service &service,
                                    const std::optional<std::string> &apn)
{
    Ref<CFMutableDictionaryRef> ppp;
    Ref<CFDictionaryRef>        entity;
    if (MoreSCCopyEntity(NewString(location.id).get(), NewString(service.id).get(), kSCEntNetPPP,
                         entity.put()) == noErr)
        ppp = Ref<CFMutableDictionaryRef>(CFDictionaryCreateMutableCopy(nullptr, 0, entity.get()));
    else
        ppp = Ref<CFMutableDictionaryRef>(CFDictionaryCreateMutable(
            nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
    if (!ppp) throw Failure("out of memory");
    if (apn) CFDictionarySetValue(ppp.get(), kVZPropNetPPPAccessPointName, NewString(*apn).get());
    const void          *key = kSCEntNetPPP, *value = ppp.get();
    Ref<CFDictionaryRef> options(CFDictionaryCreate(nullptr, &key, &value, 1,
                                                    &kCFTypeDictionaryKeyCallBacks,
                                                    &kCFTypeDictionaryValueCallBacks));
    if (!options) throw Failure("out of memory");
    return options;
}

// Connects (start) or disconnects the service.
void Move(Context &context, const std::string &nameOrID, bool start,
          const std::optional<std::string> &apn)
{
    StoreSession         session(context, StoreSession::Kind::Read);
    Location             location = SelectedLocation(context);
    Service              service  = FindConnectionService(location, nameOrID);
    Ref<CFDictionaryRef> options;
    if (start) options = ConnectOptions(location, service, apn);
    session.Finish();

    Ref<SCNetworkConnectionRef> connection(SCNetworkConnectionCreateWithServiceID(
        nullptr, NewString(service.id).get(), nullptr, nullptr));
    if (!connection)
        throw Failure("no connection for the service " + Describe(service), MoreSCError(nullptr));
    bool done = start ? SCNetworkConnectionStart(connection.get(), options.get(), false)
                      : SCNetworkConnectionStop(connection.get(), false);
    if (!done) {
        OSStatus    code = MoreSCError(nullptr);
        std::string what = std::string(start ? "cannot connect" : "cannot disconnect") +
                           " the service " + Describe(service);
        Ref<CFStringRef> reason(VZNetworkConnectionCopyLastError(connection.get()));
        if (!reason) throw Failure(what, code);
        throw Failure(what + ": " + Utf8(reason.get()) + " (error " + std::to_string(code) + ")");
    }
    SCNetworkConnectionStatus status = ReadConnectionStatus(service.id);
    if (context.json) {
        ReportConnection(context, location, service, status);
        return;
    }
    context.out += std::string(start ? "Connected" : "Disconnected") + " the service " +
                   Describe(service) + "; its connection is " + StateName(status) + ".\n";
}

} // namespace

void AddConnectCommands(CLI::App &app, Context &context)
{
    auto      connectArgs = std::make_shared<ConnectArguments>();
    CLI::App *connect     = app.add_subcommand(
            "connect", "connect a service (default: the modem's service) and wait until it is up");
    CLI::Option *service =
        connect->add_option("SERVICE", connectArgs->service, "the service's name or ID");
    CLI::Option *apn =
        connect
            ->add_option("--apn", connectArgs->apn,
                         "the access point name to connect to (default: the service's own)")
            ->type_name("APN");
    Bind(connect, context, [connectArgs, service, apn](Context &c) {
        if (service->count() > 0 && connectArgs->service.empty())
            throw UsageError("the service's name is empty");
        std::optional<std::string> name;
        if (apn->count() > 0) {
            CheckText(connectArgs->apn, "the access point name");
            name = connectArgs->apn;
        }
        Move(c, connectArgs->service, true, name);
    });

    auto      disconnectArgs = std::make_shared<ConnectArguments>();
    CLI::App *disconnect =
        app.add_subcommand("disconnect", "disconnect a service (default: the modem's service)");
    CLI::Option *disconnectService =
        disconnect->add_option("SERVICE", disconnectArgs->service, "the service's name or ID");
    Bind(disconnect, context, [disconnectArgs, disconnectService](Context &c) {
        if (disconnectService->count() > 0 && disconnectArgs->service.empty())
            throw UsageError("the service's name is empty");
        Move(c, disconnectArgs->service, false, std::nullopt);
    });
}

} // namespace netsetup
