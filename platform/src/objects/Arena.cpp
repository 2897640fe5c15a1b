// Arena.cpp: object blocks and the thread's current arena.
#include "Arena.h"

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VZ_ARENA_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VZ_ARENA_ASAN 1
#endif
#ifdef VZ_ARENA_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace vz {

namespace {

constexpr size_t kBlockBytes =
    ObjectArena::kBlockBytes; // a power of two: a block is found from an address
constexpr size_t  kAlignment   = 16;
constexpr int64_t kOpenBias    = int64_t(1) << 40;
constexpr size_t  kHeaderBytes = kAlignment;
// Larger objects (a dictionary of thousands of entries) come from malloc.
// Up to half a block, an object that does not fit the rest of the current
// block costs that rest, at most once per large object; in return the table
// of a dictionary of a thousand entries lives in the tree's own blocks,
// which a reader lends from pages the process already has.
constexpr size_t kLargestObject = kBlockBytes / 2;

// freeBlock: how an adopted block goes back to its owner; nullptr for one
// from malloc.
struct BlockHeader {
    std::atomic<int64_t> live;
    void (*freeBlock)(void *, size_t);
};
static_assert(sizeof(BlockHeader) <= kHeaderBytes);

// An adopted block waiting to be carved: the next one.
struct AdoptedBlock {
    void *next;
    void (*freeBlock)(void *, size_t);
};

thread_local ObjectArena *tCurrent = nullptr;

BlockHeader *headerOf(void *memory) noexcept
{
    return reinterpret_cast<BlockHeader *>(reinterpret_cast<uintptr_t>(memory) &
                                           ~(uintptr_t(kBlockBytes) - 1));
}

void release(BlockHeader *header, int64_t count) noexcept
{
    if (header->live.fetch_sub(count, std::memory_order_acq_rel) != count) return;
    void (*freeBlock)(void *, size_t) = header->freeBlock;
    header->~BlockHeader();
    if (freeBlock != nullptr) {
#ifdef VZ_ARENA_ASAN
        ASAN_UNPOISON_MEMORY_REGION(header, kBlockBytes);
#endif
        freeBlock(header, kBlockBytes);
    } else {
        std::free(header);
    }
}

#ifdef VZ_ARENA_ASAN
// Under AddressSanitizer each object keeps its size just before it, so that
// a freed object is poisoned again and a use after free is still caught.
constexpr size_t kSizeRecord = kAlignment;
#else
constexpr size_t kSizeRecord = 0;
#endif

} // namespace

ObjectArena::~ObjectArena()
{
    leaveBlock();
    while (adopted_ != nullptr) {
        auto *block = static_cast<AdoptedBlock *>(adopted_);
        adopted_    = block->next;
        block->freeBlock(block, kBlockBytes);
    }
}

void ObjectArena::adoptBlock(void *memory, void (*freeBlock)(void *, size_t)) noexcept
{
    auto *block = new (memory) AdoptedBlock{adopted_, freeBlock};
    adopted_    = block;
}

ObjectArena::Scope::Scope(ObjectArena &arena) noexcept : previous_(tCurrent)
{
    tCurrent = &arena;
}

ObjectArena::Scope::~Scope()
{
    tCurrent = previous_;
}

void ObjectArena::leaveBlock() noexcept
{
    if (block_ == nullptr) return;
    release(reinterpret_cast<BlockHeader *>(block_), kOpenBias - made_);
    block_ = nullptr;
}

void *ObjectArena::allocate(size_t bytes) noexcept
{
    size_t size = (bytes + kSizeRecord + kAlignment - 1) & ~(kAlignment - 1);
    if (size > kLargestObject) return nullptr;
    if (block_ == nullptr || used_ + size > kBlockBytes) {
        leaveBlock();
        void *memory                      = nullptr;
        void (*freeBlock)(void *, size_t) = nullptr;
        if (adopted_ != nullptr) {
            auto *block = static_cast<AdoptedBlock *>(adopted_);
            adopted_    = block->next;
            freeBlock   = block->freeBlock;
            memory      = block;
        } else {
            memory = std::aligned_alloc(kBlockBytes, kBlockBytes);
        }
        if (memory == nullptr) return nullptr;
        new (memory) BlockHeader{kOpenBias, freeBlock};
        block_ = static_cast<uint8_t *>(memory);
        used_  = kHeaderBytes;
        made_  = 0;
#ifdef VZ_ARENA_ASAN
        ASAN_POISON_MEMORY_REGION(block_ + kHeaderBytes, kBlockBytes - kHeaderBytes);
#endif
    }
    uint8_t *object = block_ + used_ + kSizeRecord;
    used_ += size;
    made_++;
#ifdef VZ_ARENA_ASAN
    ASAN_UNPOISON_MEMORY_REGION(object - kSizeRecord, size);
    *reinterpret_cast<size_t *>(object - kSizeRecord) = size;
    ASAN_POISON_MEMORY_REGION(object - kSizeRecord, kSizeRecord);
#endif
    return object;
}

void *arenaAllocate(size_t bytes) noexcept
{
    return tCurrent != nullptr ? tCurrent->allocate(bytes) : nullptr;
}

void arenaFree(void *memory) noexcept
{
#ifdef VZ_ARENA_ASAN
    auto *record = static_cast<uint8_t *>(memory) - kSizeRecord;
    ASAN_UNPOISON_MEMORY_REGION(record, kSizeRecord);
    size_t size = *reinterpret_cast<size_t *>(record);
    ASAN_POISON_MEMORY_REGION(record, size);
#endif
    release(headerOf(memory), 1);
}

} // namespace vz
