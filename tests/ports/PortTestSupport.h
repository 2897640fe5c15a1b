// PortTestSupport.h: what the scanner tests share: the devices of generated
// registries (a network port under its controller and device, a serial client
// under its device), a fixture that writes a machine's registry and system
// version, and the scan's port records as one line of text each.
//
// A line reads "name|hardware|device name|sort value", then " key=value" for
// each other key of the record in key order (the interface type and subtype
// left out: every scan checks them against the hardware instead, with the
// other rules every consumer of a port record relies on).
#ifndef VZ_TESTS_PORTS_PORTTESTSUPPORT_H
#define VZ_TESTS_PORTS_PORTTESTSUPPORT_H

#include "RegistryText.h"
#include "TestSupport.h"

#include "SystemVersionTesting.h"
#include "VaviVAZPortScanner.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <map>
#include <string>
#include <vector>

namespace vztest {

using Props = std::vector<std::pair<std::string, std::string>>;

// A network interface (with "BSD Name" and "IOInterfaceType" unless empty)
// under an IOEthernetController under an IOPCIDevice.
inline Node NetworkPort(const std::string &bsdName, Props controller = {}, Props device = {},
                        const std::string &interfaceClass = "IOEthernetInterface",
                        const std::string &typeXml        = Integer(6))
{
    Node interface(interfaceClass, bsdName);
    if (!bsdName.empty()) interface.Set("BSD Name", String(bsdName));
    if (!typeXml.empty()) interface.Set("IOInterfaceType", typeXml);
    Node controllerNode("IOEthernetController");
    controllerNode.properties = std::move(controller);
    controllerNode.Add(interface);
    Node deviceNode("IOPCIDevice");
    deviceNode.properties = std::move(device);
    deviceNode.Add(controllerNode);
    return deviceNode;
}

// A modem or RS-232 serial client (with "IOTTYBaseName" and "IOTTYDevice"
// unless empty) under an IOUSBDevice.
inline Node SerialPort(bool modem, const std::string &baseName, const std::string &ttyDevice,
                       Props device = {}, Props client = {})
{
    Node clientNode("IOSerialBSDClient", ttyDevice);
    clientNode.Set("IOSerialBSDClientType",
                   String(modem ? "IOModemSerialStream" : "IORS232SerialStream"));
    if (!baseName.empty()) clientNode.Set("IOTTYBaseName", String(baseName));
    if (!ttyDevice.empty()) clientNode.Set("IOTTYDevice", String(ttyDevice));
    for (auto &property : client)
        clientNode.properties.push_back(property);
    Node deviceNode("IOUSBDevice");
    deviceNode.properties = std::move(device);
    deviceNode.Add(clientNode);
    return deviceNode;
}

inline std::string ValueText(CFTypeRef value)
{
    if (CFGetTypeID(value) == CFStringGetTypeID()) return Utf8(static_cast<CFStringRef>(value));
    if (CFGetTypeID(value) == CFNumberGetTypeID()) {
        long long number = 0;
        CFNumberGetValue(static_cast<CFNumberRef>(value), kCFNumberLongLongType, &number);
        return std::to_string(number);
    }
    return "?";
}

// The rules every port record keeps, whatever the registry held.
inline void ExpectRecordRules(const std::map<std::string, std::string> &record)
{
    auto has = [&](const char *key) { return record.count(key) != 0; };
    auto at  = [&](const char *key) { return has(key) ? record.at(key) : std::string(); };
    for (const char *key : {"UserDefinedName", "Hardware", "Type", "DeviceName", "SortOrder"})
        EXPECT_TRUE(has(key)) << key;
    std::string hardware = at("Hardware");
    EXPECT_TRUE(hardware == "Ethernet" || hardware == "AirPort" || hardware == "Modem" ||
                hardware == "FireWire")
        << hardware;
    EXPECT_EQ(at("Type") == "PPP", has("SubType"));
    EXPECT_EQ(hardware == "Modem", at("Type") == "PPP");
    EXPECT_EQ(at("Type") == "FireWire", hardware == "FireWire");
    if (hardware == "Modem") {
        EXPECT_FALSE(has("MACAddress"));
        EXPECT_EQ(at("SubType"), "PPPSerial");
    }
    if (has("HardwareVariant")) {
        EXPECT_EQ(hardware, "Modem");
    }
}

class PortScan : public TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        SetVersion("10.4.11");
    }
    void TearDown() override
    {
        VaviVAZSetPortNameCallback(NULL);
        TempRoot::TearDown();
    }
    void SetVersion(const char *productVersion)
    {
        WriteSystemVersion(productVersion);
        MoreSCTestingForgetSystemVersion();
    }
    // A registry whose root holds these devices, in this order.
    void Machine(const std::vector<Node> &devices)
    {
        Node root;
        for (const Node &device : devices)
            root.Add(device);
        Write(kRegistryPath, RegistryXml(root));
    }

    // Scans; on success the records as lines, on failure none (and the
    // array must be NULL).
    static OSStatus Scan(std::vector<std::string> *lines)
    {
        CFArrayRef ports = NULL;
        OSStatus   err   = MoreSCCreatePortArray(&ports);
        lines->clear();
        EXPECT_EQ(err == noErr, ports != NULL);
        for (CFIndex i = 0; ports != NULL && i < CFArrayGetCount(ports); i++) {
            auto port = static_cast<CFDictionaryRef>(CFArrayGetValueAtIndex(ports, i));
            std::map<std::string, std::string> record;
            CFIndex                            count = CFDictionaryGetCount(port);
            std::vector<const void *>          keys(count), values(count);
            CFDictionaryGetKeysAndValues(port, keys.data(), values.data());
            for (CFIndex k = 0; k < count; k++)
                record[Utf8(static_cast<CFStringRef>(keys[k]))] = ValueText(values[k]);
            ExpectRecordRules(record);
            std::string line = record["UserDefinedName"] + "|" + record["Hardware"] + "|" +
                               record["DeviceName"] + "|" + record["SortOrder"];
            for (const auto &[key, value] : record) {
                if (key != "UserDefinedName" && key != "Hardware" && key != "DeviceName" &&
                    key != "SortOrder" && key != "Type" && key != "SubType")
                    line += " " + key + "=" + value;
            }
            lines->push_back(line);
        }
        if (ports != NULL) CFRelease(ports);
        return err;
    }
    static std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        EXPECT_EQ(Scan(&lines), noErr);
        return lines;
    }
};

} // namespace vztest

#endif
