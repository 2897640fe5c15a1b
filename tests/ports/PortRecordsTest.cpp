// PortRecordsTest.cpp: the port array over generated registries: its order
// across every sort value and, within one value, by localised name; which
// devices are ports and which are skipped without an error; MAC addresses;
// modem-on-hold support; and what fails the whole scan.
#include "PortTestSupport.h"

#include <cstdio>

namespace {

using vztest::Data;
using vztest::Integer;
using vztest::NetworkPort;
using vztest::Node;
using vztest::SerialPort;
using vztest::String;

const std::string kMac6 = Data({0x00, 0x0a, 0x95, 0x9d, 0x68, 0x16});

class PortRecords : public vztest::PortScan {};

TEST_F(PortRecords, EverySortValueInOrderWithEqualValuesByLocalisedName)
{
    // Registry order is scrambled on purpose: only the sort makes the order.
    Machine({
        NetworkPort("en2",
                    {{"IOProviderClass", String("IOUSBInterface")}, {"IOMACAddress", kMac6}}),
        SerialPort(false, "KeySerial1", "keyserial1"),
        NetworkPort("en1", {{"IOClass", String("AirPortPCI")}}),
        SerialPort(true, "modem", "modem"),
        NetworkPort("fw0", {{"IOMACAddress", Data({0, 0x11, 0x22, 0xff, 0xfe, 0x33, 0x44, 0x55})}},
                    {}, "IOFireWireIP", Integer(144)),
        SerialPort(false, "IrDA-IrCOMM", "irda-ircomm"),
        NetworkPort("en3", {{"IOProviderClass", String("IOPCIDevice")}},
                    {{"slot-name", Data("SLOT-B1", true)}}),
        SerialPort(false, "usbmodem", "usbmodem5"),
        SerialPort(true, "usbmodem", "usbmodem1a21"),
        NetworkPort("en4", {}, {{"name", Data("radio", true)}}),
        SerialPort(false, "Bluetooth-Modem", "Bluetooth-Modem"),
        SerialPort(false, "printer", "printer"),
        NetworkPort("en0", {{"IOProviderClass", String("IOPCIDevice")}, {"IOMACAddress", kMac6}}),
        SerialPort(true, "wwan", "wwan0"),
        SerialPort(false, "modem", "serial-modem"),
        NetworkPort("fw1", {}, {}, "IOFireWireIP", Integer(144)),
        SerialPort(true, "modem-printer", "modem-printer"),
    });
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Internal Modem|Modem|modem|0",
                           "USB Modem|Modem|usbmodem1a21|1",
                           "Modem/Printer Port|Modem|modem-printer|2",
                           "wwan-port|Modem|wwan0|2 IOTTYBaseName=wwan",
                           "Bluetooth|Modem|Bluetooth-Modem|3 HardwareVariant=Bluetooth",
                           "IrDA Modem Port|Modem|irda-ircomm|4 HardwareVariant=IrDA-IrCOMM",
                           // Localised, not by code unit: lower case "k" first.
                           "keyserial1-port|Modem|keyserial1|5 IOTTYBaseName=keyserial1",
                           "Modem Port|Modem|serial-modem|5",
                           "Printer Port|Modem|printer|5",
                           "USB Modem|Modem|usbmodem5|5",
                           "Built-in Ethernet|Ethernet|en0|6 MACAddress=00:0a:95:9d:68:16",
                           "Built-in FireWire|FireWire|fw0|7 MACAddress=00:11:22:ff:fe:33:44:55",
                           "PCI Ethernet Slot 2|Ethernet|en3|8 slot-name=2",
                           "Ethernet Adaptor (fw1)|FireWire|fw1|9 BSD Name=fw1",
                           "AirPort|AirPort|en1|10",
                           "Wireless Network Adaptor|Ethernet|en4|11",
                           "Ethernet Adaptor (en2)|Ethernet|en2|12 BSD Name=en2 "
                           "MACAddress=00:0a:95:9d:68:16",
                       }));

    // Two USB modems and more share sort value 1: by name as people sort.
    std::vector<Node> modems;
    int               n = 0;
    for (const char *product : {"Zorro", "alpha", "\xc3\x89mile", "Beta"})
        modems.push_back(SerialPort(true, "wwan", "wwan" + std::to_string(n++),
                                    {{"Product Name", String(product)}}));
    Machine(modems);
    EXPECT_EQ(Lines(),
              (std::vector<std::string>{"alpha|Modem|wwan1|1", "Beta|Modem|wwan3|1",
                                        "\xc3\x89mile|Modem|wwan2|1", "Zorro|Modem|wwan0|1"}));
}

