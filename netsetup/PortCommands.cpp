// PortCommands.cpp: the machine's ports and a new service for one: ports and
// service add PORT.
#include "Machine.h"
#include "Output.h"
#include "ServiceEdit.h"

#include "VaviVAZ.h"
#include "VaviVAZPortScanner.h"

#include <CLI/CLI.hpp>
#include <SystemConfiguration/SystemConfiguration.h>

#include <memory>

namespace netsetup {

std::vector<Port> ReadPorts()
{
    Ref<CFArrayRef> array;
    Check(MoreSCCreatePortArray(array.put()), "cannot list the machine's ports");
    std::vector<Port> ports;
    for (CFIndex i = 0; i < CFArrayGetCount(array.get()); i++) {
        auto record = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(array.get(), i));
        Port port;
        port.name        = StringValue(record, kSCPropUserDefinedName).value_or("");
        port.hardware    = StringValue(record, kSCPropNetInterfaceHardware).value_or("");
        port.type        = StringValue(record, kSCPropNetInterfaceType).value_or("");
        port.device      = StringValue(record, kSCPropNetInterfaceDeviceName).value_or("");
        port.subType     = StringValue(record, kSCPropNetInterfaceSubType);
        port.macAddress  = StringValue(record, kSCPropMACAddress);
        port.variant     = StringValue(record, kVaviVAZPortHardwareVariantKey);
        port.sortOrder   = IntegerValue(record, kVaviVAZPortSortOrderKey);
        port.modemOnHold = IntegerValue(record, kSCPropNetInterfaceSupportsModemOnHold);
        port.record      = Ref<CFDictionaryRef>::retain(record);
        ports.push_back(std::move(port));
    }
    return ports;
}

const Port &ResolvePort(const std::vector<Port> &ports, const std::string &nameOrDevice)
{
    for (const Port &port : ports)
        if (port.device == nameOrDevice) return port;
    std::vector<const Port *> named;
    for (const Port &port : ports)
        if (port.name == nameOrDevice) named.push_back(&port);
    if (named.size() == 1) return *named.front();
    if (named.empty())
        throw Failure("the machine has no port named " + Quote(nameOrDevice) +
                      " and none with that device (see 'vz-netsetup ports')");
    std::string devices;
    for (const Port *port : named)
        devices += (devices.empty() ? "" : ", ") + port->device;
    throw Failure("the name " + Quote(nameOrDevice) +
                  " is ambiguous: " + std::to_string(named.size()) + " ports have it (" + devices +
                  "); name one by its device");
}

std::string ResolveDevice(const std::vector<Port> &ports, const std::vector<Service> &services,
                          const std::string &nameOrDevice)
{
    for (const Service &service : services)
        if (service.device == nameOrDevice) return nameOrDevice;
    return ResolvePort(ports, nameOrDevice).device;
}

namespace {

void ListPorts(Context &context)
{
    std::vector<Port> ports = ReadPorts();
    if (context.json) {
        Json list = Json::array();
        for (const Port &port : ports) {
            Json json;
            json["name"]          = port.name;
            json["device"]        = port.device;
            json["hardware"]      = port.hardware;
            json["type"]          = port.type;
            json["subtype"]       = Nullable(port.subType);
            json["mac_address"]   = Nullable(port.macAddress);
            json["variant"]       = Nullable(port.variant);
            json["modem_on_hold"] = port.modemOnHold.value_or(0) != 0;
            list.push_back(std::move(json));
        }
        Json document;
        document["ports"] = std::move(list);
        Emit(context, document);
        return;
    }
    Table table({"NAME", "DEVICE", "HARDWARE", "MAC ADDRESS"});
    for (const Port &port : ports)
        table.Add({Cell(port.name), Cell(port.device), Cell(port.hardware), Cell(port.macAddress)});
    context.out += table.Text();
}

struct AddArguments {
    std::string port, name;
    bool        named = false; // --name was given
};

void AddService(Context &context, const AddArguments &args)
{
    std::string name = args.named ? CheckNewName(args.name) : std::string();
    // The registry is read before the store is locked.
    std::vector<Port> ports = ReadPorts();
    const Port       &port  = ResolvePort(ports, args.port);
    const char       *why   = nullptr;
    if (MoreSCCheckPortRecord(port.record.get(), &why) != noErr)
        throw Failure("no service can be made for the port " + port.device + ": " + why);

    StoreSession         session(context, StoreSession::Kind::Change);
    Location             location = SelectedLocation(context);
    std::vector<Service> services = ReadServices(location);
    if (!args.named) name = port.name;
    CheckServiceNameFree(services, location, name);
    MendServiceOrder(context, location);
    const std::string what  = "cannot add a service for the port " + port.device;
    Ref<CFStringRef>  setID = NewString(location.id);
    Ref<CFStringRef>  newID;
    Check(MoreSCNewService(setID.get(), port.record.get(), newID.put()), what);
    if (name != port.name)
        Check(MoreSCRenameService(setID.get(), newID.get(), NewString(name).get()), what);
    Service service  = ReadService(location, Utf8(newID.get()));
    service.position = services.size() + 1; // appended to the service order
    location         = RereadLocation(location);
    session.Finish();
    ReportService(context, location, service,
                  "Added the service " + Describe(service) + " for the port " + port.device +
                      " to location " + Describe(location) + ".");
}

} // namespace

void AddPortsCommand(CLI::App &app, Context &context)
{
    CLI::App *ports =
        app.add_subcommand("ports", "list the machine's ports in the scanner's order");
    Bind(ports, context, ListPorts);
}

void AddServiceAddCommand(CLI::App &service, Context &context)
{
    auto      args = std::make_shared<AddArguments>();
    CLI::App *add  = service.add_subcommand(
         "add", "add a new service for a port, at the end of the service order");
    add->add_option("PORT", args->port, "the port's device name (en0) or its name")->required();
    CLI::Option *name =
        add->add_option("--name", args->name, "the service's name (default: the port's)")
            ->type_name("NAME");
    Bind(add, context, [args, name](Context &c) {
        args->named = name->count() > 0;
        AddService(c, *args);
    });
}

} // namespace netsetup
