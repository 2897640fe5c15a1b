// PlutilTest.cpp: vz-plutil end to end: linting, converting in place (under
// a store's lock) and to another file, never leaving a half-written or
// changed file behind on failure, the listing, bounded reads, and the
// manners of a command: usage errors, help, options, failed output.
#include "RunTool.h"
#include "TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using Outcome = vztest::ToolOutcome;

class PlutilTest : public vztest::TempRoot {
  protected:
    // Runs vz-plutil; standard output goes to stdoutPath when one is given.
    Outcome Plutil(const std::vector<std::string> &args, const char *stdoutPath = nullptr)
    {
        std::vector<std::string> argv{VZ_VZ_PLUTIL_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return vztest::RunTool(argv, root_ + "/.run", "", stdoutPath);
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

    // The reason quotes the file's text, escaped.
    Write("files/odd.plist", "<plist><integer>&#x202e;1</integer></plist>");
    EXPECT_NE(Plutil({"-lint", Path("files/odd.plist")}).out.find("integer \"\\u202e1\" is not"),
              std::string::npos);
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
<key>Odd</key><string>&#x9b;2J&#x202e;Büro</string>
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
  "Odd" = "\u009b2J\u202eBüro"
  "Text" = "say \"hi\"\\\n\ttab"
  "When" = date 2001-01-01T00:00:00Z
}
)");
}

// A usage error is one line on standard error that says what was wrong and
// points to --help, and exit status 2.
TEST_F(PlutilTest, RefusesBadUsage)
{
    Write("files/a.plist", kMessy);
    struct Case {
        std::vector<std::string> args;
        const char              *says;
    };
    const Case cases[] = {
        {{}, "say what to do"},
        {{"-lint"}, "-lint needs at least one FILE"},
        {{"-p"}, "-p takes exactly one FILE"},
        {{"-p", Path("files/a.plist"), Path("files/a.plist")}, "-p takes exactly one FILE"},
        {{"-convert", "binary1", Path("files/a.plist")}, "unsupported format 'binary1'"},
        {{"-convert", "xml1"}, "-convert takes exactly one FILE"},
        {{"-convert", "xml1", "-o", Path("files/b.plist")}, "-convert takes exactly one FILE"},
        {{"-convert", "xml1", Path("files/a.plist"), Path("files/a.plist")},
         "-convert takes exactly one FILE"},
        {{"-convert"}, "option -convert needs a value"},
        {{"-lint", "-p", Path("files/a.plist")}, "cannot be combined"},
        {{"-lint", "-o", "x", Path("files/a.plist")}, "-o goes with -convert only"},
        {{"-frobnicate", Path("files/a.plist")}, "bad option -frobnicate"},
        {{"--", "-lint", Path("files/a.plist")}, "say what to do"},
    };
    for (const Case &c : cases) {
        Outcome outcome = Plutil(c.args);
        EXPECT_EQ(outcome.status, 2) << c.says;
        EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
        EXPECT_NE(outcome.err.find(c.says), std::string::npos) << outcome.err;
        EXPECT_NE(outcome.err.find("--help"), std::string::npos) << outcome.err;
        EXPECT_EQ(outcome.out, "");
    }
    EXPECT_EQ(Listing("files"), std::vector<std::string>{"a.plist"});
}

TEST_F(PlutilTest, HelpAndVersionGoToStandardOutput)
{
    vztest::ExpectHelpAndVersion({VZ_VZ_PLUTIL_PATH}, "vz-plutil", root_ + "/.run",
                                 {"--help", "-help"});
}

// Options in any position, with "=" or the next word for their value, in one
// dash or two; "--" makes what follows files.
TEST_F(PlutilTest, OptionsAnywhereInEitherSpelling)
{
    Write("files/in.plist", kMessy);
    Write("files/-lint", kMessy);
    const std::vector<std::vector<std::string>> spellings = {
        {Path("files/in.plist"), "-convert", "xml1", "-o", Path("files/out.plist")},
        {"--convert=xml1", Path("files/in.plist"), "--o=" + Path("files/out.plist")},
        {"-o", Path("files/out.plist"), "--convert", "xml1", "--", Path("files/in.plist")},
    };
    for (const auto &args : spellings) {
        fs::remove(Path("files/out.plist"));
        Outcome convert = Plutil(args);
        EXPECT_EQ(convert.status, 0) << convert.err;
        EXPECT_EQ(Read("files/out.plist"), kCanonical);
    }
    fs::current_path(Path("files"));
    Outcome lint = Plutil({"--lint", "--", "-lint"});
    fs::current_path(root_);
    EXPECT_EQ(lint.status, 0) << lint.err;
    EXPECT_EQ(lint.out, "-lint: OK\n");
}

