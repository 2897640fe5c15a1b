// TestMain.cpp: the main of every suite. Besides running the tests it checks
// the platform's live-object count around each one: a test that ends with
// more (a leaked reference) or fewer (a double release) live objects than it
// started with makes the run fail, naming the test.
#include "TestSupport.h"

#include <cstdio>
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
