// LiveFixture.h: what the tests of live roots share: one private bus with a
// fake ModemManager per suite (a suite runs in one process), and for each
// test a live copy of the demo machine: without its registry snapshot, on a
// sysfs tree holding the maker's dongle (its modem service's port
// ZORVEXMobile-Modem is the terminal ttyUSB0), with VAVIVAZ_LIVE=1.
#ifndef VZ_TESTS_BUS_LIVEFIXTURE_H
#define VZ_TESTS_BUS_LIVEFIXTURE_H

#include "FakeModemManager.h"
#include "FakeSysfs.h"
#include "StoreTestSupport.h"

#include <filesystem>
#include <string>

#ifndef VZ_ZORVEX_MODEM_STATUS_PATH
#error "the path of zorvex-modem-status is needed"
#endif

namespace vztest {

// The demo machine's services.
inline const std::string kModemService    = "E5A03C19-7B64-4E2F-A8D0-93F1B6C2574E";
inline const std::string kEthernetService = "1F6C2A80-3D4E-4B19-9A07-6E52D8C1B3F4";

class LiveRoot : public StoreTest {
  protected:
    static void SetUpTestSuite()
    {
        bus_ = new PrivateBus;
        mm_  = new FakeModemManager(*bus_);
    }
    static void TearDownTestSuite()
    {
        delete mm_;
        delete bus_;
    }
    void SetUp() override
    {
        StoreTest::SetUp();
        mm_->Resume();
        mm_->Start();
        mm_->Reset();
        namespace fs = std::filesystem;
        fs::copy(TestDataPath("../../examples/root"), root_,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
        fs::remove(Path("var/run/SystemConfiguration/ioregistry.plist"));
        MakersDongle(FakeSysfs(Path("sys")));
        setenv("VAVIVAZ_SYSFS", Path("sys").c_str(), 1);
        setenv("VAVIVAZ_LIVE", "1", 1);
    }
    void TearDown() override
    {
        unsetenv("VAVIVAZ_LIVE");
        StoreTest::TearDown();
    }

    static SCNetworkConnectionStatus Status(const std::string &serviceID)
    {
        Ref<SCNetworkConnectionRef> connection(SCNetworkConnectionCreateWithServiceID(
            nullptr, Str(serviceID.c_str()), nullptr, nullptr));
        return connection ? SCNetworkConnectionGetStatus(connection) : -100;
    }
    static bool HasUserOptions(const std::string &serviceID)
    {
        Ref<SCNetworkConnectionRef> connection(SCNetworkConnectionCreateWithServiceID(
            nullptr, Str(serviceID.c_str()), nullptr, nullptr));
        Ref<CFDictionaryRef>        options(SCNetworkConnectionCopyUserOptions(connection));
        return static_cast<bool>(options);
    }
    // The service's interface as the running system has it, on device.
    static void Publish(const std::string &serviceID, const std::string &device)
    {
        Ref<SCDynamicStoreRef> store(
            SCDynamicStoreCreate(nullptr, CFSTR("test"), nullptr, nullptr));
        Ref<CFStringRef>       key(SCDynamicStoreKeyCreateNetworkServiceEntity(
                  nullptr, kSCDynamicStoreDomainSetup, Str(serviceID.c_str()), kSCEntNetInterface));
        Ref<CFPropertyListRef> value(CreatePlist(
            PlistText("<dict><key>DeviceName</key><string>" + device + "</string></dict>")));
        ASSERT_TRUE(SCDynamicStoreSetValue(store, key, value));
    }
    // The probe's exit status on this root.
    static int Probe() { return RunProgram({VZ_ZORVEX_MODEM_STATUS_PATH}).status; }

    inline static PrivateBus       *bus_ = nullptr;
    inline static FakeModemManager *mm_  = nullptr;
};

} // namespace vztest

#endif