// What cannot reach standard output (a full disk) is a failure.
TEST_F(PlutilTest, FailedWriteToStandardOutputFails)
{
    Write("files/a.plist", kMessy);
    const std::vector<std::vector<std::string>> commands = {
        {"-lint", Path("files/a.plist")},
        {"-p", Path("files/a.plist")},
        {"-convert", "xml1", "-o", "-", Path("files/a.plist")},
        {"--help"},
    };
    for (const auto &args : commands) {
        Outcome outcome = Plutil(args, "/dev/full");
        EXPECT_EQ(outcome.status, 1) << args[0];
        EXPECT_NE(outcome.err.find("standard output"), std::string::npos) << outcome.err;
    }
}

// Files that cannot be read whole are refused with a reason, at once: a FIFO
// would block, /dev/zero never ends, a sparse file can claim any size.
TEST_F(PlutilTest, ReadsOnlyRegularFilesOfBoundedSize)
{
    Write("files/huge.plist", "");
    ASSERT_EQ(truncate(Path("files/huge.plist").c_str(), 64L * 1024 * 1024 + 1), 0);
    ASSERT_EQ(mkfifo(Path("files/fifo").c_str(), 0644), 0);
    Outcome lint =
        Plutil({"-lint", Path("files/fifo"), "/dev/zero", Path("files/huge.plist"), Path("files")});
    EXPECT_EQ(lint.status, 1);
    EXPECT_EQ(lint.out, Path("files/fifo") + ": cannot read: not a regular file\n" +
                            "/dev/zero: cannot read: not a regular file\n" +
                            Path("files/huge.plist") + ": cannot read: larger than 64 MiB\n" +
                            Path("files") + ": cannot read: Is a directory\n");
}

// In place, a file with a store's lock file beside it is rewritten under that
// lock, and not at all when a writer changed it while vz-plutil waited.
TEST_F(PlutilTest, ConvertInPlaceTakesTheStoreLock)
{
    Write("files/store.plist", kMessy);
    Write("files/store.plist-lock", "");
    int lock = open(Path("files/store.plist-lock").c_str(), O_RDWR);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    std::string store = Path("files/store.plist"), errors = Path(".err");
    pid_t       child = fork();
    if (child == 0) {
        int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (err < 0 || dup2(err, 2) < 0) _exit(126);
        execl(VZ_VZ_PLUTIL_PATH, VZ_VZ_PLUTIL_PATH, "-convert", "xml1", store.c_str(),
              static_cast<char *>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    // Once vz-plutil waits for the lock (a blocked lock of its process shows
    // in /proc/locks as "-> FLOCK ... <pid>"), a writer holding it commits.
    bool waiting = false;
    for (int i = 0; i < 1000 && !waiting; i++) {
        std::istringstream locks(vztest::ReadFile("/proc/locks"));
        for (std::string line; std::getline(locks, line) && !waiting;)
            waiting = line.find("->") != std::string::npos &&
                      line.find(" " + std::to_string(child) + " ") != std::string::npos;
        if (!waiting) usleep(10000);
    }
    EXPECT_TRUE(waiting) << "vz-plutil did not wait for the lock";
    Write("files/store.plist", kBroken);
    ASSERT_EQ(flock(lock, LOCK_UN), 0);
    close(lock);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_NE(Read(".err").find("changed since it was read"), std::string::npos) << Read(".err");
    EXPECT_EQ(Read("files/store.plist"), kBroken);

    // Free, the lock is taken and given back, and the file rewritten.
    Write("files/store.plist", kMessy);
    Outcome convert = Plutil({"-convert", "xml1", Path("files/store.plist")});
    EXPECT_EQ(convert.status, 0) << convert.err;
    EXPECT_EQ(Read("files/store.plist"), kCanonical);
    lock = open(Path("files/store.plist-lock").c_str(), O_RDWR);
    EXPECT_EQ(flock(lock, LOCK_EX | LOCK_NB), 0);
    close(lock);
}

} // namespace
