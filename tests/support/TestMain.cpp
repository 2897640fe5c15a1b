// TestMain.cpp: the main of every suite. Besides running the tests it checks
// the platform's live-object count around each one: a test that ends with
// more (a leaked reference) or fewer (a double release) live objects than it
// started with makes the run fail, naming the test. And it keeps the tests
// (and every command they run) off the machine they run on: the root, the
// sysfs tree and the system bus are ones that do not exist until a test sets
// its own, and no root is live unless a test says so.
#include "TestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

class LiveObjectCheck : public ::testing::EmptyTestEventListener {
  public:
    void OnTestStart(const ::testing::TestInfo &) override
    {
        VZFlushPlatformCaches();
        before_ = VZGetLiveObjectCount();
    }
    void OnTestEnd(const ::testing::TestInfo &info) override
    {
        VZClearAllocationFailure();
        VZClearSyscallFailure();
        VZFlushPlatformCaches();
        CFIndex after = VZGetLiveObjectCount();
        if (after == before_) return;
        std::fprintf(stderr, "[  OBJECTS ] %s.%s: %ld live objects before, %ld after\n",
                     info.test_suite_name(), info.name(), before_, after);
        failed_.push_back(std::string(info.test_suite_name()) + "." + info.name());
    }
    bool anyFailed() const { return !failed_.empty(); }

  private:
    CFIndex                  before_ = 0;
    std::vector<std::string> failed_;
};

} // namespace

int main(int argc, char **argv)
{
    setenv("VAVIVAZ_ROOT", "/nonexistent/vavivaz-tests-set-their-own-root", 0);
    setenv("VAVIVAZ_SYSFS", "/nonexistent/vavivaz-tests-set-their-own-sysfs", 1);
    setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/vavivaz-tests-start-their-own-bus",
           1);
    unsetenv("VAVIVAZ_LIVE");
    ::testing::InitGoogleTest(&argc, argv);
    // Death tests re-run the binary, which is safe with the sanitizers'
    // threads around.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    auto *check = new LiveObjectCheck;
    ::testing::UnitTest::GetInstance()->listeners().Append(check);
    int result = RUN_ALL_TESTS();
    if (check->anyFailed()) result = 1;
    return result;
}
