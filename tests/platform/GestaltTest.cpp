// GestaltTest.cpp: the system version packed from SystemVersion.plist, and
// what a missing or damaged file reads as.
#include "StoreTestSupport.h"

#include <CoreServices/CoreServices.h>

using namespace vztest;

namespace {

class Gestalt : public TempRoot {};

TEST_F(Gestalt, SystemVersionFromTheFile)
{
    struct Row {
        const char *content; // the whole file; NULL for no file
        SInt32      version;
    };
    auto version = [](const char *text) {
        return PlistText(std::string("<dict><key>ProductVersion</key><string>") + text +
                         "</string></dict>");
    };
    const std::string files[] = {
        version("10.4.11"),
        version("10.2"),
        version("10.3.9"),
        version("10.5.0"),
        version("10.12.3"),
        version("9.2.2"),
        version("10"),
        version("10.4.x"),
        version("10..4"),
        version("100.1"),
        version(""),
        version("10.4.1.2"),
        PlistText("<dict><key>ProductVersion</key><integer>10</integer></dict>"),
        PlistText("<dict/>"),
        "not a property list",
    };
    const SInt32 expected[] = {
        0x1049, 0x1020, 0x1039, 0x1050, 0x1093, 0x0922, 0x1000, 0x1068,
        0x1068, 0x1068, 0x1068, 0x1068, 0x1068, 0x1068, 0x1068,
    };
    static_assert(std::size(files) == std::size(expected));
    for (size_t i = 0; i < std::size(files); i++) {
        SCOPED_TRACE(files[i]);
        Write(kSystemVersionPath, files[i]);
        SInt32 response = 0;
        EXPECT_EQ(::Gestalt(gestaltSystemVersion, &response), noErr);
        EXPECT_EQ(response, expected[i]);
    }
    std::filesystem::remove(Path(kSystemVersionPath));
    SInt32 response = 0;
    EXPECT_EQ(::Gestalt(gestaltSystemVersion, &response), noErr);
    EXPECT_EQ(response, 0x1068);
    EXPECT_EQ(::Gestalt('xxxx', &response), gestaltUndefSelectorErr);
}

} // namespace
