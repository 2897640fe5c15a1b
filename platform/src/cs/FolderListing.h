// FolderListing.h: an open folder being listed, as the catalog calls see it.
//
// An iterator's folder stream lives here rather than in the iterator, so
// that while the iterator is open the catalog calls on the items of its
// folder can reach them by name relative to the open folder (fstatat and an
// attribute read beside it) instead of resolving the whole path from the
// root for every item. It also keeps the type readdir gave each name of the
// last batch, which tells a plain file or a folder without a stat.
//
// Invariants: everything is read and changed under mutex(). The stream is
// open from construction until close(); after it, open() is false and
// descriptor() is -1. The batch holds the names the last bulk call handed
// out, each with its readdir type, and nothing else.
#ifndef VZ_PLATFORM_FOLDERLISTING_H
#define VZ_PLATFORM_FOLDERLISTING_H

#include <cstdint>
#include <dirent.h>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vz {

class FolderListing {
  public:
    // Takes the stream, which close() or the destructor closes.
    explicit FolderListing(DIR *stream) noexcept : stream_(stream) {}
    ~FolderListing();
    FolderListing(const FolderListing &)            = delete;
    FolderListing &operator=(const FolderListing &) = delete;

    std::mutex &mutex() noexcept { return mutex_; }
    DIR        *stream() const noexcept { return stream_; }
    bool        open() const noexcept { return stream_ != nullptr; }
    int         descriptor() const noexcept;
    // Closes the stream; false when closedir fails (the stream is gone all
    // the same).
    bool close() noexcept;

    // A new batch replaces the last one. The types are hints: a name that
    // cannot be kept (no memory) is simply not found.
    void clearBatch() noexcept;
    void add(std::string_view name, unsigned char type) noexcept;
    // The readdir type of a name of the last batch; DT_UNKNOWN for any other.
    unsigned char typeOf(std::string_view name) noexcept;

  private:
    struct Entry {
        uint32_t      offset; // in names_
        uint16_t      length;
        unsigned char type;
    };

    std::string_view nameAt(size_t index) const noexcept;
    size_t           slotFor(std::string_view name) const noexcept;
    bool             buildIndex() noexcept;

    std::mutex            mutex_;
    DIR                  *stream_ = nullptr;
    std::string           names_;           // the batch's names, end to end
    std::vector<Entry>    entries_;         // the batch, in order
    size_t                next_    = 0;     // the entry after the last one found
    bool                  indexed_ = false; // slots_ holds this batch
    std::vector<uint32_t> slots_;           // open addressing: entry index + 1, 0 when free
};

} // namespace vz

#endif
