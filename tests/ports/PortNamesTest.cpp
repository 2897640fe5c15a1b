// PortNamesTest.cpp: the user-visible names: every network and serial rule
// with the sort value it sets and the placeholder values it stores, the slot
// table on either side of 10.2, and the client's name callback.
#include "PortTestSupport.h"

namespace {

using vztest::Data;
using vztest::Integer;
using vztest::NetworkPort;
using vztest::Node;
using vztest::SerialPort;
using vztest::String;

const std::pair<std::string, std::string> kPCI{"IOProviderClass", String("IOPCIDevice")};

class PortNames : public vztest::PortScan {
  protected:
    struct Row {
        const char *version;
        Node        device;
        std::string line;
    };
    void ExpectNames(const std::vector<Row> &rows)
    {
        for (const Row &row : rows) {
            SCOPED_TRACE(row.line);
            SetVersion(row.version);
            Machine({row.device});
            EXPECT_EQ(Lines(), std::vector<std::string>{row.line});
        }
    }
};

TEST_F(PortNames, NetworkRules)
{
    ExpectNames({
        {"10.4", NetworkPort("en0", {kPCI}, {{"slot-name", Data("SLOT-A1", true)}}),
         "Built-in Ethernet|Ethernet|en0|6"},
        {"10.4", NetworkPort("en1", {kPCI}, {{"slot-name", Data("SLOT-B1", true)}}),
         "PCI Ethernet Slot 2|Ethernet|en1|8 slot-name=2"},
        {"10.1.9", NetworkPort("en1", {kPCI}, {{"slot-name", Data("SLOT-B1", true)}}),
         "PCI Ethernet Slot B1|Ethernet|en1|8 slot-name=B1"},
        {"10.2", NetworkPort("en1", {kPCI}, {{"slot-name", String("SLOT-J12")}}),
         "PCI Ethernet Slot 1|Ethernet|en1|8 slot-name=1"},
        {"10.4", NetworkPort("en1", {kPCI}, {{"slot-name", String("D")}}),
         "PCI Ethernet Slot 4|Ethernet|en1|8 slot-name=4"},
        {"10.4", NetworkPort("en1", {kPCI}, {{"slot-name", String("SLOT-a1")}}),
         "PCI Ethernet Slot a1|Ethernet|en1|8 slot-name=a1"},
        {"10.4",
         NetworkPort("en1", {kPCI}, {{"slot-name", Data(std::string("SLOT-7\0", 7), true)}}),
         "PCI Ethernet Slot 7|Ethernet|en1|8 slot-name=7"},
        {"10.4", NetworkPort("en1", {kPCI}),
         "PCI Ethernet Slot unknown|Ethernet|en1|8 slot-name=unknown"},
        {"10.4", NetworkPort("en1", {kPCI}, {{"slot-name", Integer(3)}}),
         "PCI Ethernet Slot unknown|Ethernet|en1|8 slot-name=unknown"},
        {"10.4",
         NetworkPort("en1", {kPCI},
                     {{"slot-name", Data("SLOT-A1", true)}, {"IOChildIndex", Integer(0)}}),
         "PCI Ethernet Slot 1, Port 1|Ethernet|en1|8 IOChildIndex=1 slot-name=1"},
        {"10.4",
         NetworkPort("en1", {kPCI}, {{"slot-name", String("C1")}, {"IOChildIndex", Integer(3)}}),
         "PCI Ethernet Slot 3, Port 4|Ethernet|en1|8 IOChildIndex=4 slot-name=3"},
        {"10.4",
         NetworkPort("en1", {kPCI}, {{"slot-name", String("C1")}, {"IOChildIndex", String("0")}}),
         "PCI Ethernet Slot 3|Ethernet|en1|8 slot-name=3"},
        {"10.4",
         NetworkPort("en1", {kPCI},
                     {{"slot-name", String("C1")}, {"IOChildIndex", Integer(1LL << 40)}}),
         "PCI Ethernet Slot 3|Ethernet|en1|8 slot-name=3"},
        {"10.4", NetworkPort("en1", {kPCI}, {}, "IO80211Interface"), "AirPort|AirPort|en1|10"},
        {"10.4", NetworkPort("en1", {{"IOClass", String("AirPortPCI")}}), "AirPort|AirPort|en1|10"},
        {"10.4", NetworkPort("en1", {{"IOClass", String("AirportPCI")}}),
         "Ethernet Adaptor (en1)|Ethernet|en1|12 BSD Name=en1"},
        {"10.4", NetworkPort("en1", {kPCI}, {{"name", Data("radio", true)}}),
         "Wireless Network Adaptor|Ethernet|en1|11"},
        {"10.4", NetworkPort("en1", {}, {{"name", String("radio")}}),
         "Wireless Network Adaptor|Ethernet|en1|11"},
        {"10.4", NetworkPort("en1", {}, {{"name", Data("radios", true)}}),
         "Ethernet Adaptor (en1)|Ethernet|en1|12 BSD Name=en1"},
        {"10.4", NetworkPort("en1", {kPCI}, {{"name", Data("ethernet", true)}}),
         "PCI Ethernet Slot unknown|Ethernet|en1|8 slot-name=unknown"},
        {"10.4", NetworkPort("en2", {{"IOProviderClass", String("IOUSBInterface")}}),
         "Ethernet Adaptor (en2)|Ethernet|en2|12 BSD Name=en2"},
        {"10.4", NetworkPort("fw0", {kPCI}, {}, "IOFireWireIP", Integer(144)),
         "Built-in FireWire|FireWire|fw0|7"},
        {"10.4", NetworkPort("fw1", {}, {}, "IOFireWireIP", Integer(144)),
         "Ethernet Adaptor (fw1)|FireWire|fw1|9 BSD Name=fw1"},
    });
}

TEST_F(PortNames, SerialRules)
{
    const vztest::Props product{{"Product Name", String("ZORVEX Mobile")}};
    ExpectNames({
        {"10.4", SerialPort(true, "modem", "modem"), "Internal Modem|Modem|modem|0"},
        {"10.4", SerialPort(false, "modem", "modem"), "Modem Port|Modem|modem|5"},
        {"10.4", SerialPort(false, "printer", "printer"), "Printer Port|Modem|printer|5"},
        {"10.4", SerialPort(false, "modem-printer", "mp"), "Modem/Printer Port|Modem|mp|5"},
        {"10.4", SerialPort(true, "IrDA-IrCOMM", "ir"),
         "IrDA Modem Port|Modem|ir|2 HardwareVariant=IrDA-IrCOMM"},
        {"10.4", SerialPort(false, "Bluetooth-PDA-Sync", "bt"),
         "Bluetooth|Modem|bt|3 HardwareVariant=Bluetooth"},
        {"10.4", SerialPort(false, "BluetoothSerial", "bt"),
         "bluetoothserial-port|Modem|bt|3 HardwareVariant=Bluetooth "
         "IOTTYBaseName=bluetoothserial"},
        {"10.4", SerialPort(true, "usbmodem", "usbmodem1"), "USB Modem|Modem|usbmodem1|1"},
        {"10.4", SerialPort(false, "usbmodem", "usbmodem1"), "USB Modem|Modem|usbmodem1|5"},
        {"10.4", SerialPort(true, "ZORVEXMobile", "ZORVEXMobile-Modem", product),
         "ZORVEX Mobile|Modem|ZORVEXMobile-Modem|1"},
        {"10.4", SerialPort(false, "ZORVEXMobile", "ZORVEXMobile-Diag", product),
         "ZORVEX Mobile|Modem|ZORVEXMobile-Diag|5"},
        {"10.4", SerialPort(true, "modem", "modem", product), "Internal Modem|Modem|modem|0"},
        {"10.4", SerialPort(false, "KeySerial1", "ks"),
         "keyserial1-port|Modem|ks|5 IOTTYBaseName=keyserial1"},
    });
}

// The callback's part: what it saw, what it answers.
struct CallbackPlan {
    OSStatus    error        = noErr;
    const char *nameTemplate = nullptr; // nullptr: none stored
    const char *slotName     = nullptr; // stored in the record first
};
CallbackPlan             gPlan;
std::vector<std::string> gDefaults; // the default templates the callback saw

OSStatus PlannedName(io_object_t interface, CFMutableDictionaryRef interfaceInfo,
                     CFStringRef defaultName, CFStringRef *nameTemplate)
{
    EXPECT_NE(interface, IO_OBJECT_NULL);
    EXPECT_EQ(*nameTemplate, nullptr);
    gDefaults.push_back(defaultName != NULL ? vztest::Utf8(defaultName) : "(null)");
    if (gPlan.slotName != nullptr) {
        vztest::Str slot(gPlan.slotName);
        CFDictionarySetValue(interfaceInfo, CFSTR("slot-name"), slot.get());
    }
    if (gPlan.nameTemplate != nullptr)
        *nameTemplate =
            CFStringCreateWithCString(nullptr, gPlan.nameTemplate, kCFStringEncodingUTF8);
    return gPlan.error;
}

TEST_F(PortNames, TheCallbackSeesTheDefaultAndMaySupplyATemplate)
{
    VaviVAZSetPortNameCallback(PlannedName);
    struct Row {
        CallbackPlan plan;
        Node         device;
        OSStatus     err;
        std::string  line;
        std::string  defaultName;
    };
    const Row rows[] = {
        {{noErr, "%4$@"},
         SerialPort(false, "Serial", "tty.serial"),
         noErr,
         "serial|Modem|tty.serial|5 IOTTYBaseName=serial",
         "%4$@-port"},
        {{noErr, nullptr},
         SerialPort(false, "Serial", "tty.serial"),
         noErr,
         "serial-port|Modem|tty.serial|5 IOTTYBaseName=serial",
         "%4$@-port"},
        {{-3, "ignored"}, NetworkPort("en0"), -3, "", "Built-in Ethernet"},
        {{noErr, "%1$@ and %1$@"},
         NetworkPort("en2"),
         noErr,
         "en2 and %1$@|Ethernet|en2|12 BSD Name=en2",
         "Ethernet Adaptor (%1$@)"},
        {{noErr, "Card in %2$@", "left"},
         SerialPort(false, "usbmodem", "u"),
         noErr,
         "Card in left|Modem|u|5 slot-name=left",
         "USB Modem"},
        // The built-in naming failed (a device "name" of no known kind): the
        // callback sees no default and may still name the port.
        {{noErr, "Mine"},
         NetworkPort("en1", {}, {{"name", Integer(1)}}),
         noErr,
         "Mine|Ethernet|en1|12",
         "(null)"},
        {{noErr, nullptr},
         NetworkPort("en1", {}, {{"name", Integer(1)}}),
         kVaviVAZPortErrorNoName,
         "",
         "(null)"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.defaultName);
        gPlan = row.plan;
        gDefaults.clear();
        Machine({row.device});
        std::vector<std::string> lines;
        EXPECT_EQ(Scan(&lines), row.err);
        EXPECT_EQ(lines, row.line.empty() ? std::vector<std::string>{}
                                          : std::vector<std::string>{row.line});
        EXPECT_EQ(gDefaults, std::vector<std::string>{row.defaultName});
    }

    VaviVAZSetPortNameCallback(NULL);
    Machine({SerialPort(false, "Serial", "tty.serial")});
    EXPECT_EQ(Lines(),
              std::vector<std::string>{"serial-port|Modem|tty.serial|5 IOTTYBaseName=serial"});
}

} // namespace
