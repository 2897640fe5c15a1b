// ServiceSettings.cpp: the settings of one service: service ipv4, service
// dns and service proxy. New IPv4 and DNS entities are made by the entity
// builders from digests, so they take the form this system writes; a proxy is
// changed in the service's proxies entity, whose other settings stay.
#include "Output.h"
#include "ServiceEdit.h"

#include "MoreCFQ.h"
#include "VaviVAZ.h"
#include "VaviVAZDigest.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cstring>
#include <memory>
#include <span>

namespace netsetup {

namespace {

// A dotted-quad IPv4 address: four decimal numbers of 0 to 255 without
// leading zeros (which some readers take for octal). In network byte order.
std::optional<in_addr> ParseAddress(const std::string &text)
{
    unsigned char bytes[4] = {};
    const char   *p        = text.data();
    const char   *end      = text.data() + text.size();
    for (int i = 0; i < 4; i++) {
        if (i > 0) {
            if (p == end || *p != '.') return std::nullopt;
            p++;
        }
        const char *start  = p;
        unsigned    value  = 0;
        auto [next, error] = std::from_chars(p, end, value);
        if (error != std::errc() || next == start || next - start > 3 || value > 255 ||
            (next - start > 1 && *start == '0'))
            return std::nullopt;
        bytes[i] = static_cast<unsigned char>(value);
        p        = next;
    }
    if (p != end) return std::nullopt;
    in_addr address{};
    std::memcpy(&address.s_addr, bytes, 4);
    return address;
}

in_addr Address(const std::string &text, const char *what)
{
    std::optional<in_addr> address = ParseAddress(text);
    if (!address) throw UsageError(Quote(text) + " is not an IPv4 address (" + what + ")");
    return *address;
}

uint32_t HostOrder(in_addr address)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(&address.s_addr);
    return (uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) | (uint32_t(bytes[2]) << 8) |
           bytes[3];
}

// Stores the entity, unless the service holds an equal one: a setting made
// again writes nothing.
void SetEntity(ServiceEdit &edit, CFStringRef protocol, CFDictionaryRef entity,
               const std::string &what)
{
    Ref<CFDictionaryRef> old;
    if (MoreSCCopyEntity(edit.setID.get(), edit.serviceID.get(), protocol, old.put()) == noErr &&
        CFEqual(old.get(), entity))
        return;
    Check(MoreSCSetEntity(edit.setID.get(), edit.serviceID.get(), protocol, entity), what);
}

// ---------------------------------------------------------------------------
// service ipv4

struct IPv4Arguments {
    std::string              service, method;
    std::vector<std::string> values; // ADDRESS MASK [ROUTER], with manual only
};

std::string SetIPv4(ServiceEdit &edit, const IPv4Arguments &args)
{
    std::string what = "cannot set IPv4 of the service " + Describe(edit.service);
    if (args.method == "off") {
        // Off is the IPv4 entity marked inactive: its settings stay for when
        // it is switched on again. A service without one is off already.
        if (edit.service.hasIPv4)
            Check(
                MoreSCSetEntityActive(edit.setID.get(), edit.serviceID.get(), kSCEntNetIPv4, false),
                what);
        return "IPv4 of the service " + Describe(edit.service) + " is off.";
    }
    if (args.method == "ppp" && edit.service.type != std::string("PPP"))
        throw Failure(what +
                      ": ppp needs a PPP service (modem or PPPoE), and its interface type "
                      "is " +
                      Cell(edit.service.type));

    MoreSCIPv4Digest digest{};
    std::string      summary;
    if (args.method == "dhcp") {
        digest.configMethod = kSCValNetIPv4ConfigMethodDHCP;
        summary             = "DHCP";
    } else if (args.method == "ppp") {
        digest.configMethod = kSCValNetIPv4ConfigMethodPPP;
        summary             = "PPP";
    } else {
        digest.configMethod = kSCValNetIPv4ConfigMethodManual;
        digest.address      = Address(args.values[0], "ADDRESS");
        digest.subnetMask   = Address(args.values[1], "MASK");
        summary             = "Manual " + args.values[0] + " mask " + args.values[1];
        if (args.values.size() == 3) {
            digest.router = Address(args.values[2], "ROUTER");
            summary += " router " + args.values[2];
        }
    }
    Ref<CFMutableDictionaryRef> entity;
    Check(MoreSCCreateIPv4Entity(&digest, entity.put()), what);
    SetEntity(edit, kSCEntNetIPv4, entity.get(), what);
    return "IPv4 of the service " + Describe(edit.service) + ": " + summary + ".";
}

// The command line's own rules, checked before the store is opened.
void CheckIPv4Arguments(const IPv4Arguments &args)
{
    size_t count = args.values.size();
    if (args.method != "manual") {
        if (count != 0)
            throw UsageError(args.method + " takes no addresses, and " +
                             Quote(args.values.front()) + " was given");
        return;
    }
    if (count < 2) throw UsageError("manual needs ADDRESS and MASK");
    if (count > 3) throw UsageError("manual takes ADDRESS, MASK and ROUTER, and no more");
    uint32_t address = HostOrder(Address(args.values[0], "ADDRESS"));
    uint32_t mask    = HostOrder(Address(args.values[1], "MASK"));
    if (address == 0) throw UsageError("0.0.0.0 is no address for a service");
    // A mask is ones followed by zeros: inverted, plus one, a power of two.
    uint32_t hostBits = ~mask;
    if (mask == 0 || (hostBits & (hostBits + 1)) != 0)
        throw UsageError(Quote(args.values[1]) + " is not a subnet mask");
    if (count == 3 && HostOrder(Address(args.values[2], "ROUTER")) == 0)
        throw UsageError("0.0.0.0 is no router address");
}

// ---------------------------------------------------------------------------
// service dns

struct DNSArguments {
    std::string              service;
    std::vector<std::string> servers, domains;
};

void CheckDNSArguments(const DNSArguments &args)
{
    for (const std::string &server : args.servers)
        if (HostOrder(Address(server, "SERVER")) == 0)
            throw UsageError("0.0.0.0 is no DNS server address");
    for (const std::string &domain : args.domains) {
        if (domain.empty()) throw UsageError("a search domain is empty");
        if (!IsUtf8(domain))
            throw UsageError("the search domain " + Quote(domain) + " is not UTF-8");
        for (unsigned char c : domain)
            if (c <= 0x20 || c == 0x7F)
                throw UsageError("the search domain " + Quote(domain) +
                                 " holds a space or a control character");
    }
}

std::string SetDNS(ServiceEdit &edit, const DNSArguments &args)
{
    std::string                   what = "cannot set DNS of the service " + Describe(edit.service);
    std::vector<in_addr>          servers;
    std::vector<Ref<CFStringRef>> domains;
    std::vector<CFStringRef>      domainRefs;
    for (const std::string &server : args.servers)
        servers.push_back(Address(server, "SERVER"));
    for (const std::string &domain : args.domains) {
        domains.push_back(NewString(domain));
        domainRefs.push_back(domains.back().get());
    }
    MoreSCDNSDigest digest{};
    digest.serverAddressesCount = static_cast<UInt32>(servers.size());
    digest.serverAddresses      = servers.empty() ? nullptr : servers.data();
    digest.searchDomainsCount   = static_cast<UInt32>(domainRefs.size());
    digest.searchDomains        = domainRefs.empty() ? nullptr : domainRefs.data();
    Ref<CFMutableDictionaryRef> entity;
    Check(MoreSCCreateDNSEntity(&digest, entity.put()), what);
    SetEntity(edit, kSCEntNetDNS, entity.get(), what);

    std::string summary;
    for (const std::string &server : args.servers)
        summary += (summary.empty() ? "" : ", ") + server;
    if (summary.empty()) summary = "no servers";
    if (!args.domains.empty()) {
        summary += "; search ";
        for (size_t i = 0; i < args.domains.size(); i++)
            summary += (i > 0 ? ", " : "") + args.domains[i];
    }
    return "DNS of the service " + Describe(edit.service) + ": " + summary + ".";
}

// ---------------------------------------------------------------------------
// service proxy

struct ProxyArguments {
    std::string              service, kind;
    std::vector<std::string> values; // HOST PORT, or off
};

// The proxy kinds, as the builders list them.
std::span<const MoreSCProxyKind> ProxyKinds()
{
    CFIndex                count = 0;
    const MoreSCProxyKind *kinds = MoreSCGetProxyKinds(&count);
    return std::span(kinds, static_cast<size_t>(count));
}

const MoreSCProxyKind &KindNamed(const std::string &name)
{
    for (const MoreSCProxyKind &kind : ProxyKinds())
        if (name == kind.name) return kind;
    throw UsageError("unknown proxy kind " + Quote(name));
}

// The port, or 0 for off.
int ProxyPort(const ProxyArguments &args)
{
    if (args.values.size() == 1 && args.values[0] == "off") return 0;
    if (args.values.size() != 2) throw UsageError("give HOST and PORT, or off");
    const std::string &host = args.values[0];
    if (host.empty()) throw UsageError("the proxy host is empty");
    if (!IsUtf8(host)) throw UsageError("the proxy host " + Quote(host) + " is not UTF-8");
    for (unsigned char c : host)
        if (c <= 0x20 || c == 0x7F)
            throw UsageError("the proxy host " + Quote(host) +
                             " holds a space or a control "
                             "character");
    const std::string &text = args.values[1];
    int                port = 0;
    auto [end, error]       = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535)
        throw UsageError(Quote(text) + " is not a port number (1 to 65535)");
    return port;
}

