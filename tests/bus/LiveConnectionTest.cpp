// LiveConnectionTest.cpp: connection states on a live root, from a fake
// ModemManager on the tests' own bus: the demo machine without its registry
// snapshot, on a sysfs tree holding the maker's dongle, so that its modem
// service's port ZORVEXMobile-Modem is the terminal ttyUSB0.
#include "LiveFixture.h"

namespace {

using vztest::FakeModemManager;
using vztest::kEthernetService;
using vztest::kModemService;

class LiveConnection : public vztest::LiveRoot {};

// Every state ModemManager has, and some it does not, through the platform
// and through the probe's exit status.
TEST_F(LiveConnection, StatusFollowsTheModem)
{
    mm_->AddModem(0, {"ttyUSB0", "ttyUSB1", "ttyUSB2", "wwan0"}, 8);
    struct Row {
        int state;
        int status;
    };
    const Row rows[] = {
        {11, kSCNetworkConnectionConnected},    {10, kSCNetworkConnectionConnecting},
        {9, kSCNetworkConnectionDisconnecting}, {8, kSCNetworkConnectionDisconnected},
        {0, kSCNetworkConnectionDisconnected},  {-1, kSCNetworkConnectionDisconnected},
        {12, kSCNetworkConnectionInvalid},      {-2, kSCNetworkConnectionInvalid},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.state);
        mm_->SetState(0, row.state);
        EXPECT_EQ(Status(kModemService), row.status);
    }
    // The probe's answers as the modem goes through a connection.
    for (const auto &[state, exit] : {std::pair{10, 2}, {11, 0}, {9, 3}, {8, 1}}) {
        mm_->SetState(0, state);
        EXPECT_EQ(Probe(), exit) << state;
    }
    // A connected bearer on the port is connected whatever the state says.
    mm_->SetState(0, 10);
    mm_->AddBearer(0, 0, "ttyUSB0", true);
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionConnected);
    // A service no modem manages keeps the dynamic store's rule.
    EXPECT_EQ(Status(kEthernetService), kSCNetworkConnectionInvalid);
}

// What ModemManager sends is input: a property of another type than
// expected is not there, a bearer that went away is passed over, and a
// listing of another type is no answer (the dynamic store's rule holds:
// the demo's modem service is connected there).
TEST_F(LiveConnection, MalformedAnswers)
{
    const std::string modem = FakeModemManager::ModemPath(0);
    struct Row {
        const char              *what;
        std::vector<std::string> properties; // AddObject's a{sv}
        int                      status;
    };
    const Row rows[] = {
        {"ports of another type",
         {"2", "State", "i", "10", "Ports", "as", "1", "ttyUSB0"},
         kSCNetworkConnectionConnected},
        {"no ports",
         {"2", "State", "i", "10", "Ports", "a(su)", "0"},
         kSCNetworkConnectionConnected},
        {"no ports, the primary port",
         {"2", "State", "i", "10", "PrimaryPort", "s", "ttyUSB0"},
         kSCNetworkConnectionConnecting},
        {"a state of another type",
         {"2", "State", "s", "connected", "Ports", "a(su)", "1", "ttyUSB0", "3"},
         kSCNetworkConnectionInvalid},
        {"bearers of another type",
         {"3", "State", "i", "9", "Ports", "a(su)", "1", "ttyUSB0", "3", "Bearers", "as", "1", "x"},
         kSCNetworkConnectionDisconnecting},
        {"a bearer that went away",
         {"3", "State", "i", "8", "Ports", "a(su)", "1", "ttyUSB0", "3", "Bearers", "ao", "1",
          FakeModemManager::BearerPath(7)},
         kSCNetworkConnectionDisconnected},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        mm_->Reset();
        std::vector<std::string> args = {modem, FakeModemManager::kModemInterface};
        args.insert(args.end(), row.properties.begin(), row.properties.end());
        args.push_back("0");
        mm_->Mock("AddObject", "ssa{sv}a(ssss)", args);
        EXPECT_EQ(Status(kModemService), row.status);
    }
    mm_->Mock("AddMethod", "sssss",
              {"org.freedesktop.DBus.ObjectManager", "GetManagedObjects", "", "as", "ret = []"});
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionConnected);
}

// ModemManager stopped, hanging and restarted, two modems, one unplugged.
TEST_F(LiveConnection, ModemManagerComesAndGoes)
{
    mm_->AddModem(0, {"ttyUSB0", "ttyUSB1", "ttyUSB2"}, 8);
    // A second modem whose bearer carries a network interface of its own.
    mm_->AddModem(1, {"ttyACM0"}, 10);
    mm_->AddBearer(1, 1, "wwan1", true);
    Publish(kEthernetService, "wwan1");
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionDisconnected);
    EXPECT_EQ(Status(kEthernetService), kSCNetworkConnectionConnected);
    // The store does not know the service's connection; ModemManager does.
    EXPECT_TRUE(HasUserOptions(kEthernetService));

    mm_->RemoveObject(FakeModemManager::ModemPath(0)); // unplugged
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionConnected);

    mm_->Stop();
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionConnected);
    EXPECT_EQ(Status(kEthernetService), kSCNetworkConnectionInvalid);
    EXPECT_FALSE(HasUserOptions(kEthernetService));

    mm_->Start();
    mm_->AddModem(0, {"ttyUSB0"}, 9);
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionDisconnecting);

    // Silent: the dynamic store answers within the budget, and the calls
    // that follow do not wait again.
    mm_->Pause();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Status(kModemService), kSCNetworkConnectionConnected);
    EXPECT_EQ(Probe(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    mm_->Resume();
}

} // namespace
