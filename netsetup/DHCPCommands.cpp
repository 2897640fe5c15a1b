// DHCPCommands.cpp: dhcp list, the services of the current location that the
// running system configures by DHCP, and dhcp release SERVICE, which gives up
// a service's lease: its IPv4 is switched off and applied, then on and
// applied again, so the running system drops its configuration and makes it
// anew.
#include "Output.h"
#include "ServiceEdit.h"

#include "VaviVAZ.h"
#include "VaviVAZHelpers.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

#include <algorithm>
#include <memory>

namespace netsetup {

namespace {

// How often a release that met another writer's commit is made again.
constexpr int kReleaseAttempts = 100;

// The IDs of the services whose running IPv4 configuration uses DHCP.
std::vector<std::string> RunningDHCP()
{
    Ref<CFArrayRef> ids;
    Check(MoreSCCreateActiveDHCPServicesArray(ids.put()), "cannot list the services that run DHCP");
    std::vector<std::string> list;
    for (CFIndex i = 0; i < CFArrayGetCount(ids.get()); i++)
        list.push_back(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(ids.get(), i))));
    return list;
}

void ListDHCP(Context &context)
{
    std::vector<std::string> running = RunningDHCP();
    StoreSession             session(context, StoreSession::Kind::Read);
    Location                 location = CurrentLocation(context, "dhcp list");
    std::vector<Service>     services = ReadServices(location);
    session.Finish();

    // In service order; a service the running system has and the location
    // does not (the store changed and was not applied) comes last, with
    // position 0 and nothing but its ID.
    std::vector<Service> listed;
    for (const Service &service : services)
        if (std::find(running.begin(), running.end(), service.id) != running.end())
            listed.push_back(service);
    for (const std::string &id : running) {
        if (std::none_of(services.begin(), services.end(),
                         [&id](const Service &service) { return service.id == id; })) {
            Service unknown;
            unknown.id = id;
            listed.push_back(unknown);
        }
    }
    NoteDamage(context, location, listed);
    if (!context.json) {
        context.out += ServicesTable(listed);
        return;
    }
    EmitServices(context, location, listed);
}

// The service as the store holds it now.
Service ReadAgain(Context &context, const Location &location, const Service &service)
{
    StoreSession session(context, StoreSession::Kind::Read);
    Service      now = ReadService(location, service.id);
    now.position     = service.position;
    session.Finish();
    return now;
}

// Switches the service's IPv4 on again in a session of its own; false when
// that fails.
bool SwitchIPv4On(Context &context, const Service &service)
{
    try {
        EditService(context, service.id, [](ServiceEdit &edit) {
            Check(
                MoreSCSetEntityActive(edit.setID.get(), edit.serviceID.get(), kSCEntNetIPv4, true),
                "cannot switch IPv4 on again");
            return std::string();
        });
    } catch (const Failure &) {
        context.out.clear();
        return false;
    }
    context.out.clear(); // only the release is reported
    return true;
}

void ReleaseDHCP(Context &context, const std::string &nameOrID)
{
    std::vector<std::string> running = RunningDHCP();
    Location                 location;
    Service                  service;
    {
        StoreSession session(context, StoreSession::Kind::Read);
        location                      = CurrentLocation(context, "dhcp release");
        std::vector<Service> services = ReadServices(location);
        service                       = ResolveService(services, location, nameOrID);
        session.Finish();
    }
    if (std::find(running.begin(), running.end(), service.id) == running.end())
        throw Failure("the service " + Describe(service) +
                      " holds no DHCP lease: the running system does not configure it by DHCP "
                      "(see 'vz-netsetup dhcp list')");
    // The release switches IPv4 off and then on: on a service whose IPv4 is
    // off in the store (a change not applied yet), it would switch it on.
    if (!service.hasIPv4 || !service.ipv4Active)
        throw Failure("the service " + Describe(service) +
                      " has its IPv4 switched off in the store; releasing its lease would switch "
                      "it on ('vz-netsetup service ipv4 " +
                      service.id + " dhcp' does that)");

    // Outside any session of this command: the release commits and applies
    // twice, and inside one it would apply nothing in between. Its commits
    // take the store's lock only to write, so another writer that commits
    // between the release's reading and its writing makes that step refuse
    // its stale snapshot (3005), and nothing of the step is written.
    const std::string what = "cannot release the DHCP lease of the service " + Describe(service);
    Ref<CFStringRef>  id   = NewString(service.id);
    for (int attempt = 1;; attempt++) {
        OSStatus err = MoreSCDHCPRelease(id.get());
        if (err == noErr) break;
        Service now = ReadAgain(context, location, service);
        if (now.hasIPv4 && now.ipv4Active) {
            // Switched on as it was: the first step was refused when stale
            // and may run again; any other failure is the release's.
            if (err == kSCStatusStale && attempt < kReleaseAttempts) continue;
            throw Failure(what, err);
        }
        // The second step failed and left IPv4 switched off, committed: it is
        // switched on again, under the lock. After a stale second step the
        // first was applied, so the switch on completes the release.
        if (!SwitchIPv4On(context, service))
            throw Failure(what + "; its IPv4 is left off ('vz-netsetup service ipv4 " + service.id +
                              " dhcp' switches it on)",
                          err);
        if (err != kSCStatusStale) throw Failure(what, err);
        break;
    }
    ReportService(context, location, ReadAgain(context, location, service),
                  "Released the DHCP lease of the service " + Describe(service) +
                      "; the running system configures it anew.");
}

} // namespace

void AddDHCPCommands(CLI::App &app, Context &context)
{
    CLI::App &dhcp = *app.add_subcommand(
        "dhcp", "the current location's services that run DHCP, and their leases");
    dhcp.require_subcommand(1);

    CLI::App *list =
        dhcp.add_subcommand("list", "list the services the running system configures by DHCP");
    Bind(list, context, ListDHCP);

    auto      service = std::make_shared<std::string>();
    CLI::App *release = dhcp.add_subcommand(
        "release", "give up a service's DHCP lease; the running system asks for a new one");
    release->add_option("SERVICE", *service, "the service's name or ID")->required();
    Bind(release, context, [service](Context &c) { ReleaseDHCP(c, *service); });
}

} // namespace netsetup
