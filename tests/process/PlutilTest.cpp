// PlutilTest.cpp: vz-plutil end to end: linting, converting in place and to
// another file, never leaving a half-written or changed file behind on
// failure, the listing, and usage errors.
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int         status = -1;
    std::string out;
    std::string err;
};

std::string Quote(const std::string &word)
{
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

class PlutilTest : public vztest::TempRoot {
  protected:
    Outcome Plutil(const std::vector<std::string> &args)
    {
        std::string command = Quote(VZ_VZ_PLUTIL_PATH);
        for (const std::string &arg : args)
            command += " " + Quote(arg);
        const std::string out = root_ + "/.out", err = root_ + "/.err";
        command += " >" + Quote(out) + " 2>" + Quote(err) + " </dev/null";
        int     raw = std::system(command.c_str());
        Outcome outcome;
        outcome.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        outcome.out    = vztest::ReadFile(out);
        outcome.err    = vztest::ReadFile(err);
        fs::remove(out);
        fs::remove(err);
        return outcome;
    }
    // Names in a folder of the root, sorted.
    std::vector<std::string> Listing(const std::string &folder)
    {
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(Path(folder)))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The same content in two layouts.
    static constexpr const char *kMessy =
        "<plist><dict><key>b</key><array><integer>+1</integer><string/></array>"
        "<key>a</key><dict></dict></dict></plist>";
    static constexpr const char *kCanonical = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                              "<plist version=\"1.0\">\n"
                                              "<dict>\n"
                                              "\t<key>a</key>\n"
                                              "\t<dict/>\n"
                                              "\t<key>b</key>\n"
                                              "\t<array>\n"
                                              "\t\t<integer>1</integer>\n"
                                              "\t\t<string></string>\n"
                                              "\t</array>\n"
                                              "</dict>\n"
                                              "</plist>\n";
    static constexpr const char *kBroken    = "<plist><dict><key>a</key></dict></plist>";
};

TEST_F(PlutilTest, LintSaysWhyForEachFile)
{
    Write("files/good.plist", kMessy);
    Write("files/bad.plist", kBroken);
    Outcome all = Plutil({Path("files/good.plist"), Path("files/bad.plist"), Path("files/none")});
    // "-lint" goes first; the call above lacks it on purpose: that is a usage error.
    EXPECT_EQ(all.status, 2);

    Outcome lint =
        Plutil({"-lint", Path("files/good.plist"), Path("files/bad.plist"), Path("files/none")});
    EXPECT_EQ(lint.status, 1);
    EXPECT_EQ(lint.out, Path("files/good.plist") + ": OK\n" + Path("files/bad.plist") +
                            ": <key> without a value at line 1, column 26\n" + Path("files/none") +
                            ": cannot read: No such file or directory\n");

    Outcome good = Plutil({"-lint", Path("files/good.plist"), Path("files/good.plist")});
    EXPECT_EQ(good.status, 0);
    EXPECT_EQ(good.out, Path("files/good.plist") + ": OK\n" + Path("files/good.plist") + ": OK\n");
}

TEST_F(PlutilTest, ConvertInPlaceRewritesAndKeepsTheMode)
{
    Write("files/store.plist", kMessy);
    ASSERT_EQ(chmod(Path("files/store.plist").c_str(), 0600), 0);
    Outcome convert = Plutil({"-convert", "xml1", Path("files/store.plist")});
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(Read("files/store.plist"), kCanonical);
    struct stat info {};
    ASSERT_EQ(stat(Path("files/store.plist").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(Listing("files"), std::vector<std::string>{"store.plist"}) << "a temporary was left";
}

TEST_F(PlutilTest, ConvertToAnotherFileLeavesTheSourceAlone)
{
    Write("files/in.plist", kMessy);
    Outcome convert =
        Plutil({"-convert", "xml1", "-o", Path("files/out.plist"), Path("files/in.plist")});
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(Read("files/in.plist"), kMessy);
    EXPECT_EQ(Read("files/out.plist"), kCanonical);

    Outcome toStdout = Plutil({"-convert", "xml1", "-o", "-", Path("files/in.plist")});
    EXPECT_EQ(toStdout.status, 0);
    EXPECT_EQ(toStdout.out, kCanonical);
}

// In place, a symbolic link stays a link and the file it names is rewritten.
TEST_F(PlutilTest, ConvertThroughALinkRewritesItsTarget)
{
    Write("files/real.plist", kMessy);
    fs::create_symlink(Path("files/real.plist"), Path("files/link.plist"));
    Outcome convert = Plutil({"-convert", "xml1", Path("files/link.plist")});
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_TRUE(fs::is_symlink(Path("files/link.plist")));
    EXPECT_EQ(Read("files/real.plist"), kCanonical);
}

TEST_F(PlutilTest, NothingIsWrittenOnFailure)
{
    Write("files/broken.plist", kBroken);
    Write("files/good.plist", kMessy);
    struct Case {
        std::vector<std::string> args;
        const char              *message;
    } cases[] = {
        {{"-convert", "xml1", Path("files/broken.plist")}, "<key> without a value"},
        {{"-convert", "xml1", "-o", Path("files/out.plist"), Path("files/broken.plist")},
         "<key> without a value"},
        {{"-convert", "xml1", "-o", Path("files/no/such/folder/out.plist"),
          Path("files/good.plist")},
         "No such file or directory"},
        {{"-convert", "xml1", "-o", Path("files"), Path("files/good.plist")}, "directory"},
        {{"-convert", "xml1", Path("files/missing.plist")}, "cannot read"},
        {{"-p", Path("files/broken.plist")}, "<key> without a value"},
    };
    for (const Case &c : cases) {
        Outcome outcome = Plutil(c.args);
        EXPECT_EQ(outcome.status, 1) << c.args.back();
        EXPECT_NE(outcome.err.find(c.message), std::string::npos) << outcome.err;
        EXPECT_EQ(Read("files/broken.plist"), kBroken);
        EXPECT_EQ(Read("files/good.plist"), kMessy);
        EXPECT_EQ(Listing("files"), (std::vector<std::string>{"broken.plist", "good.plist"}));
    }
}

TEST_F(PlutilTest, PrintListsTheTree)
{
    Write("files/all.plist", R"(<plist><dict>
<key>Text</key><string>say "hi"\
	tab</string>
<key>List</key><array><integer>-3</integer><integer>18446744073709551615</integer><real>2</real>
<real>0.5</real><true/><false/><array/></array>
<key>Data</key><data>AAH/</data>
<key>When</key><date>2001-01-01T00:00:00Z</date>
<key>Nothing</key><dict/>
</dict></plist>)");
    Outcome print = Plutil({"-p", Path("files/all.plist")});
    EXPECT_EQ(print.status, 0) << print.err;
    EXPECT_EQ(print.out, R"({
  "Data" = <3 bytes 0001ff>
  "List" = [
    -3
    18446744073709551615
    2.0
    0.5
    true
    false
    []
  ]
  "Nothing" = {}
  "Text" = "say \"hi\"\\\n\ttab"
  "When" = date 2001-01-01T00:00:00Z
}
)");
}

TEST_F(PlutilTest, RefusesBadUsage)
{
    Write("files/a.plist", kMessy);
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"-lint"},
        {"-p"},
        {"-p", Path("files/a.plist"), Path("files/a.plist")},
        {"-convert", "binary1", Path("files/a.plist")},
        {"-convert", "xml1"},
        {"-convert", "xml1", "-o", Path("files/b.plist")},
        {"-convert", "xml1", Path("files/a.plist"), Path("files/a.plist")},
        {"-frobnicate", Path("files/a.plist")},
    };
    for (const auto &args : cases) {
        Outcome outcome = Plutil(args);
        EXPECT_EQ(outcome.status, 2) << (args.empty() ? "(none)" : args[0]);
        EXPECT_FALSE(outcome.err.empty());
    }
    EXPECT_EQ(Listing("files"), std::vector<std::string>{"a.plist"});
}

} // namespace
