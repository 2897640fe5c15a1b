// StoreGenerator.cpp: builds a store as objects and writes it with the
// platform's writer, which makes the text canonical by construction.
//
// Service i takes kind i % 5; the other sets link to every service too, each
// in its own rotation of the order, so a store's size grows with services
// times sets.
#include "StoreGenerator.h"

#include <CoreFoundation/CoreFoundation.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace vzbench {

namespace {

// One owned reference, released at scope exit.
class Owned {
  public:
    explicit Owned(CFTypeRef ref = nullptr) : ref_(ref) {}
    ~Owned()
    {
        if (ref_ != nullptr) CFRelease(ref_);
    }
    Owned(Owned &&other) noexcept : ref_(other.ref_) { other.ref_ = nullptr; }
    Owned(const Owned &)               = delete;
    Owned    &operator=(const Owned &) = delete;
    CFTypeRef get() const { return ref_; }

  private:
    CFTypeRef ref_;
};

CFStringRef Text(const std::string &text)
{
    return CFStringCreateWithCString(nullptr, text.c_str(), kCFStringEncodingUTF8);
}

CFMutableDictionaryRef NewDict()
{
    return CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                     &kCFTypeDictionaryValueCallBacks);
}

CFMutableArrayRef NewArray()
{
    return CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
}

// Setters that take over (release) the value they are given.
void Put(CFMutableDictionaryRef dict, const char *key, CFTypeRef value)
{
    CFStringRef name = Text(key);
    CFDictionarySetValue(dict, name, value);
    CFRelease(name);
    CFRelease(value);
}
void PutString(CFMutableDictionaryRef dict, const char *key, const std::string &value)
{
    Put(dict, key, Text(value));
}
void PutInt(CFMutableDictionaryRef dict, const char *key, int value)
{
    Put(dict, key, CFNumberCreate(nullptr, kCFNumberIntType, &value));
}
void PutBool(CFMutableDictionaryRef dict, const char *key, bool value)
{
    Put(dict, key, CFRetain(value ? kCFBooleanTrue : kCFBooleanFalse));
}
void PutStrings(CFMutableDictionaryRef dict, const char *key,
                const std::vector<std::string> &values)
{
    CFMutableArrayRef array = NewArray();
    for (const std::string &value : values) {
        CFStringRef text = Text(value);
        CFArrayAppendValue(array, text);
        CFRelease(text);
    }
    Put(dict, key, array);
}

class Generator {
  public:
    explicit Generator(const StoreShape &shape) : shape_(shape), random_(shape.seed) {}

    std::string store()
    {
        std::vector<std::string> ids;
        for (size_t i = 0; i < shape_.services; ++i)
            ids.push_back(uuid());
        std::vector<std::string> sets;
        for (size_t i = 0; i < shape_.sets; ++i)
            sets.push_back(uuid());

        CFMutableDictionaryRef root     = NewDict();
        CFMutableDictionaryRef services = NewDict();
        for (size_t i = 0; i < ids.size(); ++i) {
            bool modem = shape_.modemLast && i + 1 == ids.size();
            Put(services, ids[i].c_str(), service(i, modem));
        }
        Put(root, "NetworkServices", services);

        CFMutableDictionaryRef setsDict = NewDict();
        for (size_t s = 0; s < sets.size(); ++s) {
            // The current set keeps the order as made (the modem last); the
            // others rotate it.
            std::vector<std::string> order(ids);
            if (s > 0 && !order.empty())
                std::rotate(order.begin(), order.begin() + (s * 7) % order.size(), order.end());
            Put(setsDict, sets[s].c_str(), set(s, order));
        }
        Put(root, "Sets", setsDict);
        if (!sets.empty()) PutString(root, "CurrentSet", "/Sets/" + sets[0]);

        CFMutableDictionaryRef system    = NewDict();
        CFMutableDictionaryRef network   = NewDict();
        CFMutableDictionaryRef hostNames = NewDict();
        PutString(hostNames, "LocalHostName", "Bench-Machine");
        Put(network, "HostNames", hostNames);
        Put(system, "Network", network);
        CFMutableDictionaryRef names = NewDict();
        PutString(names, "ComputerName", "Bench Machine");
        PutInt(names, "ComputerNameEncoding", 0);
        Put(system, "System", names);
        Put(root, "System", system);

        CFDataRef   xml = CFPropertyListCreateXMLData(nullptr, root);
        std::string text;
        if (xml != nullptr) {
            text.assign(reinterpret_cast<const char *>(CFDataGetBytePtr(xml)),
                        static_cast<size_t>(CFDataGetLength(xml)));
            CFRelease(xml);
        }
        CFRelease(root);
        return text;
    }

