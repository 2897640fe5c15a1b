// ConnectTest.cpp: vz-netsetup connect, disconnect and status --wait as
// whole processes: through the fake ModemManager on a live root, and
// recorded in the dynamic store on a plain one.
#include "LiveFixture.h"
#include "RunTool.h"

#include <chrono>

#include <unistd.h>

namespace {

using vztest::FakeModemManager;
using vztest::Ref;

class Connect : public vztest::LiveRoot {
  protected:
    void SetUp() override
    {
        LiveRoot::SetUp();
        mm_->AddModem(0, {"ttyUSB0", "ttyUSB1", "ttyUSB2", "wwan0"}, 8);
    }
    vztest::ToolOutcome Ns(std::vector<std::string> args, const std::string &input = "") const
    {
        args.insert(args.begin(), VZ_VZ_NETSETUP_PATH);
        return vztest::RunTool(args, root_, input);
    }
    void Dialup() const
    {
        vztest::ToolOutcome dialup =
            Ns({"dialup", "ZORVEXMobile-Modem", "--phone", "*99#", "--account", "web",
                "--password-file", "-", "--apn", "internet"},
               "s3cret\n");
        ASSERT_EQ(dialup.status, 0) << dialup.err;
        EXPECT_NE(dialup.out.find("account \"web\", APN \"internet\", password set"),
                  std::string::npos)
            << dialup.out;
    }
};

TEST_F(Connect, ThroughModemManager)
{
    Dialup();
    vztest::ToolOutcome up = Ns({"connect"});
    ASSERT_EQ(up.status, 0) << up.err;
    EXPECT_EQ(up.out, "Connected the service \"ZORVEX Mobile\" (" + vztest::kModemService +
                          "); its connection is connected.\n");
    // The account, the decoded password and the APN the service keeps; then
    // --apn in its place.
    std::string calls = mm_->Calls(0);
    for (const char *setting :
         {R"("apn":{"type":"s","data":"internet"})", R"("user":{"type":"s","data":"web"})",
          R"("password":{"type":"s","data":"s3cret"})"})
        EXPECT_NE(calls.find(setting), std::string::npos) << calls;
    ASSERT_EQ(Ns({"connect", "--apn", "other.example"}).status, 0);
    EXPECT_NE(mm_->Calls(0).find(R"("apn":{"type":"s","data":"other.example"})"),
              std::string::npos);

    vztest::ToolOutcome down = Ns({"--json", "disconnect", "ZORVEX Mobile"});
    ASSERT_EQ(down.status, 0) << down.err;
    EXPECT_NE(down.out.find(R"("state":"disconnected","status":0})"), std::string::npos)
        << down.out;
    EXPECT_NE(mm_->Calls(0).find(R"("Disconnect",[{"type":"o","data":"/"}]])"), std::string::npos)
        << mm_->Calls(0);

    // A wait ends when the modem gets there.
    pid_t wait = vztest::StartTool(
        {VZ_VZ_NETSETUP_PATH, "status", "--wait", "connecting", "--timeout", "20"},
        root_ + "/wait");
    mm_->SetState(0, 10);
    vztest::ToolOutcome waited = vztest::WaitTool(wait, root_ + "/wait");
    EXPECT_EQ(waited.status, 0) << waited.err;
    EXPECT_NE(waited.out.find(" connecting "), std::string::npos) << waited.out;
}

TEST_F(Connect, ModemManagersReasons)
{
    mm_->SetConnect(0, "raise dbus.exceptions.DBusException('Wrong APN', name="
                       "'org.freedesktop.ModemManager1.Error.MobileEquipment.Unknown')");
    vztest::ToolOutcome refused = Ns({"connect"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "vz-netsetup: cannot connect the service \"ZORVEX Mobile\" (" +
                               vztest::kModemService +
                               "): ModemManager: org.freedesktop.ModemManager1.Error."
                               "MobileEquipment.Unknown: Wrong APN (error 1001)\n");
    mm_->RemoveObject(FakeModemManager::ModemPath(0));
    vztest::ToolOutcome unplugged = Ns({"connect"});
    EXPECT_EQ(unplugged.status, 1);
    EXPECT_NE(unplugged.err.find("no modem that ModemManager manages has the port ttyUSB0"),
              std::string::npos)
        << unplugged.err;
    mm_->Stop();
    vztest::ToolOutcome absent = Ns({"disconnect"});
    EXPECT_EQ(absent.status, 1);
    EXPECT_NE(absent.err.find("ModemManager is not running"), std::string::npos) << absent.err;
    vztest::ToolOutcome late = Ns({"status", "--wait", "connecting", "--timeout", "0.2"});
    EXPECT_EQ(late.status, 1);
    EXPECT_NE(late.err.find("is connected, not connecting, after 0.2 seconds"), std::string::npos)
        << late.err;
}

// A password the caller cannot read is never dialled as an empty one.
TEST_F(Connect, APasswordThatCannotBeReadIsNotDialledEmpty)
{
    Dialup();
    for (const char *store : {"/Library/Preferences/SystemConfiguration/preferences.plist",
                              "/var/run/SystemConfiguration/dynamic-store.plist"})
        ASSERT_EQ(unlink((root_ + store + "-secrets").c_str()), 0) << store;
    vztest::ToolOutcome refused = Ns({"connect"});
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.err.find("password is kept where this user cannot read it (error 1003)"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(mm_->Calls(0).find("Connect"), std::string::npos);
}

// With ModemManager silent each read takes its whole budget: the wait still
// ends at its timeout, its reads included.
TEST_F(Connect, ASilentModemManagerKeepsTheWaitWithinItsTimeout)
{
    mm_->Pause();
    auto                start = std::chrono::steady_clock::now();
    vztest::ToolOutcome late  = Ns({"status", "--wait", "disconnected", "--timeout", "1"});
    auto                took  = std::chrono::steady_clock::now() - start;
    mm_->Resume();
    EXPECT_EQ(late.status, 1) << late.err;
    EXPECT_LT(took, std::chrono::milliseconds(1900));
}

// On a plain root the transition is recorded, without the password: the
// dynamic store is readable by every user.
TEST_F(Connect, RecordedOnAPlainRoot)
{
    Dialup();
    setenv("VAVIVAZ_LIVE", "0", 1);
    EXPECT_EQ(Ns({"disconnect"}).status, 0);
    EXPECT_EQ(Probe(), 1);
    EXPECT_EQ(Ns({"connect"}).status, 0);
    EXPECT_EQ(Probe(), 0);
    Ref<SCDynamicStoreRef> store(SCDynamicStoreCreate(nullptr, CFSTR("test"), nullptr, nullptr));
    Ref<CFPropertyListRef> state(SCDynamicStoreCopyValue(
        store, vztest::Str(("State:/Network/Service/" + vztest::kModemService + "/PPP").c_str())));
    ASSERT_TRUE(state);
    auto ppp = static_cast<CFDictionaryRef>(
        CFDictionaryGetValue(static_cast<CFDictionaryRef>(CFDictionaryGetValue(
                                 static_cast<CFDictionaryRef>(state.get()), CFSTR("UserOptions"))),
                             kSCEntNetPPP));
    ASSERT_NE(ppp, nullptr);
    EXPECT_TRUE(CFDictionaryContainsKey(ppp, kVZPropNetPPPAccessPointName));
    EXPECT_FALSE(CFDictionaryContainsKey(ppp, kSCPropNetPPPAuthPassword));
    EXPECT_EQ(mm_->Calls(0).find("Connect"), std::string::npos);
}

} // namespace
