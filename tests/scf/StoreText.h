// StoreText.h: XML text of small network preferences stores and dynamic
// stores for the model's tests and the probe's whole-process tests.
#ifndef VZ_TESTS_SCF_STORETEXT_H
#define VZ_TESTS_SCF_STORETEXT_H

#include <string>
#include <utility>
#include <vector>

namespace storetext {

inline std::string Escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

inline std::string Str(const std::string &text)
{
    return "<string>" + Escape(text) + "</string>";
}
inline std::string Int(long long value)
{
    return "<integer>" + std::to_string(value) + "</integer>";
}

inline std::string Dict(const std::vector<std::pair<std::string, std::string>> &entries)
{
    std::string out = "<dict>";
    for (const auto &[key, value] : entries)
        out += "<key>" + Escape(key) + "</key>" + value;
    return out + "</dict>";
}

inline std::string Array(const std::vector<std::string> &items)
{
    std::string out = "<array>";
    for (const auto &item : items)
        out += item;
    return out + "</array>";
}

inline std::string Document(const std::string &root)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n" + root +
           "\n</plist>\n";
}

// One service of a set: the set's key for it (the local ID), the shared
// service its link points to (by ID; empty means no link), and its interface's
// device name (empty means an Interface entity without one; interface false
// means no Interface entity at all).
struct Service {
    std::string localID;
    std::string deviceName;
    std::string targetID  = ""; // defaults to localID
    bool        interface = true;
    bool        linked    = true;
};

struct Set {
    std::string              id;
    std::vector<Service>     services;
    std::vector<std::string> order; // the order's entries, already as XML values
    bool                     hasOrder   = true;
    std::string              orderValue = ""; // the whole ServiceOrder value, instead of order
};

// The order of a set listing its services as strings, in the given order.
inline std::vector<std::string> OrderOf(const std::vector<Service> &services)
{
    std::vector<std::string> order;
    for (const auto &service : services)
        order.push_back(Str(service.localID));
    return order;
}

inline std::string Store(const std::vector<Set> &sets, const std::string &currentSetValue)
{
    std::vector<std::pair<std::string, std::string>> networkServices, setEntries;
    for (const auto &set : sets) {
        std::vector<std::pair<std::string, std::string>> links;
        for (const auto &service : set.services) {
            std::string target = service.targetID.empty() ? service.localID : service.targetID;
            if (service.linked) {
                links.push_back(
                    {service.localID, Dict({{"__LINK__", Str("/NetworkServices/" + target)}})});
            }
            std::vector<std::pair<std::string, std::string>> content;
            if (service.interface) {
                std::vector<std::pair<std::string, std::string>> interface;
                if (!service.deviceName.empty())
                    interface.push_back({"DeviceName", Str(service.deviceName)});
                interface.push_back({"Type", Str("PPP")});
                content.push_back({"Interface", Dict(interface)});
            }
            content.push_back({"UserDefinedName", Str("Service " + target)});
            networkServices.push_back({target, Dict(content)});
        }
        std::vector<std::pair<std::string, std::string>> ipv4;
        if (set.hasOrder) {
            ipv4.push_back(
                {"ServiceOrder", set.orderValue.empty() ? Array(set.order) : set.orderValue});
        }
        std::vector<std::pair<std::string, std::string>> network = {
            {"Global", Dict({{"IPv4", Dict(ipv4)}})}, {"Service", Dict(links)}};
        setEntries.push_back(
            {set.id, Dict({{"Network", Dict(network)}, {"UserDefinedName", Str(set.id)}})});
    }
    std::vector<std::pair<std::string, std::string>> root;
    if (!currentSetValue.empty()) root.push_back({"CurrentSet", currentSetValue});
    root.push_back({"NetworkServices", Dict(networkServices)});
    root.push_back({"Sets", Dict(setEntries)});
    return Document(Dict(root));
}

// The usual test store: current set S1 with the given services, in that
// order, and a second set S2 holding one service "OTHER" on en9.
inline std::string Store(const std::vector<Service> &services)
{
    return Store({{"S1", services, OrderOf(services)}, {"S2", {{"OTHER", "en9"}}, {Str("OTHER")}}},
                 Str("/Sets/S1"));
}

// A dynamic store in which each listed service is known to the connection
// controller (its Setup: PPP entity), with the given status in its State: PPP
// entry, or no State: entry at all when the status is absent.
struct Connection {
    std::string serviceID;
    bool        hasState = true;
    long long   status   = 2;
};

inline std::string DynamicStore(const std::vector<Connection> &connections)
{
    std::vector<std::pair<std::string, std::string>> keys;
    for (const auto &connection : connections) {
        std::string prefix = "/Network/Service/" + connection.serviceID + "/PPP";
        keys.push_back({"Setup:" + prefix, Dict({{"DialOnDemand", Int(0)}})});
        if (connection.hasState) {
            keys.push_back({"State:" + prefix, Dict({{"Status", Int(connection.status)}})});
        }
    }
    return Document(Dict(keys));
}

} // namespace storetext

#endif
