// FolderListing.cpp: the open folder stream and the types of its last batch.
//
// Callers mostly ask for the names in the order they were handed out, so a
// lookup first tries the entry after the last one found. Any other order
// falls back to a small open-addressing table over the batch, built on the
// first such lookup, so that a name's type costs the same whatever the
// order. The table is at most half full; its memory and the batch's are kept
// from one batch to the next, so a listing allocates only while its batches
// grow.
#include "FolderListing.h"

#include <algorithm>
#include <functional>

namespace vz {

namespace {

constexpr size_t kFirstSlots = 64;

} // namespace

FolderListing::~FolderListing()
{
    (void)close();
}

int FolderListing::descriptor() const noexcept
{
    return stream_ != nullptr ? dirfd(stream_) : -1;
}

bool FolderListing::close() noexcept
{
    DIR *stream = stream_;
    stream_     = nullptr;
    return stream == nullptr || closedir(stream) == 0;
}

void FolderListing::clearBatch() noexcept
{
    names_.clear();
    entries_.clear();
    next_    = 0;
    indexed_ = false;
}

std::string_view FolderListing::nameAt(size_t index) const noexcept
{
    return std::string_view(names_).substr(entries_[index].offset, entries_[index].length);
}

void FolderListing::add(std::string_view name, unsigned char type) noexcept
{
    // Out of memory, the name is left out: the catalog call stats the item.
    try {
        Entry entry = {static_cast<uint32_t>(names_.size()), static_cast<uint16_t>(name.size()),
                       type};
        names_ += name;
        entries_.push_back(entry);
    } catch (...) {
    }
}

size_t FolderListing::slotFor(std::string_view name) const noexcept
{
    return std::hash<std::string_view>{}(name) & (slots_.size() - 1);
}

bool FolderListing::buildIndex() noexcept
{
    size_t wanted = kFirstSlots;
    while (wanted < entries_.size() * 2)
        wanted *= 2;
    try {
        if (slots_.size() < wanted) slots_.resize(wanted);
    } catch (...) {
        return false;
    }
    std::fill(slots_.begin(), slots_.end(), 0);
    for (size_t index = 0; index < entries_.size(); index++) {
        size_t slot = slotFor(nameAt(index));
        while (slots_[slot] != 0)
            slot = (slot + 1) & (slots_.size() - 1);
        slots_[slot] = static_cast<uint32_t>(index + 1);
    }
    indexed_ = true;
    return true;
}

unsigned char FolderListing::typeOf(std::string_view name) noexcept
{
    if (next_ < entries_.size() && nameAt(next_) == name) return entries_[next_++].type;
    if (!indexed_ && !buildIndex()) return DT_UNKNOWN;
    for (size_t slot = slotFor(name); slots_[slot] != 0; slot = (slot + 1) & (slots_.size() - 1)) {
        size_t index = slots_[slot] - 1;
        if (nameAt(index) == name) {
            next_ = index + 1;
            return entries_[index].type;
        }
    }
    return DT_UNKNOWN;
}

} // namespace vz
