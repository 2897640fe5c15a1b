// PlistFile.cpp: property-list files read in pieces into the parser.
#include "PlistFile.h"

#include "LentBuffer.h"
#include "PlistReader.h"
#include "StringStorage.h"
#include "Syscalls.h"
#include "UniqueFd.h"
#include "WholeFile.h"

#include <VZPlatformTools.h>

#include <cerrno>
#include <sys/mman.h>
#include <unistd.h>

namespace vz {

namespace {

// How often a read is retried when the file changes while being read, as
// readWholeFile() retries.
constexpr int kReadAttempts = 5;

// The file is read into the parser in one final piece, because expat skips
// its line-and-column pass over the final piece (about a sixth of its work);
// the pages of it already parsed are lent to the tree or go back to the
// system during the parse, so the file's bytes cost no more memory than the
// tree built from them, and the tree needs few pages of its own. Only a
// file that grew while it was read has more, read in pieces of this size.
constexpr size_t kPiece = 256 * 1024;

// Reads up to count bytes at bytes; how many (fewer only at the end of the
// file), or -1 with errno.
ssize_t readFully(int fd, uint8_t *bytes, size_t count) noexcept
{
    size_t done = 0;
    while (done < count) {
        ssize_t n = sys::read(fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

// One attempt: 0, EAGAIN when the file changed during the read, EBADMSG, or
// an errno.
// With releaseParsed, the parsed pages of the file's bytes go back to the
// system during the parse (and a refusal says no position).
int readOnce(const std::string &path, CFOptionFlags mutabilityOption, bool releaseParsed,
             CFRef<CFPropertyListRef> *result, std::string *message, bool *releasedInput) noexcept
{
    UniqueFd    fd;
    struct stat before;
    if (int error = openBoundedFile(path, &fd, &before); error != 0) return error;

    PlistReader reader(mutabilityOption, &lendingParserMemory());
    if (releaseParsed) releaseAndLendParsedInput(reader);
    auto   size   = static_cast<size_t>(before.st_size);
    size_t total  = 0;
    bool   parsed = true;
    for (bool last = false; parsed && !last;) {
        // One byte more than the file claims, so that its end shows as a
        // short read.
        size_t piece = total == 0 ? size + 1 : kPiece;
        auto  *space = static_cast<uint8_t *>(reader.buffer(piece));
        if (space == nullptr) return ENOMEM;
        ssize_t n = readFully(fd.get(), space, piece);
        if (n < 0) return errno;
        total += static_cast<size_t>(n);
        if (total > kMaxFileBytes) return EFBIG; // it grew while being read
        last   = static_cast<size_t>(n) < piece;
        parsed = reader.parseBuffer(static_cast<size_t>(n), last);
    }

    // A refusal may come from a change made while the file was read: read
    // it again rather than blame the text.
    struct stat after;
    if (sys::fstat(fd.get(), &after) != 0) return errno;
    if (!FileIdentity::fromStat(before).sameMetadata(FileIdentity::fromStat(after)) ||
        (parsed && static_cast<off_t>(total) != after.st_size))
        return EAGAIN;
    CFRef<CFPropertyListRef> tree(reader.takeResult());
    if (!tree) {
        *releasedInput = reader.releasedInput();
        if (reader.ranOutOfMemory()) return ENOMEM;
        if (message != nullptr) *message = reader.errorMessage();
        return EBADMSG;
    }
    *result = std::move(tree);
    return 0;
}

} // namespace

int readPropertyListFile(const std::string &path, CFOptionFlags mutabilityOption,
                         CFRef<CFPropertyListRef> *result, std::string *message) noexcept
{
    return guarded(ENOMEM, [&] {
        int  error         = EAGAIN;
        bool releaseParsed = true;
        for (int attempt = 0; attempt < kReadAttempts && error == EAGAIN; attempt++) {
            bool releasedInput = false;
            error =
                readOnce(path, mutabilityOption, releaseParsed, result, message, &releasedInput);
            // A refusal after pages were released has lost its position:
            // once more, holding the file, for the line and column.
            if (error == EBADMSG && releasedInput) {
                releaseParsed = false;
                error         = EAGAIN;
            }
        }
        return error;
    });
}

} // namespace vz

int VZPropertyListCreateFromFile(const char *path, CFOptionFlags mutabilityOption,
                                 CFPropertyListRef *plist, CFStringRef *message) noexcept
{
    if (message != nullptr) *message = nullptr;
    if (path == nullptr || plist == nullptr) return EINVAL;
    *plist = nullptr;
    return vz::guarded(ENOMEM, [&] {
        vz::CFRef<CFPropertyListRef> tree;
        std::string                  why;
        int error = vz::readPropertyListFile(path, mutabilityOption, &tree, &why);
        if (error == EBADMSG && message != nullptr)
            *message = vz::createStringFromUTF8(why.data(), why.size());
        *plist = tree.release();
        return error;
    });
}
