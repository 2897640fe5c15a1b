// PlistWriter.h: writes a property-list tree as XML in the one canonical
// layout:
//
//   <?xml version="1.0" encoding="UTF-8"?>
//   <plist version="1.0">
//   <dict>
//   	<key>Name</key>
//   	<string>value</string>
//   </dict>
//   </plist>
//
// One element per line, indented with tabs by depth; dictionary keys in
// literal UTF-16 order (so the output does not depend on insertion order);
// empty containers as <dict/> and <array/>; data as base64 lines of 76
// characters at the indentation of their <data> tag; dates in UTC; integers
// in decimal; reals in the shortest text that reads back to the same double
// ("nan", "inf" and "-inf" for the values without digits); & < > escaped, and
// a carriage return written as a character reference so that reading does not
// turn it into a line feed.
//
// A tree the format cannot carry is refused as a whole: a string holding a
// control character other than tab, line feed and carriage return, U+FFFE,
// U+FFFF or an unpaired surrogate; a key that is not a string; an object of
// a kind that is not a property-list value; a container made with callbacks
// that do not hold objects; a date outside years 0000-9999; containers nested
// deeper than the reader accepts (which also stops a mutable container that
// holds itself).
#ifndef VZ_PLATFORM_PLISTWRITER_H
#define VZ_PLATFORM_PLISTWRITER_H

#include <CoreFoundation/CoreFoundation.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace vz {

// A growing byte buffer from malloc, so that a finished document can be
// handed to a data object without a copy.
class OutputBuffer {
  public:
    OutputBuffer() noexcept = default;
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer &)            = delete;
    OutputBuffer &operator=(const OutputBuffer &) = delete;

    // Both throw std::bad_alloc when the buffer cannot grow.
    void append(const char *bytes, size_t count)
    {
        if (capacity_ - size_ < count) grow(count);
        __builtin_memcpy(data_ + size_, bytes, count);
        size_ += count;
    }
    void push(char c)
    {
        if (size_ == capacity_) grow(1);
        data_[size_++] = c;
    }
    void append(std::string_view text) { append(text.data(), text.size()); }

    const char *data() const noexcept { return data_; }
    size_t      size() const noexcept { return size_; }
    // Hands the malloc'd block to the caller (nullptr when empty).
    [[nodiscard]] char *release() noexcept;

  private:
    void grow(size_t atLeast);

    char  *data_     = nullptr;
    size_t size_     = 0;
    size_t capacity_ = 0;
};

// Appends the document to out. False when the tree cannot be written; then
// error (when given) says why, and out holds a partial document the caller
// must discard. May throw std::bad_alloc.
[[nodiscard]] bool writePropertyList(CFPropertyListRef root, OutputBuffer &out, std::string *error);

// Whether every object of the tree is a property-list value, every key a
// string and the nesting within the reader's limit (the text of strings and
// dates is not looked at).
bool isPropertyListTree(CFPropertyListRef root) noexcept;

} // namespace vz

#endif
