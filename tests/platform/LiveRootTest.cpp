// LiveRootTest.cpp: which root the platform works in, and which roots are
// the running machine's.
#include "Root.h"
#include "TestSupport.h"
#include "UnderRoot.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace {

// Sets or unsets an environment variable for one scope.
class Variable {
  public:
    Variable(const char *name, const char *value) : name_(name)
    {
        if (const char *old = std::getenv(name)) old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~Variable()
    {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char                *name_;
    std::optional<std::string> old_;
};

TEST(LiveRoot, RootAndLiveRule)
{
    const std::string machine = vz::machineRootDirectory();
    ASSERT_FALSE(machine.empty());
    ASSERT_EQ(machine.front(), '/');
    const std::string other   = "/tmp/vz-other-root";
    const std::string slashed = machine + "//";
    const char       *kUnset  = nullptr;
    struct Row {
        const char *root, *live;
        std::string expectedRoot;
        bool        expectedLive;
    };
    const Row rows[] = {
        {kUnset, kUnset, machine, true},
        {"", kUnset, machine, true},
        {slashed.c_str(), kUnset, machine, true},
        {other.c_str(), kUnset, other, false},
        {other.c_str(), "1", other, true},
        {other.c_str(), "yes", other, false}, // only "1" and "0" say anything
        {kUnset, "0", machine, false},
        {"/", kUnset, "", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.root ? row.root : "(unset)") + " " +
                     (row.live ? row.live : "(unset)"));
        Variable root("VAVIVAZ_ROOT", row.root), live("VAVIVAZ_LIVE", row.live);
        EXPECT_EQ(vz::rootDirectory(), row.expectedRoot);
        EXPECT_EQ(vz::isLiveRoot(), row.expectedLive);
    }
}

// A caller's path lands under the root whichever way it is written, and never
// out of it; plain paths and paths to normalise must agree.
TEST(LiveRoot, CallerPathsStayUnderTheRoot)
{
    const std::optional<std::string> kOut;
    struct Row {
        const char                *root, *path;
        std::optional<std::string> expected;
    };
    const Row rows[] = {
        {"/r", "Library/x.plist", "/r/Library/x.plist"},
        {"/r/", "/Library/x.plist", "/r/Library/x.plist"},
        {"/r", "//Library/./x.plist", "/r/Library/x.plist"},
        {"/r", "Library/../x.plist", "/r/x.plist"},
        {"/r", "Library/x/", "/r/Library/x"},
        {"/r", "..", kOut},
        {"/r", "/a/../../b", kOut},
        {"/r", "", "/r"},
        {"/r", "/", "/r"},
        {"/", "etc/x", "/etc/x"},
        {"/", "", "/"},
        {"/r", ".../x", "/r/.../x"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(std::string(row.root) + " " + row.path);
        Variable root("VAVIVAZ_ROOT", row.root);
        EXPECT_EQ(vz::pathUnderRootChecked(row.path), row.expected);
    }
}

} // namespace