std::string SetProxy(ServiceEdit &edit, const ProxyArguments &args)
{
    const MoreSCProxyKind &kind = KindNamed(args.kind);
    int                    port = ProxyPort(args);
    std::string            what =
        "cannot set the " + args.kind + " proxy of the service " + Describe(edit.service);

    Ref<CFMutableDictionaryRef> proxies;
    if (edit.service.hasProxies) {
        Check(MoreSCCopyEntityMutable(edit.setID.get(), edit.serviceID.get(), kSCEntNetProxies,
                                      proxies.put()),
              what);
    } else {
        // A service without proxies gets the entity a new service has.
        MoreSCProxiesDigest digest{};
        digest.ftpPassive = MoreSCIsTenTwoOrLater();
        Check(MoreSCCreateProxiesEntity(&digest, proxies.put()), what);
    }
    if (port != 0) {
        Check(CFQDictionarySetNumber(proxies.get(), kind.enableKey, 1), what);
        CFDictionarySetValue(proxies.get(), kind.proxyKey, NewString(args.values[0]).get());
        Check(CFQDictionarySetNumber(proxies.get(), kind.portKey, port), what);
    } else {
        // Off drops the host and port. A kind without an enable flag is off
        // already, as the builders leave it.
        if (CFDictionaryContainsKey(proxies.get(), kind.enableKey))
            Check(CFQDictionarySetNumber(proxies.get(), kind.enableKey, 0), what);
        CFDictionaryRemoveValue(proxies.get(), kind.proxyKey);
        CFDictionaryRemoveValue(proxies.get(), kind.portKey);
    }
    SetEntity(edit, kSCEntNetProxies, proxies.get(), what);
    std::string setting = port != 0 ? args.values[0] + ":" + std::to_string(port) : "off";
    return "The " + args.kind + " proxy of the service " + Describe(edit.service) + ": " + setting +
           ".";
}

