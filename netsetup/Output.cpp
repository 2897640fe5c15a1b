// Output.cpp: tables, labelled lines, the JSON forms of locations and
// services, and the checked write to standard output.
#include "Output.h"

#include <VZPlatformTools.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace netsetup {

namespace {

// The columns a terminal gives the text: a wide character takes two, a
// combining mark none.
size_t Width(const std::string &text)
{
    return static_cast<size_t>(VZTextGetColumns(text.data(), text.size()));
}

std::string Join(const std::vector<std::string> &items, const std::string &separator)
{
    std::string out;
    for (const std::string &item : items)
        out += (out.empty() ? "" : separator) + item;
    return out;
}

std::string IPv4Text(const Service &service)
{
    if (!service.hasIPv4) return "-";
    std::string method = Cell(service.ipv4Method);
    if (!service.ipv4Active) return "off (" + method + ")";
    return method;
}

} // namespace

Table::Table(std::vector<std::string> header)
{
    right_.assign(header.size(), false);
    rows_.push_back(std::move(header));
}

void Table::RightAlign(size_t column)
{
    right_.at(column) = true;
}

void Table::Add(std::vector<std::string> row)
{
    row.resize(rows_.front().size());
    rows_.push_back(std::move(row));
}

std::string Table::Text() const
{
    std::vector<size_t> widths(rows_.front().size(), 0);
    for (const auto &row : rows_)
        for (size_t i = 0; i < row.size(); i++)
            widths[i] = std::max(widths[i], Width(row[i]));
    std::string out;
    for (const auto &row : rows_) {
        std::string line;
        for (size_t i = 0; i < row.size(); i++) {
            if (i > 0) line += "  ";
            std::string padding(widths[i] - Width(row[i]), ' ');
            if (right_[i])
                line += padding + row[i];
            else
                line += row[i] + (i + 1 < row.size() ? padding : "");
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        out += line + "\n";
    }
    return out;
}

std::string Labelled(const std::vector<std::pair<std::string, std::string>> &lines)
{
    size_t width = 0;
    for (const auto &[label, value] : lines)
        width = std::max(width, Width(label));
    std::string out;
    for (const auto &[label, value] : lines)
        out += label + ":" + std::string(width - Width(label) + 2, ' ') + value + "\n";
    return out;
}

std::string Cell(const std::optional<std::string> &text)
{
    if (!text || text->empty()) return "-";
    return vztool::printable(*text);
}

Json Nullable(const std::optional<std::string> &text)
{
    if (!text) return nullptr;
    return *text;
}

Json ToJson(const Location &location)
{
    Json json;
    json["id"]            = location.id;
    json["name"]          = Nullable(location.name);
    json["current"]       = location.current;
    json["service_count"] = location.serviceCount;
    json["damaged"]       = location.damage.has_value();
    return json;
}

Json ToJson(const Service &service)
{
    Json json;
    json["id"]       = service.id;
    json["name"]     = Nullable(service.name);
    json["position"] = service.position;
    json["active"]   = service.active;
    json["device"]   = Nullable(service.device);
    json["hardware"] = Nullable(service.hardware);
    json["type"]     = Nullable(service.type);
    json["subtype"]  = Nullable(service.subType);
    json["ipv4"]     = nullptr;
    if (service.hasIPv4) {
        Json &ipv4           = json["ipv4"];
        ipv4["method"]       = Nullable(service.ipv4Method);
        ipv4["active"]       = service.ipv4Active;
        ipv4["addresses"]    = service.addresses;
        ipv4["subnet_masks"] = service.subnetMasks;
        ipv4["router"]       = Nullable(service.router);
    }
    json["dns"] = nullptr;
    if (service.hasDNS) {
        json["dns"]["servers"]        = service.dnsServers;
        json["dns"]["search_domains"] = service.searchDomains;
    }
    json["proxies"] = nullptr;
    if (service.hasProxies) {
        Json &proxies          = json["proxies"];
        proxies["ftp_passive"] = service.ftpPassive;
        proxies["exceptions"]  = service.proxyExceptions;
        for (const ProxySetting &setting : service.proxies) {
            Json &kind      = proxies[setting.kind];
            kind["enabled"] = setting.enabled;
            kind["host"]    = Nullable(setting.host);
            kind["port"]    = setting.port ? Json(*setting.port) : Json(nullptr);
        }
    }
    json["ppp"] = nullptr;
    if (service.hasPPP) {
        Json &ppp             = json["ppp"];
        ppp["active"]         = service.pppActive;
        ppp["remote_address"] = Nullable(service.remoteAddress);
        ppp["account"]        = Nullable(service.account);
        ppp["apn"]            = Nullable(service.apn);
        ppp["has_password"]   = service.hasPassword;
    }
    json["modem"] = nullptr;
    if (service.hasModem) json["modem"]["script"] = Nullable(service.script);
    json["entities"] = service.entities;
    json["damaged"]  = service.damage.has_value();
    return json;
}

Json ToJson(const std::vector<Service> &services)
{
    Json array = Json::array();
    for (const Service &service : services)
        array.push_back(ToJson(service));
    return array;
}

namespace {

// One line: scripts read it whole, and a 1,000-service listing is half the
// size it would be indented. Text from the store that is not UTF-8 cannot
// reach here (every string is converted from UTF-16), but a replacement beats
// an exception.
std::string Dump(const Json &value)
{
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

} // namespace

void Emit(Context &context, const Json &document)
{
    context.out += Dump(document);
    context.out += '\n';
}

void EmitServices(Context &context, const Location &location, const std::vector<Service> &services)
{
    // The library writes the document with an empty list last, which ends in
    // "[]}"; the services go between the brackets, each written by the
    // library too, separated by commas.
    Json document;
    document["location"]   = ToJson(location);
    document["services"]   = Json::array();
    std::string       head = Dump(document);
    const std::string tail = "]}";
    head.resize(head.size() - tail.size());
    context.out += head;
    for (size_t i = 0; i < services.size(); i++) {
        if (i > 0) context.out += ',';
        context.out += Dump(ToJson(services[i]));
    }
    context.out += tail;
    context.out += '\n';
}

std::string ServicesTable(const std::vector<Service> &services)
{
    // The first column marks an inactive service with "-", and one that
    // cannot be read with "!".
    Table table({"", "#", "NAME", "DEVICE", "HARDWARE", "IPV4", "ID"});
    table.RightAlign(1);
    for (const Service &service : services)
        table.Add({service.damage   ? "!"
                   : service.active ? ""
                                    : "-",
                   service.position != 0 ? std::to_string(service.position) : "-",
                   Cell(service.name), Cell(service.device), Cell(service.hardware),
                   IPv4Text(service), service.id});
    return table.Text();
}

std::string PPPText(const Service &service)
{
    if (!service.hasPPP) return "-";
    std::vector<std::string> parts;
    if (service.remoteAddress)
        parts.push_back("number " + vztool::printable(*service.remoteAddress));
    if (service.account) parts.push_back("account " + Quote(*service.account));
    if (service.apn) parts.push_back("APN " + Quote(*service.apn));
    parts.push_back(service.hasPassword ? "password set" : "no password");
    std::string text = Join(parts, ", ");
    return service.pppActive ? text : "off (" + text + ")";
}

std::string ServiceLines(const Service &service, const Location &location, size_t serviceCount)
{
    std::vector<std::string> ipv4 = {IPv4Text(service)};
    if (service.hasIPv4 && !service.addresses.empty()) {
        ipv4.push_back(Join(service.addresses, ", "));
        if (!service.subnetMasks.empty()) ipv4.push_back("mask " + Join(service.subnetMasks, ", "));
    }
    if (service.hasIPv4 && service.router) ipv4.push_back("router " + *service.router);

    std::string dns = "-";
    if (service.hasDNS) {
        std::vector<std::string> parts;
        if (!service.dnsServers.empty()) parts.push_back(Join(service.dnsServers, ", "));
        if (!service.searchDomains.empty())
            parts.push_back("search " + Join(service.searchDomains, ", "));
        dns = parts.empty() ? "none" : Join(parts, "; ");
    }

    std::string proxies = "-";
    if (service.hasProxies) {
        std::vector<std::string> parts;
        for (const ProxySetting &setting : service.proxies) {
            if (!setting.enabled) continue;
            std::string part = std::string(setting.kind) + " " + Cell(setting.host);
            if (setting.port) {
                part += ':';
                part += std::to_string(*setting.port);
            }
            parts.push_back(part);
        }
        if (parts.empty()) parts.push_back("none");
        if (service.ftpPassive) parts.push_back("FTP passive");
        proxies = Join(parts, ", ");
    }

    std::string where = Cell(location.name) + (location.current ? " (current)" : "");
    return Labelled({
        {"Name", Cell(service.name)},
        {"ID", service.id},
        {"Location", where},
        {"Position", service.position != 0
                         ? std::to_string(service.position) + " of " + std::to_string(serviceCount)
                         : "none: the service order leaves it out"},
        {"Active", service.active ? "yes" : "no"},
        {"Device", Cell(service.device)},
        {"Hardware", Cell(service.hardware)},
        {"Type", Cell(service.type) +
                     (service.subType ? " (" + vztool::printable(*service.subType) + ")" : "")},
        {"IPv4", vztool::printable(Join(ipv4, " "))},
        {"DNS", vztool::printable(dns)},
        {"Proxies", vztool::printable(proxies)},
        {"PPP", PPPText(service)},
        {"Modem", !service.hasModem ? "-"
                  : service.script  ? "script " + Quote(*service.script)
                                    : "no script"},
        {"Entities",
         service.entities.empty() ? "-" : vztool::printable(Join(service.entities, ", "))},
    });
}

bool WriteStandardOutput(const std::string &text)
{
    errno = 0;
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), stdout) != text.size())
        return false;
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

} // namespace netsetup
