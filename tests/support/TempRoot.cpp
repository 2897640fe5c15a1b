// TempRoot.cpp: temporary roots and the small file helpers of the tests.
#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace vztest {

std::string AssertionPattern(const std::string &expressionText)
{
    std::string escaped;
    for (char c : expressionText) {
        if (std::string("\\^$.[]|()?*+{}").find(c) != std::string::npos) escaped += '\\';
        escaped += c;
    }
    return "failed assertion `" + escaped + "'";
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string &path, const std::string &contents)
{
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(out.good()) << "cannot write " << path;
    out << contents;
}

std::string TestDataPath(const std::string &name)
{
    return std::string(VZ_TEST_DATA_DIR) + "/" + name;
}

std::string Utf8(CFStringRef s)
{
    if (s == nullptr) return "(null)";
    CFIndex     length = CFStringGetLength(s);
    CFIndex     size   = CFStringGetMaximumSizeForEncoding(length, kCFStringEncodingUTF8) + 1;
    std::string buffer(static_cast<size_t>(size), '\0');
    if (!CFStringGetCString(s, buffer.data(), size, kCFStringEncodingUTF8))
        return "(unconvertible)";
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

std::vector<std::string> Strings(CFArrayRef array)
{
    std::vector<std::string> out;
    for (CFIndex i = 0; array != nullptr && i < CFArrayGetCount(array); i++)
        out.push_back(Utf8(static_cast<CFStringRef>(CFArrayGetValueAtIndex(array, i))));
    return out;
}

namespace {

// A death test runs its statement in a new process that sets the fixture up
// again and then dies without tearing it down. That process inherits the
// parent's VAVIVAZ_ROOT; it works in the parent's root, which the parent
// removes, instead of making one that nobody would.
bool InDeathTestChild()
{
    return !GTEST_FLAG_GET(internal_run_death_test).empty() &&
           std::getenv("VAVIVAZ_ROOT") != nullptr;
}

} // namespace

void TempRoot::SetUp()
{
    if (InDeathTestChild()) {
        root_ = std::getenv("VAVIVAZ_ROOT");
        VZFlushPlatformCaches();
        liveAtStart_ = VZGetLiveObjectCount();
        return;
    }
    const char *saved   = std::getenv("VAVIVAZ_ROOT");
    savedRoot_          = saved != nullptr ? saved : "";
    std::string pattern = (fs::temp_directory_path() / "vz-root-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root_ = pattern;
    setenv("VAVIVAZ_ROOT", root_.c_str(), 1);
    VZFlushPlatformCaches();
    liveAtStart_ = VZGetLiveObjectCount();
}

void TempRoot::TearDown()
{
    VZClearAllocationFailure();
    VZClearSyscallFailure();
    VZFlushPlatformCaches();
    EXPECT_EQ(VZGetLiveObjectCount(), liveAtStart_) << "objects leaked or released twice";
    if (InDeathTestChild()) return; // the parent's root: the parent removes it
    setenv("VAVIVAZ_ROOT", savedRoot_.c_str(), 1);
    std::error_code ignored;
    // Tests make folders read-only; give them back before removing.
    for (auto it = fs::recursive_directory_iterator(root_, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(root_, ignored);
}

std::string TempRoot::Path(const std::string &relative) const
{
    return root_ + "/" + relative;
}
void TempRoot::Write(const std::string &relative, const std::string &contents) const
{
    WriteFile(Path(relative), contents);
}
std::string TempRoot::Read(const std::string &relative) const
{
    return ReadFile(Path(relative));
}
bool TempRoot::Exists(const std::string &relative) const
{
    return fs::exists(Path(relative));
}

void TempRoot::WriteSystemVersion(const char *productVersion) const
{
    Write(kSystemVersionPath, std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                          "<plist version=\"1.0\">\n<dict>\n"
                                          "\t<key>ProductVersion</key>\n\t<string>") +
                                  productVersion + "</string>\n</dict>\n</plist>\n");
}

} // namespace vztest