TEST_F(PortRecords, DevicesThatAreNoPortsAreSkippedWithoutAnError)
{
    Machine({
        NetworkPort("ppp0", {}, {}, "IONetworkInterface", Integer(23)),
        NetworkPort("lo0", {}, {}, "IONetworkInterface", ""),
        NetworkPort("en7", {}, {}, "IOEthernetInterface", String("6")),
        NetworkPort("en8", {}, {}, "IOEthernetInterface", Integer(6 + (1LL << 32))),
        SerialPort(true, "modem", "hidden-by-device", {{"HiddenPort", Integer(0)}}),
        SerialPort(false, "serial", "hidden-itself", {}, {{"HiddenPort", String("no")}}),
        SerialPort(false, "irda", "irda"),
        SerialPort(false, "", "no-base-name"),
        SerialPort(false, "IrDA", "IrDA"), // not exactly "irda": a port
        NetworkPort("en5"),
    });
    EXPECT_EQ(Lines(), (std::vector<std::string>{"irda-port|Modem|IrDA|5 IOTTYBaseName=irda",
                                                 "Ethernet Adaptor (en5)|Ethernet|en5|12 "
                                                 "BSD Name=en5"}));

    std::remove(Path(vztest::kRegistryPath).c_str()); // no snapshot: no ports
    EXPECT_EQ(Lines(), std::vector<std::string>{});
}

TEST_F(PortRecords, MACAddressesAndModemOnHold)
{
    // An address of another length reaches no record; the port stays.
    Machine({
        NetworkPort("en1", {{"IOMACAddress", kMac6}}),
        NetworkPort("en2", {{"IOMACAddress", Data({1, 2, 3, 4, 5, 6, 7, 8})}}),
        NetworkPort("en3"),
        NetworkPort("en4", {{"IOMACAddress", Data({1, 2, 3, 4, 5, 6, 7})}}),
        NetworkPort("en5", {{"IOMACAddress", Data(std::vector<uint8_t>{})}}),
        SerialPort(true, "wwan", "v92", {{"V92Modem", Integer(1)}}),
        SerialPort(true, "wwan", "v92-self", {{"V92Modem", Integer(1)}},
                   {{"V92Modem", Integer(0)}}),
        SerialPort(true, "wwan", "v92-text", {{"V92Modem", String("yes")}}),
    });
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "wwan-port|Modem|v92|2 IOTTYBaseName=wwan SupportsModemOnHold=1",
                           "wwan-port|Modem|v92-self|2 IOTTYBaseName=wwan SupportsModemOnHold=0",
                           "wwan-port|Modem|v92-text|2 IOTTYBaseName=wwan",
                           "Ethernet Adaptor (en1)|Ethernet|en1|12 BSD Name=en1 "
                           "MACAddress=00:0a:95:9d:68:16",
                           "Ethernet Adaptor (en2)|Ethernet|en2|12 BSD Name=en2 "
                           "MACAddress=01:02:03:04:05:06:07:08",
                           "Ethernet Adaptor (en3)|Ethernet|en3|12 BSD Name=en3",
                           "Ethernet Adaptor (en4)|Ethernet|en4|12 BSD Name=en4",
                           "Ethernet Adaptor (en5)|Ethernet|en5|12 BSD Name=en5",
                       }));
}

TEST_F(PortRecords, ANetworkInterfaceWithoutABSDNameFailsTheScan)
{
    Machine({SerialPort(true, "modem", "modem"), NetworkPort("")});
    std::vector<std::string> lines;
    EXPECT_EQ(Scan(&lines), kVaviVAZPortErrorNoName);
    EXPECT_TRUE(lines.empty());
}

} // namespace
