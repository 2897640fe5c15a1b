// ScriptTestSupport.h: what the catalogue tests share: the script folders of
// the four domains under a temporary root, the catalogue as UTF-8 names, and
// a registry whose built-in modem has a given hold value.
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
#include <unistd.h>

namespace vztest {

class ScriptRoot : public TempRoot {
  protected:
    static constexpr const char *kNetwork = "Network/Library/Modem Scripts";
    static constexpr const char *kLocal   = "Library/Modem Scripts";
    static constexpr const char *kSystem  = "System/Library/Modem Scripts";
    static std::string           UserFolder()
    {
        struct passwd *entry = getpwuid(geteuid());
        return "Users/" + std::string(entry != nullptr ? entry->pw_name : "") +
               "/Library/Modem Scripts";
    }

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
    void AddScripts(const std::string &folder, const std::vector<std::string> &names) const
    {
        for (const std::string &name : names)
            Write(folder + "/" + name, "! a modem script\n");
    }
    void RemoveFolders() const
    {
        for (const char *top : {"Users", "Network", "Library", kSystem})
            std::filesystem::remove_all(Path(top));
    }

    // The catalogue's names, with the default's index when index is given;
    // the call must succeed.
    static std::vector<std::string> Scripts(CFIndex *index = nullptr)
    {
        Out<CFArrayRef> scripts;
        EXPECT_EQ(MoreSCCreateCCLArray(scripts.put(), index), noErr);
        EXPECT_NE(scripts.get(), nullptr);
        return Strings(scripts.get());
    }
    static CFIndex DefaultIndex()
    {
        CFIndex index = -1;
        Scripts(&index);
        return index;
    }

    // A registry with a USB modem that supports hold and the built-in modem
    // ("modem"), with "V92Modem" when holdXml is not empty.
    void ModemMachine(const std::string &holdXml) const
    {
        Node root, internal("IOSerialBSDClient"), usb("IOSerialBSDClient");
        internal.Set("IOSerialBSDClientType", String("IOModemSerialStream"))
            .Set("IOTTYBaseName", String("modem"))
            .Set("IOTTYDevice", String("modem"));
        if (!holdXml.empty()) internal.Set("V92Modem", holdXml);
        usb.Set("IOSerialBSDClientType", String("IOModemSerialStream"))
            .Set("IOTTYBaseName", String("usbmodem"))
            .Set("IOTTYDevice", String("usbmodem1"))
            .Set("V92Modem", Integer(1));
        root.Add(Node("IOUSBDevice").Add(usb)).Add(Node("IOPlatformDevice").Add(internal));
        Write(kRegistryPath, RegistryXml(root));
    }
};

} // namespace vztest

#endif