  private:
    std::string uuid()
    {
        char text[40];
        std::snprintf(text, sizeof text, "%08X-%04X-%04X-%04X-%012llX", unsigned(random_()),
                      unsigned(random_() & 0xFFFF), unsigned((random_() & 0x0FFF) | 0x4000),
                      unsigned((random_() & 0x3FFF) | 0x8000),
                      static_cast<unsigned long long>(random_() & 0xFFFFFFFFFFFFull));
        return text;
    }
    std::string address(unsigned a, unsigned b, size_t c, size_t d)
    {
        return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c % 256) + "." +
               std::to_string(d % 254 + 1);
    }
    std::string mac(size_t i)
    {
        char text[24];
        std::snprintf(text, sizeof text, "00:1b:63:%02zx:%02zx:%02x", (i >> 8) & 0xFF, i & 0xFF,
                      unsigned(random_() & 0xFF));
        return text;
    }

    CFMutableDictionaryRef interface(const std::string &device, const char *hardware,
                                     const char *type, const char *subType, const std::string &name)
    {
        CFMutableDictionaryRef entity = NewDict();
        PutString(entity, "DeviceName", device);
        PutString(entity, "Hardware", hardware);
        PutString(entity, "Type", type);
        if (subType != nullptr) PutString(entity, "SubType", subType);
        PutString(entity, "UserDefinedName", name);
        return entity;
    }

    CFMutableDictionaryRef proxies(size_t i)
    {
        CFMutableDictionaryRef entity = NewDict();
        PutStrings(entity, "ExceptionsList", {"*.local", "169.254/16"});
        PutInt(entity, "FTPPassive", 1);
        if (i % 3 == 0) {
            PutInt(entity, "HTTPEnable", 1);
            PutInt(entity, "HTTPPort", 8080);
            PutString(entity, "HTTPProxy", address(10, 0, i, 1));
            PutInt(entity, "HTTPSEnable", 0);
            PutInt(entity, "SOCKSEnable", 0);
        }
        return entity;
    }

    CFMutableDictionaryRef dns(size_t i)
    {
        CFMutableDictionaryRef entity = NewDict();
        if (i % 2 == 0) {
            PutStrings(entity, "ServerAddresses", {address(10, 1, i, 53), address(10, 2, i, 53)});
            PutStrings(entity, "SearchDomains", {"example.net", "corp.example.net"});
        }
        return entity;
    }

    CFMutableDictionaryRef ppp(size_t i, bool overEthernet)
    {
        CFMutableDictionaryRef entity = NewDict();
        PutInt(entity, "ACSPEnabled", 0);
        PutString(entity, "AuthName", "user" + std::to_string(i));
        // Passwords are stored encoded, as data.
        std::vector<UInt8> secret(12);
        for (UInt8 &byte : secret)
            byte = static_cast<UInt8>(random_());
        Put(entity, "AuthPassword", CFDataCreate(nullptr, secret.data(), CFIndex(secret.size())));
        PutInt(entity, "CommDisplayTerminalWindow", 0);
        PutInt(entity, "CommRedialCount", 1);
        PutInt(entity, "CommRedialEnabled", 1);
        PutInt(entity, "CommRedialInterval", 5);
        if (!overEthernet) PutString(entity, "CommRemoteAddress", "*99#");
        PutInt(entity, "CommUseTerminalScript", 0);
        PutInt(entity, "DialOnDemand", 0);
        PutInt(entity, "DisconnectOnIdle", 1);
        PutInt(entity, "DisconnectOnIdleTimer", 600);
        PutInt(entity, "DisconnectOnLogout", 1);
        PutInt(entity, "DisconnectOnSleep", 1);
        PutInt(entity, "IPCPCompressionVJ", 1);
        PutInt(entity, "IdleReminder", 0);
        PutInt(entity, "IdleReminderTimer", 1800);
        PutInt(entity, "LCPEchoEnabled", overEthernet ? 1 : 0);
        PutInt(entity, "LCPEchoFailure", 4);
        PutInt(entity, "LCPEchoInterval", 10);
        PutString(entity, "Logfile", "/var/log/ppp.log");
        PutInt(entity, "VerboseLogging", 0);
        return entity;
    }

    CFMutableDictionaryRef modem()
    {
        CFMutableDictionaryRef entity = NewDict();
        PutString(entity, "ConnectionScript", "ZORVEX Mobile");
        PutInt(entity, "DataCompression", 1);
        PutString(entity, "DialMode", "WaitForDialTone");
        PutInt(entity, "ErrorCorrection", 1);
        PutInt(entity, "HoldCallWaitingAudibleAlert", 1);
        PutInt(entity, "HoldDisconnectOnAnswer", 0);
        PutInt(entity, "HoldEnabled", 0);
        PutInt(entity, "HoldReminder", 1);
        PutInt(entity, "HoldReminderTime", 10);
        PutInt(entity, "PulseDial", 0);
        PutInt(entity, "Speaker", 1);
        return entity;
    }

    CFMutableDictionaryRef ipv4(const char *method, size_t i)
    {
        CFMutableDictionaryRef entity = NewDict();
        PutString(entity, "ConfigMethod", method);
        if (std::string(method) == "Manual") {
            PutStrings(entity, "Addresses", {address(192, 168, i, i)});
            PutStrings(entity, "SubnetMasks", {"255.255.255.0"});
            PutString(entity, "Router", address(192, 168, i, 0));
        } else if (std::string(method) == "DHCP" && i % 4 == 0) {
            PutString(entity, "DHCPClientID", "client-" + std::to_string(i));
        }
        return entity;
    }

    // A service of a lean store: what a machine with few protocols configured
    // keeps, an interface and IPv4 by DHCP.
    CFMutableDictionaryRef leanService(size_t i, bool zorvexModem)
    {
        CFMutableDictionaryRef entities = NewDict();
        std::string            n        = std::to_string(i);
        std::string            device   = zorvexModem ? "ZORVEXMobile-Modem" : "en" + n;
        std::string            name     = zorvexModem ? "ZORVEX Mobile" : "Ethernet " + n;
        Put(entities, "Interface", interface(device, "Ethernet", "Ethernet", nullptr, name));
        Put(entities, "IPv4", ipv4("DHCP", 1));
        PutString(entities, "UserDefinedName", name);
        return entities;
    }

    CFMutableDictionaryRef service(size_t i, bool zorvexModem)
    {
        if (shape_.lean) return leanService(i, zorvexModem);
        CFMutableDictionaryRef entities = NewDict();
        std::string            n        = std::to_string(i);
        CFMutableDictionaryRef ipv6     = NewDict();
        PutString(ipv6, "ConfigMethod", "Automatic");
        Put(entities, "IPv6", ipv6);
        Put(entities, "DNS", dns(i));
        Put(entities, "Proxies", proxies(i));

        std::string name;
        unsigned    kind = zorvexModem ? 2 : unsigned(i % 5);
        switch (kind) {
        case 0: { // Ethernet with AppleTalk
            name = "Ethernet " + n;
            Put(entities, "Interface", interface("en" + n, "Ethernet", "Ethernet", nullptr, name));
            Put(entities, "IPv4", ipv4("DHCP", i));
            CFMutableDictionaryRef appleTalk = NewDict();
            PutString(appleTalk, "ConfigMethod", "Node");
            PutString(appleTalk, "DefaultZone", "Zone " + n);
            Put(entities, "AppleTalk", appleTalk);
            CFMutableDictionaryRef ethernet = NewDict();
            PutString(ethernet, "MACAddress", mac(i));
            PutStrings(ethernet, "MediaOptions", {"full-duplex"});
            PutString(ethernet, "MediaSubType", "autoselect");
            Put(entities, "Ethernet", ethernet);
            break;
        }
        case 1: { // AirPort
            name = "Wi-Fi " + n;
            Put(entities, "Interface", interface("en" + n, "AirPort", "Ethernet", nullptr, name));
            Put(entities, "IPv4", ipv4("DHCP", i));
            CFMutableDictionaryRef airPort = NewDict();
            PutBool(airPort, "AllowNetCreation", true);
            PutString(airPort, "JoinMode", "Automatic");
            PutString(airPort, "MACAddress", mac(i));
            PutBool(airPort, "PowerEnabled", true);
            PutString(airPort, "PreferredNetwork", "Network " + n);
            PutBool(airPort, "RememberJoinedNetworks", i % 2 == 0);
            Put(entities, "AirPort", airPort);
            break;
        }
        case 2: { // dial-up modem
            std::string device = zorvexModem ? "ZORVEXMobile-Modem" : "modem" + n;
            name               = zorvexModem ? "ZORVEX Mobile" : "Modem " + n;
            Put(entities, "Interface", interface(device, "Modem", "PPP", "PPPSerial", name));
            Put(entities, "IPv4", ipv4("PPP", i));
            Put(entities, "PPP", ppp(i, false));
            Put(entities, "Modem", modem());
            break;
        }
        case 3: { // PPPoE
            name = "PPPoE " + n;
            Put(entities, "Interface", interface("en" + n, "Ethernet", "PPP", "PPPoE", name));
            Put(entities, "IPv4", ipv4("PPP", i));
            Put(entities, "PPP", ppp(i, true));
            if (i % 2 == 1) PutInt(entities, "__INACTIVE__", 1);
            break;
        }
        default: { // a manually configured Ethernet
            name = "Office " + n;
            Put(entities, "Interface", interface("en" + n, "Ethernet", "Ethernet", nullptr, name));
            Put(entities, "IPv4", ipv4("Manual", i));
            break;
        }
        }
        PutString(entities, "UserDefinedName", name);
        return entities;
    }

    CFMutableDictionaryRef set(size_t index, const std::vector<std::string> &order)
    {
        CFMutableDictionaryRef set     = NewDict();
        CFMutableDictionaryRef network = NewDict();
        CFMutableDictionaryRef global  = NewDict();
        CFMutableDictionaryRef ipv4    = NewDict();
        PutStrings(ipv4, "ServiceOrder", order);
        Put(global, "IPv4", ipv4);
        Put(network, "Global", global);
        CFMutableDictionaryRef links = NewDict();
        for (const std::string &id : order) {
            CFMutableDictionaryRef link = NewDict();
            PutString(link, "__LINK__", "/NetworkServices/" + id);
            Put(links, id.c_str(), link);
        }
        Put(network, "Service", links);
        Put(set, "Network", network);
        PutString(set, "UserDefinedName",
                  index == 0 ? "Automatic" : "Location " + std::to_string(index));
        return set;
    }

    StoreShape      shape_;
    std::mt19937_64 random_;
};

} // namespace

std::string GenerateStore(const StoreShape &shape)
{
    return Generator(shape).store();
}

size_t ServicesForSize(size_t targetBytes)
{
    // Size grows linearly with the service count; two samples give the line.
    StoreShape small, large;
    small.services    = 10;
    large.services    = 60;
    double smallBytes = double(GenerateStore(small).size());
    double largeBytes = double(GenerateStore(large).size());
    double perService = (largeBytes - smallBytes) / double(large.services - small.services);
    double fixed      = smallBytes - perService * double(small.services);
    double services   = (double(targetBytes) - fixed) / perService;
    return services < 1 ? 1 : static_cast<size_t>(services + 0.5);
}

} // namespace vzbench
