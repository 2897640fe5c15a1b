// ConnectionTest.cpp: connection status and user options of known and
// unknown services, read from the dynamic store.
#include "StoreTestSupport.h"

using namespace vztest;

namespace {

const char *const kStates = R"(<dict>
	<key>Setup:/Network/Service/SetupOnly/PPP</key><dict/>
	<key>State:/Network/Service/Connected/PPP</key>
	<dict>
		<key>Status</key><integer>2</integer>
		<key>UserOptions</key><dict><key>Name</key><string>dialled</string></dict>
	</dict>
	<key>State:/Network/Service/Connecting/PPP</key><dict><key>Status</key><integer>1</integer></dict>
	<key>State:/Network/Service/Disconnecting/PPP</key><dict><key>Status</key><integer>3</integer></dict>
	<key>State:/Network/Service/NoStatus/PPP</key><dict/>
	<key>State:/Network/Service/Odd/PPP</key><dict><key>Status</key><integer>7</integer></dict>
	<key>State:/Network/Service/TextStatus/PPP</key>
	<dict><key>Status</key><string>2</string><key>UserOptions</key><string>x</string></dict>
	<key>State:/Network/Service/NotADict/PPP</key><string>x</string>
	<key>State:/Network/Service/IPv4Only/IPv4</key><dict/>
</dict>)";

class Connection : public StoreTest {};

TEST_F(Connection, StatusAndOptionsByService)
{
    WriteDynamicStore(kStates);
    struct Row {
        const char *serviceID;
        int         status;
        const char *options; // the Name in the options; "" for empty options; NULL for none
    };
    const Row rows[] = {
        {"Connected", kSCNetworkConnectionConnected, "dialled"},
        {"Connecting", kSCNetworkConnectionConnecting, ""},
        {"Disconnecting", kSCNetworkConnectionDisconnecting, ""},
        {"SetupOnly", kSCNetworkConnectionDisconnected, ""},
        {"NoStatus", kSCNetworkConnectionDisconnected, ""},
        {"Odd", 7, ""},
        {"TextStatus", kSCNetworkConnectionInvalid, ""},
        {"NotADict", kSCNetworkConnectionDisconnected, ""},
        {"IPv4Only", kSCNetworkConnectionInvalid, nullptr},
        {"Unknown", kSCNetworkConnectionInvalid, nullptr},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.serviceID);
        Ref<SCNetworkConnectionRef> connection(
            SCNetworkConnectionCreateWithServiceID(nullptr, Str(row.serviceID), nullptr, nullptr));
        ASSERT_TRUE(connection);
        EXPECT_EQ(SCNetworkConnectionGetStatus(connection), row.status);
        Ref<CFDictionaryRef> options(SCNetworkConnectionCopyUserOptions(connection));
        if (row.options == nullptr) {
            EXPECT_FALSE(options);
        } else if (*row.options == '\0') {
            ASSERT_TRUE(options);
            EXPECT_EQ(CFDictionaryGetCount(options), 0);
        } else {
            EXPECT_EQ(StringAt(options, "Name"), row.options);
        }
    }
}

TEST_F(Connection, ServiceIDsAndDamagedStores)
{
    for (const char *bad : {"", "a/b"}) {
        EXPECT_EQ(SCNetworkConnectionCreateWithServiceID(nullptr, Str(bad), nullptr, nullptr),
                  nullptr);
        EXPECT_EQ(SCError(), kSCStatusInvalidArgument);
    }
    Ref<SCNetworkConnectionRef> connection(
        SCNetworkConnectionCreateWithServiceID(nullptr, CFSTR("Connected"), nullptr, nullptr));
    Ref<CFStringRef> id(SCNetworkConnectionCopyServiceID(connection));
    EXPECT_EQ(Utf8(id), "Connected");

    // No store: nothing is known. A damaged one: the same, with the status.
    EXPECT_EQ(SCNetworkConnectionGetStatus(connection), kSCNetworkConnectionInvalid);
    Write(kDynamicStorePath, "not a property list");
    EXPECT_EQ(SCNetworkConnectionGetStatus(connection), kSCNetworkConnectionInvalid);
    EXPECT_EQ(SCError(), kSCStatusFailed);
    EXPECT_EQ(SCNetworkConnectionCopyUserOptions(connection), nullptr);
    EXPECT_EQ(SCError(), kSCStatusFailed);

    // The status is read afresh each time.
    WriteDynamicStore(kStates);
    EXPECT_EQ(SCNetworkConnectionGetStatus(connection), kSCNetworkConnectionConnected);
}

} // namespace
