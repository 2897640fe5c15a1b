// BusClientTest.cpp: the platform's bus client against a fake service on the
// tests' own bus: replies read by type, a reply of another type, a service
// or object that is not there, one that does not answer, and a bus that
// closes under the client.
#include "BusConnection.h"
#include "PrivateBus.h"
#include "TestSupport.h"

#include <chrono>

namespace {

using namespace std::chrono_literals;
using vz::bus::Deadline;
using vz::bus::PropertyMap;
using vz::bus::Value;

const std::string kName = "org.vavivaz.Test", kPath = "/org/vavivaz/Test";
const std::string kThing = kPath + "/Thing", kThingInterface = "org.vavivaz.Thing";

class BusClient : public ::testing::Test {
  protected:
    static void SetUpTestSuite()
    {
        bus_  = new vztest::PrivateBus;
        fake_ = new vztest::FakeService(*bus_, kName, kPath, kName, true);
    }
    static void TearDownTestSuite()
    {
        delete fake_;
        delete bus_;
    }
    void SetUp() override
    {
        fake_->Reset();
        fake_->Mock("AddObject", "ssa{sv}a(ssss)",
                    {kThing, kThingInterface,  "4",     "Level",    "i",
                     "-3",   "Ports",          "a(su)", "2",        "ttyUSB0",
                     "3",    "wwan0",          "2",     "Children", "ao",
                     "1",    kPath + "/Other", "Name",  "s",        "thing",
                     "1",    "Echo",           "a{sv}", "a{sv}",    "ret = args[0]"});
    }
    static Deadline Soon() { return Deadline::after(2s); }

    static vztest::PrivateBus  *bus_;
    static vztest::FakeService *fake_;
};
vztest::PrivateBus  *BusClient::bus_  = nullptr;
vztest::FakeService *BusClient::fake_ = nullptr;

TEST_F(BusClient, RepliesAreReadByType)
{
    auto objects = vz::bus::getManagedObjects(kName, kPath, Soon());
    ASSERT_TRUE(objects) << objects.error().text();
    ASSERT_EQ(objects->count(kThing), 1u);
    const PropertyMap &thing = objects->at(kThing).at(kThingInterface);
    EXPECT_EQ(vz::bus::property(thing, "Level", &Value::asInt32), -3);
    // A property of another type than the caller reads is not there for it.
    EXPECT_EQ(vz::bus::property(thing, "Level", &Value::asUInt32), std::nullopt);
    EXPECT_EQ(vz::bus::property(thing, "Absent", &Value::asInt32), std::nullopt);
    using Pairs = std::vector<std::pair<std::string, uint32_t>>;
    EXPECT_EQ(thing.at("Ports").asStringUInt32Pairs(), (Pairs{{"ttyUSB0", 3}, {"wwan0", 2}}));
    EXPECT_EQ(thing.at("Ports").asObjectPaths(), std::nullopt);
    EXPECT_EQ(thing.at("Children").asObjectPaths(), std::vector<std::string>{kPath + "/Other"});

    auto all = vz::bus::getAllProperties(kName, kThing, kThingInterface, Soon());
    ASSERT_TRUE(all) << all.error().text();
    EXPECT_EQ(*all, thing);
    auto name = vz::bus::getProperty(kName, kThing, kThingInterface, "Name", Soon());
    ASSERT_TRUE(name) << name.error().text();
    EXPECT_EQ(*name->asString(), "thing");

    // What is sent comes back equal: nested containers, variants, every
    // basic type the platform sends.
    Value sent =
        Value::propertyMap({{"flag", Value::boolean(true)},
                            {"count", Value::uint32(7)},
                            {"big", Value::int64(-(int64_t(1) << 40))},
                            {"ratio", Value::real(0.5)},
                            {"bytes", Value::array("y", {Value::byte(0), Value::byte(255)})},
                            {"path", Value::objectPath("/a/b")},
                            {"nested", Value::propertyMap({{"text", Value::string("é")}})}});
    auto echo =
        vz::bus::callSystemBus({kName, kThing, kThingInterface, "Echo"}, {sent}, "a{sv}", Soon());
    ASSERT_TRUE(echo) << echo.error().text();
    EXPECT_EQ(echo->front(), sent);
}

TEST_F(BusClient, FailuresAreAnswersNotWaits)
{
    // A reply of another type than the caller expects is refused whole.
    auto wrong = vz::bus::callSystemBus({kName, kThing, kThingInterface, "Echo"},
                                        {Value::propertyMap({})}, "a{ss}", Soon());
    ASSERT_FALSE(wrong);
    EXPECT_EQ(wrong.error().code, EBADMSG);
    auto absent = vz::bus::getManagedObjects("org.vavivaz.Absent", kPath, Soon());
    ASSERT_FALSE(absent);
    EXPECT_TRUE(absent.error().isServiceMissing()) << absent.error().text();
    auto gone = vz::bus::getAllProperties(kName, kPath + "/Gone", kThingInterface, Soon());
    ASSERT_FALSE(gone);
    EXPECT_TRUE(gone.error().isObjectMissing()) << gone.error().text();

    // A service that stopped answering holds the caller until the deadline,
    // and no longer; once it answers again, so does the client.
    fake_->Pause();
    auto start  = std::chrono::steady_clock::now();
    auto silent = vz::bus::getManagedObjects(kName, kPath, Deadline::after(200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
    fake_->Resume();
    ASSERT_FALSE(silent);
    EXPECT_TRUE(silent.error().isTimeout()) << silent.error().text();
    EXPECT_TRUE(vz::bus::getManagedObjects(kName, kPath, Soon()));

    // A bus that closes: calls fail until it is back.
    bus_->Stop();
    EXPECT_FALSE(vz::bus::getManagedObjects(kName, kPath, Soon()));
    EXPECT_FALSE(vz::bus::getManagedObjects(kName, kPath, Soon()));
    bus_->Start();
    fake_->Stop(); // it left with the bus
    fake_->Start();
    auto back = vz::bus::getManagedObjects(kName, kPath, Soon());
    EXPECT_TRUE(back) << back.error().text();
}

} // namespace
