// PlistReader.h: reads an XML property list straight into objects.
//
// expat drives a small state machine: a stack of open containers (frames)
// over two stacks of finished references, one for values and one for the keys
// of open dictionaries. A leaf element's text is gathered until its end tag
// and turned into one object; a container's end tag hands the references
// above its frame to one adopting constructor, so building a tree costs one
// allocation per object and no retain or release per value. Dictionary keys
// of equal text share one string object for the whole parse, and so do small
// integers and (when leaves are immutable) short strings, which keeps a store
// of thousands of services small.
//
// Invariants between callbacks: every reference on the two stacks is owned
// by the reader; a dictionary frame holds as many keys as values, or one key
// more while that key's value is being read; nothing is left on the stacks
// after a successful parse but the root, and nothing at all after a failure.
//
// The document may come in pieces of any size (down to one byte); the first
// failure stops the parser and is kept, with its line and column, as the
// message.
#ifndef VZ_PLATFORM_PLISTREADER_H
#define VZ_PLATFORM_PLISTREADER_H

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vz {

// Containers nested deeper than this are refused, by the reader and the
// writer alike.
constexpr size_t kMaxPlistDepth = 512;

// How the parser gets and gives back its memory, its input buffer among it
// (the signatures of malloc, realloc and free).
struct PlistReaderMemory {
    void *(*allocate)(size_t);
    void *(*reallocate)(void *, size_t);
    void (*free)(void *);
};

class PlistReader {
  public:
    // mutabilityOption: kCFPropertyListImmutable, ...MutableContainers or
    // ...MutableContainersAndLeaves. memory: the parser's allocator, when not
    // malloc's (it must outlive the reader).
    explicit PlistReader(CFOptionFlags            mutabilityOption,
                         const PlistReaderMemory *memory = nullptr) noexcept;
    ~PlistReader();
    PlistReader(const PlistReader &)            = delete;
    PlistReader &operator=(const PlistReader &) = delete;

    // Parses the next piece of the document; isFinal marks the last piece.
    // False once the document has been refused (then see errorMessage()).
    // expat copies what it is given; the last piece it takes in one call,
    // which spares it a pass over those bytes, so a document parsed whole
    // costs a copy of itself for the length of the parse.
    [[nodiscard]] bool feed(const uint8_t *bytes, size_t count, bool isFinal) noexcept;

    // The same without the copy, for a reader of a file: buffer() gives
    // room in expat's own buffer for the next count bytes (nullptr when the
    // reader has failed or memory runs out), and parseBuffer() parses the
    // count bytes put there.
    [[nodiscard]] void *buffer(size_t count) noexcept;
    [[nodiscard]] bool  parseBuffer(size_t count, bool isFinal) noexcept;

    // For a reader given a whole file as the final piece of buffer(): while
    // that piece is parsed, the pages of it the parse has left behind go
    // back to the system through releasePages(start, count) (whole pages of
    // pageSize, a power of two), so that the file's bytes and the tree made
    // of them are not held at once. The released bytes are gone: a refusal
    // after a release says why but not where (releasedInput() tells), and
    // the caller parses again without releasing to learn the position.
    void releaseParsedInput(size_t pageSize, void (*releasePages)(void *, size_t)) noexcept;
    bool releasedInput() const noexcept;
    // After releaseParsedInput(), for a caller whose buffer lets its
    // parsed pages be owned one block at a time: each whole arena block
    // (ObjectArena::kBlockBytes, aligned) among the pages given up that
    // lendBlock(start) accepts goes to the tree's arena instead of the
    // system, which carves the tree's objects from it and gives it back
    // through freeBlock(start, count) when its last object is gone; the
    // caller leaves accepted blocks alone when it frees the buffer. The tree
    // takes the place of the bytes it was read from, without new pages.
    void lendParsedInput(bool (*lendBlock)(void *), void (*freeBlock)(void *, size_t)) noexcept;

    // After a parse, whether some dictionary of the document may have a key
    // equal to key: false only when none has (the reader keeps one object
    // per key text), so that a caller looking for a rare key in the tree
    // can skip the walk.
    bool mayHaveReadKey(CFStringRef key) const noexcept;

    // After a successful final feed, hands out the root (+1 reference);
    // nullptr otherwise or when already taken.
    [[nodiscard]] CFPropertyListRef takeResult() noexcept;

    // UTF-8 text saying why the document was refused, with line and column;
    // empty while nothing failed.
    const std::string &errorMessage() const noexcept;
    // Whether the document was refused because memory ran out, not for
    // what it holds.
    bool ranOutOfMemory() const noexcept;

    struct State; // the expat callbacks' view of the reader

  private:
    bool admitPiece() noexcept;
    bool afterPiece(bool parsed, bool isFinal) noexcept;

    std::unique_ptr<State> state_;
};

// Reads a whole document. On failure returns nullptr and, when error is not
// null, stores the message there.
CFPropertyListRef readPropertyList(const uint8_t *bytes, size_t count,
                                   CFOptionFlags mutabilityOption, std::string *error) noexcept;

} // namespace vz

#endif
