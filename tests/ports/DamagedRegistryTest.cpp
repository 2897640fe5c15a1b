// DamagedRegistryTest.cpp: the scan over registries no writer would produce:
// damaged snapshot files and values of the wrong kind fail the scan with a
// status and no array, never an abort; texts from the registry that look
// like name templates are names as they stand.
#include "PortTestSupport.h"

#include <filesystem>

namespace {

using vztest::Data;
using vztest::Integer;
using vztest::NetworkPort;
using vztest::Node;
using vztest::SerialPort;
using vztest::String;

class DamagedRegistry : public vztest::PortScan {};

TEST_F(DamagedRegistry, DamagedFilesFailTheScan)
{
    std::vector<std::string> lines;
    for (const auto &file :
         std::filesystem::directory_iterator(vztest::TestDataPath("ioregistry"))) {
        if (file.path().extension() != ".plist") continue;
        SCOPED_TRACE(file.path().filename().string());
        Write(vztest::kRegistryPath, vztest::ReadFile(file.path()));
        EXPECT_EQ(Scan(&lines), kIOReturnError);
    }
    // A folder where the file should be.
    std::filesystem::remove(Path(vztest::kRegistryPath));
    std::filesystem::create_directories(Path(vztest::kRegistryPath));
    EXPECT_EQ(Scan(&lines), kIOReturnError);
}

TEST_F(DamagedRegistry, ValuesOfTheWrongKindFailTheScan)
{
    Node looseInterface("IOEthernetInterface", "en1");
    looseInterface.Set("BSD Name", String("en1")).Set("IOInterfaceType", Integer(6));
    Node bsdNumber                                         = NetworkPort("en1");
    bsdNumber.children[0].children[0].properties[0].second = Integer(1); // "BSD Name"
    struct Row {
        const char *what;
        Node        device;
        OSStatus    err;
    };
    const Row rows[] = {
        {"BSD name a number", bsdNumber, kIOReturnError},
        {"MAC address a string", NetworkPort("en1", {{"IOMACAddress", String("00:0a")}}),
         kIOReturnError},
        {"IOClass a number", NetworkPort("en1", {{"IOClass", Integer(1)}}), kIOReturnError},
        {"IOProviderClass data",
         NetworkPort("en1", {{"IOProviderClass", Data("IOPCIDevice", true)}}), kIOReturnError},
        {"device name a number", NetworkPort("en1", {}, {{"name", Integer(1)}}),
         kVaviVAZPortErrorNoName},
        {"interface at the root", looseInterface, kIOReturnNoDevice},
        {"base name a number", SerialPort(false, "", "s", {}, {{"IOTTYBaseName", Integer(1)}}),
         kIOReturnError},
        {"no device name", SerialPort(false, "serial", ""), kIOReturnNotFound},
        {"device name data",
         SerialPort(false, "serial", "", {}, {{"IOTTYDevice", Data("s", true)}}), kIOReturnError},
        {"product name data", SerialPort(true, "wwan", "w", {{"Product Name", Data("P", false)}}),
         kIOReturnError},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Machine({SerialPort(true, "modem", "modem"), row.device});
        std::vector<std::string> lines;
        EXPECT_EQ(Scan(&lines), row.err);
    }
}

TEST_F(DamagedRegistry, RegistryTextsAreNeverTemplates)
{
    Machine({
        SerialPort(true, "wwan", "w", {{"Product Name", String("Modem %1$@ %4$@")}}),
        NetworkPort("%2$@"),
    });
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "Modem %1$@ %4$@|Modem|w|1",
                           "Ethernet Adaptor (%2$@)|Ethernet|%2$@|12 BSD Name=%2$@",
                       }));
}

} // namespace
