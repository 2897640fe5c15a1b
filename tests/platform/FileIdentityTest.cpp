// FileIdentityTest.cpp: when metadata proves a file unchanged and when the
// bytes must decide.
#include "FileIdentity.h"
#include "StoreTestSupport.h"
#include "WholeFile.h"

#include <fcntl.h>
#include <unistd.h>

using namespace vztest;

namespace {

constexpr int64_t kSecond = 1'000'000'000;

vz::FileIdentity Identity(int64_t changed, int64_t verified)
{
    vz::FileIdentity identity;
    identity.exists     = true;
    identity.device     = 1;
    identity.inode      = 2;
    identity.size       = 3;
    identity.mtimeNs    = changed;
    identity.ctimeNs    = changed;
    identity.verifiedNs = verified;
    return identity;
}

TEST(FileIdentity, MetadataProvesOnlyWhatTheTimestampTickCannotHide)
{
    const int64_t t = 1'700'000'000 * kSecond;
    struct Row {
        const char      *what;
        vz::FileIdentity now;
        bool             proves;
    };
    vz::FileIdentity old        = Identity(t, t + 3 * kSecond);
    vz::FileIdentity fresh      = Identity(t, t + kSecond / 100);
    vz::FileIdentity otherInode = old;
    otherInode.inode++;
    vz::FileIdentity otherSize = old;
    otherSize.size++;
    vz::FileIdentity otherCtime = old;
    otherCtime.ctimeNs++;
    vz::FileIdentity gone;
    const Row        rows[] = {
               {"same metadata, verified well after the last change", old, true},
               {"other inode", otherInode, false},
               {"other size", otherSize, false},
               {"other change time", otherCtime, false},
               {"no file now", gone, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(old.provesUnchanged(row.now), row.proves);
    }
    // Verified within the tick of the last change: metadata cannot tell.
    EXPECT_FALSE(fresh.provesUnchanged(fresh));
    // A modification time set into the future is not trusted either.
    vz::FileIdentity future = old;
    future.mtimeNs          = t + 10 * kSecond;
    EXPECT_FALSE(future.provesUnchanged(future));
    // No file then and no file now.
    EXPECT_TRUE(gone.provesUnchanged(vz::FileIdentity()));
}

TEST(FileIdentity, FineTimestampsNeedOnlyAShortGuardCoarseOnesTwoSeconds)
{
    const int64_t fine   = 1'700'000'000 * kSecond + 123'456'789; // a kernel clock stamp
    const int64_t coarse = 1'700'000'000 * kSecond;               // whole seconds
    struct Row {
        int64_t changed, verifiedAfter;
        bool    proves;
    } rows[] = {
        {fine, kSecond / 100, false},  // within a clock tick or so
        {fine, kSecond / 10, true},    // well past any tick
        {coarse, kSecond / 10, false}, // a coarse file system may still hide a change
        {coarse, kSecond, false},      {coarse, 3 * kSecond, true},
    };
    for (const Row &row : rows) {
        vz::FileIdentity identity = Identity(row.changed, row.changed + row.verifiedAfter);
        EXPECT_EQ(identity.provesUnchanged(identity), row.proves)
            << row.changed << " verified " << row.verifiedAfter << " ns later";
    }
}

TEST(FileIdentity, HashTellsNearlyEqualFilesApart)
{
    std::string text(1000, 'a');
    uint64_t    base = vz::hashBytes({reinterpret_cast<const uint8_t *>(text.data()), text.size()});
    for (size_t i : {size_t{0}, size_t{31}, size_t{32}, size_t{500}, size_t{999}}) {
        std::string changed = text;
        changed[i] ^= 1;
        EXPECT_NE(
            vz::hashBytes({reinterpret_cast<const uint8_t *>(changed.data()), changed.size()}),
            base)
            << "bit flip at " << i;
    }
    EXPECT_NE(vz::hashBytes({reinterpret_cast<const uint8_t *>(text.data()), 999}), base);
}

class FileIdentityFiles : public TempRoot {};

TEST_F(FileIdentityFiles, SameTickRewriteIsCaughtByTheBytes)
{
    Write("f", "version one");
    vz::FileContents contents;
    ASSERT_EQ(vz::readWholeFile(Path("f"), &contents), 0);
    vz::FileIdentity identity = contents.identity;

    bool unchanged = false;
    ASSERT_EQ(vz::checkFileUnchanged(Path("f"), &identity, &unchanged), 0);
    EXPECT_TRUE(unchanged);

    // Same size, modification time put back: the change time and the bytes
    // are all that differ, and the change time may well not.
    struct stat before;
    ASSERT_EQ(stat(Path("f").c_str(), &before), 0);
    int fd = open(Path("f").c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "version two", 11), 11);
    struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);
    ASSERT_EQ(vz::checkFileUnchanged(Path("f"), &identity, &unchanged), 0);
    EXPECT_FALSE(unchanged);

    EXPECT_EQ(vz::readWholeFile(Path("missing"), &contents), ENOENT);
    EXPECT_EQ(vz::readWholeFile(root_, &contents), EISDIR);
}

} // namespace
