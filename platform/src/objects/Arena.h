// Arena.h: blocks of objects for trees that are made, and die, as a whole.
//
// While an ObjectArena is current on a thread (an ObjectArena::Scope makes it
// so for the scope's life), the objects that thread makes
// (newObject, newObjectWithTail) are carved from 64 KiB blocks one after the
// other instead of coming from malloc one by one: the property-list reader
// makes the tree of a document so, a hundred thousand objects for a 10 MB
// store, which malloc and free would otherwise handle one at a time. An
// object of a block is freed by counting it out of the block; the block goes
// back to malloc once its last object is gone and its arena has moved on to
// another block. A block therefore lives as long as any object in it, which
// suits trees that live and die together (a snapshot of a store, a document
// read and released), and costs memory only when a few objects of a large
// tree outlive the rest.
//
// Invariants: a block's count is the number of its objects still alive,
// plus kOpenBias while an arena still carves from it, so it cannot reach
// zero before the arena has left it; a block is freed by whoever takes its
// count to zero, whatever thread that is. Objects of a block are never moved
// or resized.
#ifndef VZ_PLATFORM_ARENA_H
#define VZ_PLATFORM_ARENA_H

#include <cstddef>
#include <cstdint>

namespace vz {

class ObjectArena {
  public:
    ObjectArena() noexcept = default;
    ~ObjectArena(); // leaves its block to its objects
    ObjectArena(const ObjectArena &)            = delete;
    ObjectArena &operator=(const ObjectArena &) = delete;

    // bytes from the current block, or a new one; nullptr when bytes is too
    // large for a block or no block can be had.
    void *allocate(size_t bytes) noexcept;

    // The size and alignment of a block.
    static constexpr size_t kBlockBytes = 64 * 1024;

    // Takes memory another owner no longer needs as a block to carve from
    // before asking malloc for one: kBlockBytes at an address aligned to
    // kBlockBytes, given back through freeBlock(memory, kBlockBytes) once
    // the block's last object is gone (or at once by an arena that never
    // used it). The property-list reader lends it the pages of a file it has
    // parsed, so that the tree lives where the file's bytes were.
    void adoptBlock(void *memory, void (*freeBlock)(void *, size_t)) noexcept;

    // Makes an arena the thread's current one until the scope ends, when the
    // one before it comes back.
    class Scope {
      public:
        explicit Scope(ObjectArena &arena) noexcept;
        ~Scope();
        Scope(const Scope &)            = delete;
        Scope &operator=(const Scope &) = delete;

      private:
        ObjectArena *previous_;
    };

  private:
    void leaveBlock() noexcept;

    uint8_t *block_ = nullptr;
    size_t   used_  = 0;       // bytes of the block carved
    int64_t  made_  = 0;       // objects carved from the block
    void *adopted_  = nullptr; // blocks adopted and not yet carved, linked through their first word
};

// Room for an object from the thread's current arena; nullptr when there is
// none (then the object comes from malloc) or it has no room.
void *arenaAllocate(size_t bytes) noexcept;
// Frees an object's memory that arenaAllocate() gave.
void arenaFree(void *memory) noexcept;

} // namespace vz

#endif
