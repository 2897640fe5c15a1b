// NetsetupApplyTest.cpp: vz-netsetup apply, which publishes the committed
// store to a root whose running state is gone, as after a boot.
#include "NetsetupFixture.h"

#include <string>

namespace {

using namespace nstest;

class NetsetupApply : public NetsetupRoot {};

TEST_F(NetsetupApply, PublishesTheCurrentLocationAfterABoot)
{
    const std::string setupKey = "Setup:/Network/Service/" + kModem + "/PPP";
    fs::remove(Path(kDynamicStorePath));
    Outcome run = Ns({"apply"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Applied location \"Automatic\" (" + kAutomatic + ") to the running system.\n");
    EXPECT_NE(Read(kDynamicStorePath).find(setupKey), std::string::npos);

    Json document = Doc({"apply"});
    EXPECT_EQ(document["location"]["id"], kAutomatic);

    // Only the current location runs.
    Outcome office = Ns({"--location", "Office", "apply"});
    EXPECT_EQ(office.status, 1);
    EXPECT_NE(office.err.find("apply works on the current location only"), std::string::npos)
        << office.err;

    // A store without a current location leaves the running system with none.
    ResetStore(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict/></plist>\n");
    run = Ns({"apply"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Read(kDynamicStorePath).find("Setup:"), std::string::npos);
    EXPECT_EQ(Doc({"apply"})["location"], nullptr);
}

} // namespace
