// DialCommands.cpp: a PPP connection on one port of the current location, in
// one line: dialup PORT (a modem) and pppoe [PORT] (Ethernet). The recipes
// configure every service of the location on the port and switch off the
// services of the maker's auxiliary modem ports; the command checks what it
// can before it locks the store (the text given, the port, the script, the
// password) and keeps all of the change or none of it.
#include "Machine.h"
#include "Output.h"
#include "Password.h"

#include "VaviVAZ.h"
#include "VaviVAZHelpers.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

#include <algorithm>
#include <functional>
#include <memory>

namespace netsetup {

namespace {

struct DialArguments {
    std::string port, phone, account, passwordFile, script, apn;
    bool        hasAccount = false, hasPasswordFile = false, hasScript = false, hasAPN = false;
};

// The PPP settings both commands take, as strings the recipes can hold.
struct PPPSettings {
    Ref<CFStringRef> phone, account, password;
};

// One configuration of the services on a port.
struct PortJob {
    std::string kind;    // "dial-up", "PPPoE"
    std::string command; // for messages: "dialup"
    std::string device;  // empty: resolve PORT
    std::string port;    // the PORT argument
    // Whether a port's hardware can carry the connection.
    std::function<bool(const std::string &hardware)> fits;
    std::string                                      needs; // "a modem port"
    // Configures the services on device; the first one is given.
    std::function<OSStatus(CFStringRef device, const Location &, const Service &)> recipe;
};

PPPSettings MakeSettings(const DialArguments &args, std::string *password)
{
    PPPSettings settings;
    if (!args.phone.empty()) settings.phone = NewString(args.phone);
    if (args.hasAccount) settings.account = NewString(args.account);
    if (!password->empty()) settings.password = NewString(*password);
    Forget(password);
    return settings;
}

// Keeps the access point name with every service of the location on the
// port, in its PPP entity, which the recipe has just made anew.
OSStatus KeepAPN(CFStringRef device, const Location &location, CFStringRef apn)
{
    OSStatus         err   = noErr;
    Ref<CFStringRef> setID = NewString(location.id);
    for (const Service &service : ReadServices(location)) {
        if (err != noErr || service.device != Utf8(device)) continue;
        Ref<CFStringRef>            serviceID = NewString(service.id);
        Ref<CFMutableDictionaryRef> ppp;
        err = MoreSCCopyEntityMutable(setID.get(), serviceID.get(), kSCEntNetPPP, ppp.put());
        if (err == noErr) {
            CFDictionarySetValue(ppp.get(), kVZPropNetPPPAccessPointName, apn);
            err = MoreSCSetEntity(setID.get(), serviceID.get(), kSCEntNetPPP, ppp.get());
        }
    }
    return err;
}

MoreSCPPPDigest PPPDigest(const PPPSettings &settings)
{
    MoreSCPPPDigest ppp{};
    ppp.active            = true;
    ppp.commRemoteAddress = settings.phone.get();
    ppp.authName          = settings.account.get();
    ppp.authPassword      = settings.password.get();
    return ppp;
}

// The modem settings a new script goes with: those of the service's modem
// entity, or the defaults a new modem service gets (modem-on-hold when its
// interface says the modem supports it).
MoreSCModemDigest ModemDigestOf(const Location &location, const Service &service)
{
    Ref<CFStringRef>     setID     = NewString(location.id);
    Ref<CFStringRef>     serviceID = NewString(service.id);
    MoreSCModemDigest    digest    = kMoreSCModemDigestDefault;
    Ref<CFDictionaryRef> modem, interface;
    if (MoreSCCopyEntity(setID.get(), serviceID.get(), kSCEntNetModem, modem.put()) == noErr) {
        auto flag = [&modem](CFStringRef key, Boolean fallback) -> Boolean {
            std::optional<long long> value = IntegerValue(modem.get(), key);
            return value ? *value != 0 : fallback;
        };
        digest.errorCorrectionAndCompression =
            flag(kSCPropNetModemDataCompression, digest.errorCorrectionAndCompression);
        digest.speaker   = flag(kSCPropNetModemSpeaker, digest.speaker);
        digest.pulseDial = flag(kSCPropNetModemPulseDial, digest.pulseDial);
        if (std::optional<std::string> mode = StringValue(modem.get(), kSCPropNetModemDialMode))
            digest.waitForDialTone = *mode == Utf8(kSCValNetModemDialModeWaitForDialTone);
        digest.supportsHold = CFDictionaryContainsKey(modem.get(), kSCPropNetModemHoldEnabled);
    } else if (MoreSCCopyEntity(setID.get(), serviceID.get(), kSCEntNetInterface,
                                interface.put()) == noErr) {
        digest.supportsHold =
            IntegerValue(interface.get(), kSCPropNetInterfaceSupportsModemOnHold).value_or(0) != 0;
    }
    return digest;
}

void Report(Context &context, const PortJob &job, const Location &location,
            const std::vector<Service> &configured, const std::vector<Service> &switchedOff)
{
    if (context.json) {
        Json document;
        document["location"]     = ToJson(location);
        document["services"]     = ToJson(configured);
        document["switched_off"] = ToJson(switchedOff);
        Emit(context, document);
        return;
    }
    for (const Service &service : configured)
        context.out += "Configured " + job.kind + " on " + job.device + " for the service " +
                       Describe(service) + ": " + PPPText(service) +
                       (service.hasModem && service.script ? ", script " + Quote(*service.script)
                                                           : std::string()) +
                       ".\n";
    for (const Service &service : switchedOff)
        context.out +=
            "Switched off the service " + Describe(service) + " on " + Cell(service.device) + ".\n";
}

// The frame of both commands: a change session on the current location, the
// services on the port checked, the recipe, and the report of the services it
// configured and those it switched off.
void ConfigurePort(Context &context, PortJob job, const std::vector<Port> &ports)
{
    StoreSession         session(context, StoreSession::Kind::Change);
    Location             location = CurrentLocation(context, job.command);
    std::vector<Service> before   = ReadServices(location);
    if (job.device.empty()) job.device = ResolveDevice(ports, before, job.port);
    for (const Port &port : ports)
        if (port.device == job.device && !job.fits(port.hardware))
            throw Failure(job.kind + " needs " + job.needs + ", and the hardware of " + job.device +
                          " is " + Cell(port.hardware));
    std::vector<const Service *> onPort;
    for (const Service &service : before)
        if (service.device == job.device) onPort.push_back(&service);
    if (onPort.empty())
        throw Failure("no service of location " + Describe(location) + " uses the port " +
                      job.device + "; add one with 'vz-netsetup service add " + job.device + "'");
    for (const Service *service : onPort)
        if (!job.fits(service->hardware.value_or("")))
            throw Failure(job.kind + " needs " + job.needs + ", and the service " +
                          Describe(*service) + " on " + job.device + " has the hardware " +
                          Cell(service->hardware));
    Check(job.recipe(NewString(job.device).get(), location, *onPort.front()),
          "cannot configure " + job.kind + " on " + job.device);

    std::vector<Service> after = ReadServices(location);
    session.Finish();
    std::vector<Service> configured, switchedOff;
    for (const Service &service : after) {
        if (service.device == job.device) {
            configured.push_back(service);
            continue;
        }
        auto was = std::find_if(before.begin(), before.end(),
                                [&service](const Service &old) { return old.id == service.id; });
        if (was != before.end() && was->active && !service.active) switchedOff.push_back(service);
    }
    Report(context, job, location, configured, switchedOff);
}

// Checks what the command line gives before anything is read.
void CheckDialArguments(const DialArguments &args, bool portGiven)
{
    if (portGiven) CheckText(args.port, "the port");
    if (args.hasScript) CheckText(args.script, "the script name");
    if (args.hasAccount) CheckText(args.account, "the account name");
    if (args.hasAPN) CheckText(args.apn, "the access point name");
    if (args.hasPasswordFile && args.passwordFile.empty())
        throw UsageError("the password file is empty; give a file, or - for standard input");
}

void Dialup(Context &context, const DialArguments &args)
{
    CheckText(args.phone, "the phone number");
    CheckDialArguments(args, true);
    // The machine is read, and the password asked for, before the store is
    // locked.
    std::vector<Port> ports = ReadPorts();
    if (args.hasScript) {
        ModemScripts scripts = ReadModemScripts();
        if (std::find(scripts.names.begin(), scripts.names.end(), args.script) ==
            scripts.names.end())
            throw Failure("no modem script named " + Quote(args.script) +
                          " is installed (see 'vz-netsetup modem-scripts')");
    }
    std::string password = args.hasPasswordFile ? ReadPassword(args.passwordFile) : std::string();
    auto        settings = std::make_shared<PPPSettings>(MakeSettings(args, &password));
    Ref<CFStringRef> script;
    if (args.hasScript) script = NewString(args.script);
    Ref<CFStringRef> apn;
    if (args.hasAPN) apn = NewString(args.apn);

    PortJob job;
    job.kind    = "dial-up";
    job.command = "dialup";
    job.port    = args.port;
    job.needs   = "a modem port";
    job.fits    = [](const std::string &hardware) { return hardware == "Modem"; };
    job.recipe  = [settings, script, apn](CFStringRef device, const Location &location,
                                         const Service &first) {
        MoreSCPPPDigest   ppp   = PPPDigest(*settings);
        MoreSCModemDigest modem = ModemDigestOf(location, first);
        modem.connectionScript  = script.get();
        OSStatus err =
            MoreSCMakeNewDialupSet(device, CFSTR("vz-netsetup"), script ? &modem : nullptr, &ppp,
                                    nullptr, nullptr, nullptr);
        if (err == noErr && apn) err = KeepAPN(device, location, apn.get());
        return err;
    };
    ConfigurePort(context, job, ports);
}

void PPPoE(Context &context, const DialArguments &args, bool portGiven)
{
    CheckDialArguments(args, portGiven);
    std::vector<Port> ports = ReadPorts();
    PortJob           job;
    if (!portGiven) {
        // The recipe's own choice: the first Ethernet port, "en0" before others.
        auto first = std::find_if(ports.begin(), ports.end(),
                                  [](const Port &port) { return port.hardware == "Ethernet"; });
        if (first == ports.end())
            throw Failure("the machine has no Ethernet port for PPPoE (see 'vz-netsetup ports')");
        job.device = first->device;
    }
    std::string password = args.hasPasswordFile ? ReadPassword(args.passwordFile) : std::string();
    auto        settings = std::make_shared<PPPSettings>(MakeSettings(args, &password));

    job.kind    = "PPPoE";
    job.command = "pppoe";
    job.port    = args.port;
    job.needs   = "an Ethernet or AirPort port";
    job.fits    = [](const std::string &hardware) {
        return hardware == "Ethernet" || hardware == "AirPort";
    };
    job.recipe = [settings](CFStringRef device, const Location &, const Service &) {
        // The PPPoE option defaults, as a new service's PPPoE entity has
        // them, rather than the dial-up ones the recipe would take.
        MoreSCPPPDigest ppp = PPPDigest(*settings);
        ppp.options         = MoreSCGetDefaultPPPOptions(true);
        return MoreSCMakeNewPPPoESet(device, CFSTR("vz-netsetup"), &ppp, nullptr, nullptr, nullptr);
    };
    ConfigurePort(context, job, ports);
}

// The options both commands share.
void AddPPPOptions(CLI::App *command, DialArguments &args)
{
    command->add_option("--account", args.account, "the account name")->type_name("NAME");
    command
        ->add_option("--password-file", args.passwordFile,
                     "read the password from the first line of FILE (-: standard input)")
        ->type_name("FILE|-");
}

} // namespace

void AddDialCommands(CLI::App &app, Context &context)
{
    auto      dialArgs = std::make_shared<DialArguments>();
    CLI::App *dialup   = app.add_subcommand(
          "dialup", "configure dial-up on a modem port of the current location's services");
    dialup->add_option("PORT", dialArgs->port, "the modem port's device name or name")->required();
    dialup->add_option("--phone", dialArgs->phone, "the number to dial")
        ->type_name("NUMBER")
        ->required();
    AddPPPOptions(dialup, *dialArgs);
    CLI::Option *script =
        dialup
            ->add_option("--script", dialArgs->script,
                         "the modem script (see 'modem-scripts'; default: the service's own)")
            ->type_name("NAME");
    CLI::Option *apn =
        dialup
            ->add_option("--apn", dialArgs->apn,
                         "the access point name a mobile broadband modem connects to")
            ->type_name("APN");
    Bind(dialup, context, [dialArgs, dialup, script, apn](Context &c) {
        dialArgs->hasAPN          = apn->count() > 0;
        dialArgs->hasAccount      = dialup->get_option("--account")->count() > 0;
        dialArgs->hasPasswordFile = dialup->get_option("--password-file")->count() > 0;
        dialArgs->hasScript       = script->count() > 0;
        Dialup(c, *dialArgs);
    });

    auto      pppoeArgs = std::make_shared<DialArguments>();
    CLI::App *pppoe     = app.add_subcommand(
            "pppoe", "configure PPP over Ethernet on a port of the current location's services");
    CLI::Option *port =
        pppoe->add_option("PORT", pppoeArgs->port,
                          "the Ethernet port's device name or name (default: the first one)");
    AddPPPOptions(pppoe, *pppoeArgs);
    pppoe->get_option("--account")->required();
    Bind(pppoe, context, [pppoeArgs, pppoe, port](Context &c) {
        pppoeArgs->hasAccount      = true;
        pppoeArgs->hasPasswordFile = pppoe->get_option("--password-file")->count() > 0;
        PPPoE(c, *pppoeArgs, port->count() > 0);
    });
}

} // namespace netsetup
