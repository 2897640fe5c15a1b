// NewServiceDeathTest.cpp: a port record that breaks the rules of a port
// record stops MoreSCNewService before it opens the store, with the agreed
// expression texts, and MoreSCCheckPortRecord reports it; one case per text.
#include "EditStore.h"
#include "VaviVAZ.h"

namespace {

using NewServiceDeathTest = vztest::TempRoot;
using storetext::Str;

// An Ethernet record, or a modem record, with key set to value (an empty
// value: key left out).
std::string Record(bool modem, const std::string &key, const std::string &value)
{
    edit::Entries record = {{"UserDefinedName", Str("Port")},
                            {"Hardware", Str(modem ? "Modem" : "Ethernet")},
                            {"Type", Str(modem ? "PPP" : "Ethernet")},
                            {"DeviceName", Str("port0")},
                            {modem ? "SubType" : "MACAddress",
                             Str(modem ? "PPPSerial" : "02:00:00:00:00:01")}},
                  out;
    for (const auto &entry : record) {
        if (entry.first != key) out.push_back(entry);
    }
    if (!value.empty()) out.push_back({key, value});
    return storetext::Dict(out);
}

TEST_F(NewServiceDeathTest, PortRecordsThatBreakTheRulesStopTheProcess)
{
    struct Case {
        const char *expression;
        std::string record; // empty: no record at all
    };
    const Case kCases[] = {
        {"portDict != NULL", ""},
        {"CFDictionaryContainsKey(portDict, kSCPropUserDefinedName)",
         Record(false, "UserDefinedName", "")},
        {"CFDictionaryContainsKey(portDict, kSCPropNetInterfaceHardware)",
         Record(false, "Hardware", "")},
        {"CFDictionaryContainsKey(portDict, kSCPropNetInterfaceType)", Record(false, "Type", "")},
        {"CFDictionaryContainsKey(portDict, kSCPropNetInterfaceDeviceName)",
         Record(false, "DeviceName", "")},
        {"CFEqual(hardware, kSCEntNetEthernet) || CFEqual(hardware, kSCEntNetAirPort) || "
         "CFEqual(hardware, kSCEntNetModem) || CFEqual(hardware, kSCEntNetFireWire)",
         Record(false, "Hardware", Str("IrDA"))},
        {"CFEqual(type, kSCValNetInterfaceTypeEthernet) || CFEqual(type, "
         "kSCValNetInterfaceTypePPP) || CFEqual(type, kSCValNetInterfaceTypeFireWire)",
         Record(false, "Type", Str("6to4"))},
        {"CFEqual(type, kSCValNetInterfaceTypePPP) == (subType != NULL)",
         Record(true, "SubType", "")},
        {"CFEqual(subType, kSCValNetInterfaceSubTypePPPSerial) || CFEqual(subType, "
         "kSCValNetInterfaceSubTypePPPoE)",
         Record(true, "SubType", Str("L2TP"))},
        {"CFEqual(hardware, kSCEntNetModem) == (mac == NULL)", Record(false, "MACAddress", "")},
        {"(variant == NULL) || CFEqual(hardware, kSCEntNetModem)",
         Record(false, "HardwareVariant", Str("Bluetooth"))},
        {"CFGetTypeID(name) == CFStringGetTypeID()",
         Record(false, "UserDefinedName", "<integer>1</integer>")},
        {"CFGetTypeID(deviceName) == CFStringGetTypeID()",
         Record(false, "DeviceName", "<integer>1</integer>")},
        {"(mac == NULL) || (CFGetTypeID(mac) == CFStringGetTypeID())",
         Record(false, "MACAddress", "<integer>1</integer>")},
    };
    for (const Case &c : kCases) {
        // The same rule, asked for instead of asserted, is a code and words.
        if (!c.record.empty()) {
            edit::Plist record(c.record);
            const char *reason = nullptr;
            EXPECT_EQ(MoreSCCheckPortRecord(record.dict(), &reason), kMoreSCErrorBadRequest);
            EXPECT_NE(reason, nullptr) << c.expression;
        }
        EXPECT_DEATH(
            {
                edit::Plist record(c.record.empty() ? "<string/>" : c.record);
                (void)MoreSCNewService(NULL, c.record.empty() ? NULL : record.dict(), NULL);
            },
            vztest::AssertionPattern(c.expression))
            << c.expression;
    }
}

} // namespace
