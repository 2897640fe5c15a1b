// ScriptTestSupport.h: what the catalogue tests share: the script folders of
// the four domains under a temporary root, the catalogue as UTF-8 names, and
// a machine whose registry holds a built-in modem with a given hold value.
#ifndef VZ_TESTS_CCL_SCRIPTTESTSUPPORT_H
#define VZ_TESTS_CCL_SCRIPTTESTSUPPORT_H

#include "RegistryText.h"
#include "TestSupport.h"

#include "Internal.h"
#include "SystemVersionTesting.h"
#include "VaviVAZCCLScanner.h"
#include "VaviVAZPortScanner.h"

#include <filesystem>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace vztest {

inline std::string LoginName()
{
    struct passwd *entry = getpwuid(geteuid());
    return entry != nullptr ? entry->pw_name : "";
}

class ScriptRoot : public TempRoot {
  protected:
    static constexpr const char *kNetwork = "Network/Library/Modem Scripts";
    static constexpr const char *kLocal   = "Library/Modem Scripts";
    static constexpr const char *kSystem  = "System/Library/Modem Scripts";
    static std::string UserFolder() { return "Users/" + LoginName() + "/Library/Modem Scripts"; }

    void SetUp() override
    {
        TempRoot::SetUp();
        SetVersion("10.4.11");
    }
    void TearDown() override
    {
        MoreSCSetDefaultCCL(NULL);
        VaviVAZSetPortNameCallback(NULL);
        VZClearSyscallFailure();
        VZClearAllocationFailure();
        TempRoot::TearDown();
    }

    void SetVersion(const char *productVersion)
    {
        WriteSystemVersion(productVersion);
        MoreSCTestingForgetSystemVersion();
    }
    void AddScript(const std::string &folder, const std::string &name) const
    {
        Write(folder + "/" + name, "! a modem script\n");
    }
    void AddScripts(const std::string &folder, const std::vector<std::string> &names) const
    {
        for (const std::string &name : names)
            AddScript(folder, name);
    }
    std::string ItemPath(const std::string &folder, const std::string &name) const
    {
        return Path(folder) + "/" + name;
    }
    void RemoveFolders() const
    {
        for (const char *top : {"Users", "Network", "Library", "System/Library/Modem Scripts"})
            std::filesystem::remove_all(Path(top));
    }

    // The catalogue's names; the call must succeed and hand out an array.
    static std::vector<std::string> Scripts()
    {
        Out<CFArrayRef> scripts;
        EXPECT_EQ(MoreSCCreateCCLArray(scripts.put(), NULL), noErr);
        EXPECT_NE(scripts.get(), nullptr);
        return Strings(scripts.get());
    }
    // The default's index in the catalogue; the call must succeed.
    static CFIndex DefaultIndex()
    {
        Out<CFArrayRef> scripts;
        CFIndex         index = -1;
        EXPECT_EQ(MoreSCCreateCCLArray(scripts.put(), &index), noErr);
        return index;
    }

    // A registry with the built-in modem ("modem", with "V92Modem" when
    // holdXml is not empty) and a USB modem that supports hold.
    void ModemMachine(const std::string &holdXml) const
    {
        Node root;
        Node internal("IOSerialBSDClient", "modem");
        internal.Set("IOSerialBSDClientType", String("IOModemSerialStream"))
            .Set("IOTTYBaseName", String("modem"))
            .Set("IOTTYDevice", String("modem"));
        if (!holdXml.empty()) internal.Set("V92Modem", holdXml);
        Node usb("IOSerialBSDClient", "usbmodem1");
        usb.Set("IOSerialBSDClientType", String("IOModemSerialStream"))
            .Set("IOTTYBaseName", String("usbmodem"))
            .Set("IOTTYDevice", String("usbmodem1"))
            .Set("V92Modem", Integer(1));
        root.Add(Node("IOUSBDevice").Add(usb));
        root.Add(Node("IOPlatformDevice").Add(internal));
        Write(kRegistryPath, RegistryXml(root));
    }
};

} // namespace vztest

#endif
