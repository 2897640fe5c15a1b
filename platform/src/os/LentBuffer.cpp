// LentBuffer.cpp: mapped parser buffers and their lent blocks.
#include "LentBuffer.h"

#include "Arena.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sys/mman.h>
#include <unistd.h>

namespace vz {

namespace {

constexpr size_t kBlock = ObjectArena::kBlockBytes;
// Smaller buffers are not worth a mapping of their own.
constexpr size_t kMapAtLeast = 4 * kBlock;
// Enough for the buffer of the largest file the platform reads (expat
// doubles its buffer up to the first power of two that holds the file).
constexpr size_t kMostBlocks = 4096;

struct Mapping {
    uintptr_t                              start = 0; // 0: a free slot
    size_t                                 bytes = 0;
    std::array<uint64_t, kMostBlocks / 64> lent{};
};

struct Table {
    std::mutex             mutex;
    std::array<Mapping, 8> slots;
};

Table &table() noexcept
{
    static Table t;
    return t;
}

uintptr_t firstBlock(const Mapping &m) noexcept
{
    return (m.start + kBlock - 1) & ~(uintptr_t(kBlock) - 1);
}

bool isLent(const Mapping &m, uintptr_t block) noexcept
{
    size_t index = (block - firstBlock(m)) / kBlock;
    return (m.lent[index / 64] >> (index % 64)) & 1;
}

void *allocate(size_t bytes) noexcept
{
    if (bytes < kMapAtLeast || bytes > kMostBlocks * kBlock) return std::malloc(bytes);
    static const size_t page  = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    size_t              total = (bytes + page - 1) & ~(page - 1);
    Table              &t     = table();
    std::lock_guard     hold(t.mutex);
    for (Mapping &m : t.slots) {
        if (m.start != 0) continue;
        // A document's first page holds the start tags of its outermost
        // containers, open for the whole parse, so the block it lies in is
        // never lent: the buffer is placed so that its first page is the
        // last of a block, and every block after it can be.
        void *memory = ::mmap(nullptr, total + kBlock, PROT_READ | PROT_WRITE,
                              MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) return nullptr;
        auto      raw   = reinterpret_cast<uintptr_t>(memory);
        uintptr_t start = ((raw + page + kBlock - 1) & ~(uintptr_t(kBlock) - 1)) - page;
        if (start > raw) ::munmap(memory, start - raw);
        ::munmap(reinterpret_cast<void *>(start + total), raw + kBlock - start); // at least a page
        m.start = start;
        m.bytes = total;
        m.lent.fill(0);
        return reinterpret_cast<void *>(start);
    }
    return std::malloc(bytes);
}

// Unmaps the mapping but its lent blocks; t.mutex held.
void unmapAllButLent(Mapping &m) noexcept
{
    uintptr_t end  = m.start + m.bytes;
    uintptr_t from = m.start;
    for (uintptr_t block = firstBlock(m); block + kBlock <= end; block += kBlock) {
        if (!isLent(m, block)) continue;
        if (block > from) ::munmap(reinterpret_cast<void *>(from), block - from);
        from = block + kBlock;
    }
    if (end > from) ::munmap(reinterpret_cast<void *>(from), end - from);
    m = Mapping{};
}

Mapping *mappingAt(Table &t, uintptr_t start) noexcept
{
    for (Mapping &m : t.slots)
        if (m.start != 0 && m.start == start) return &m;
    return nullptr;
}

void release(void *memory) noexcept
{
    if (memory == nullptr) return;
    Table &t = table();
    {
        std::lock_guard hold(t.mutex);
        if (Mapping *m = mappingAt(t, reinterpret_cast<uintptr_t>(memory))) {
            unmapAllButLent(*m);
            return;
        }
    }
    std::free(memory);
}

void *reallocate(void *memory, size_t bytes) noexcept
{
    size_t old = 0;
    {
        Table          &t = table();
        std::lock_guard hold(t.mutex);
        if (Mapping *m = mappingAt(t, reinterpret_cast<uintptr_t>(memory))) old = m->bytes;
    }
    if (old == 0) return std::realloc(memory, bytes);
    void *moved = allocate(bytes);
    if (moved == nullptr) return nullptr;
    std::memcpy(moved, memory, old < bytes ? old : bytes);
    release(memory);
    return moved;
}

const PlistReaderMemory kMemory{allocate, reallocate, release};

} // namespace

const PlistReaderMemory &lendingParserMemory() noexcept
{
    return kMemory;
}

namespace {

// The pages are the reader's to give up: when the system keeps them, the
// parse only holds more memory.
void releasePages(void *start, size_t count) noexcept
{
    (void)::madvise(start, count, MADV_DONTNEED);
}

bool lendBufferBlock(void *block) noexcept
{
    auto            at = reinterpret_cast<uintptr_t>(block);
    Table          &t  = table();
    std::lock_guard hold(t.mutex);
    for (Mapping &m : t.slots) {
        if (m.start == 0 || at < firstBlock(m) || at + kBlock > m.start + m.bytes) continue;
        size_t index = (at - firstBlock(m)) / kBlock;
        m.lent[index / 64] |= uint64_t(1) << (index % 64);
        return true;
    }
    return false;
}

void freeLentBlock(void *block, size_t count) noexcept
{
    ::munmap(block, count);
}

} // namespace

void releaseAndLendParsedInput(PlistReader &reader) noexcept
{
    static const long page = ::sysconf(_SC_PAGESIZE);
    reader.releaseParsedInput(page > 0 ? static_cast<size_t>(page) : 0, releasePages);
    reader.lendParsedInput(lendBufferBlock, freeLentBlock);
}

} // namespace vz