const char *const kServiceHelp = "the service's name or ID";

} // namespace

void AddServiceSettingCommands(CLI::App &service, Context &context)
{
    auto      ipv4Args = std::make_shared<IPv4Arguments>();
    CLI::App *ipv4     = service.add_subcommand(
            "ipv4", "set a service's IPv4: dhcp, ppp, manual ADDRESS MASK [ROUTER], or off");
    ipv4->add_option("SERVICE", ipv4Args->service, kServiceHelp)->required();
    ipv4->add_option("METHOD", ipv4Args->method, "dhcp, ppp, manual or off")
        ->required()
        ->transform(
            CLI::IsMember({"dhcp", "ppp", "manual", "off"}, CLI::ignore_case).description(""));
    ipv4->add_option("ADDRESS", ipv4Args->values,
                     "with manual: the address, its subnet mask and optionally the router");
    Bind(ipv4, context, [ipv4Args](Context &c) {
        CheckIPv4Arguments(*ipv4Args);
        EditService(c, ipv4Args->service,
                    [ipv4Args](ServiceEdit &edit) { return SetIPv4(edit, *ipv4Args); });
    });

    auto      dnsArgs = std::make_shared<DNSArguments>();
    CLI::App *dns     = service.add_subcommand(
            "dns", "set a service's DNS servers and search domains (none: clear them)");
    dns->add_option("SERVICE", dnsArgs->service, kServiceHelp)->required();
    dns->add_option("SERVER", dnsArgs->servers, "DNS server addresses, in order");
    dns->add_option("--search", dnsArgs->domains, "search domains, in order")
        ->type_name("DOMAIN...");
    Bind(dns, context, [dnsArgs](Context &c) {
        CheckDNSArguments(*dnsArgs);
        EditService(c, dnsArgs->service,
                    [dnsArgs](ServiceEdit &edit) { return SetDNS(edit, *dnsArgs); });
    });

    auto      proxyArgs = std::make_shared<ProxyArguments>();
    CLI::App *proxy =
        service.add_subcommand("proxy", "set one proxy of a service: KIND HOST PORT, or KIND off");
    proxy->add_option("SERVICE", proxyArgs->service, kServiceHelp)->required();
    std::vector<std::string> kinds;
    std::string              kindHelp;
    for (const MoreSCProxyKind &kind : ProxyKinds()) {
        kindHelp += kinds.empty() ? "" : kinds.size() + 1 < ProxyKinds().size() ? ", " : " or ";
        kindHelp += kind.name;
        kinds.push_back(kind.name);
    }
    proxy->add_option("KIND", proxyArgs->kind, kindHelp)
        ->required()
        ->transform(CLI::IsMember(kinds, CLI::ignore_case).description(""));
    proxy->add_option("HOST", proxyArgs->values, "the proxy's host and port, or off")->required();
    Bind(proxy, context, [proxyArgs](Context &c) {
        ProxyPort(*proxyArgs);
        EditService(c, proxyArgs->service,
                    [proxyArgs](ServiceEdit &edit) { return SetProxy(edit, *proxyArgs); });
    });
}

} // namespace netsetup
