// PlistReaderFuzz.cpp: fuzz target for the property-list reader.
//
// Every input is read whole, again in two pieces split where the input's
// first byte says, and again as one final piece of the reader's buffer whose
// pages (of a pretend size, small enough for short inputs) are spoilt as soon
// as the reader gives them back; all three reads must agree, but for the
// position in a refusal. Whatever reads must write, read back
// equal and write the same text again. Inputs over 64 KiB are skipped: size
// only slows the search down. scripts/fuzz plist-reader SECONDS runs it.
#include "PlistReader.h"
#include "PlistWriter.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kMaxInput = 65535;

// Pages the reader gives back are emptied, as the system empties them.
void spoil(void *start, size_t count)
{
    std::memset(start, 0, count);
}

CFPropertyListRef readReleasing(const uint8_t *data, size_t size, CFOptionFlags option)
{
    vz::PlistReader reader(option);
    reader.releaseParsedInput(32, spoil);
    void *space = reader.buffer(size);
    if (space == nullptr) return nullptr;
    if (size > 0) std::memcpy(space, data, size);
    return reader.parseBuffer(size, true) ? reader.takeResult() : nullptr;
}

std::string textOf(CFPropertyListRef plist)
{
    vz::OutputBuffer out;
    if (!vz::writePropertyList(plist, out, nullptr)) std::abort(); // what reads must write
    return std::string(out.data(), out.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > kMaxInput) return 0;
    CFOptionFlags     option = size > 0 ? data[0] % 3 : 0;
    CFPropertyListRef whole  = vz::readPropertyList(data, size, option, nullptr);

    size_t          split = size > 0 ? (size_t(data[0]) * 257) % (size + 1) : 0;
    vz::PlistReader reader(option);
    bool ok = reader.feed(data, split, false) && reader.feed(data + split, size - split, true);
    CFPropertyListRef pieces = ok ? reader.takeResult() : nullptr;
    if ((whole == nullptr) != (pieces == nullptr)) std::abort();
    if (whole != nullptr && !CFEqual(whole, pieces)) std::abort();
    CFPropertyListRef released = readReleasing(data, size, option);
    if ((whole == nullptr) != (released == nullptr)) std::abort();
    if (whole != nullptr && !CFEqual(whole, released)) std::abort();
    if (released != nullptr) CFRelease(released);

    if (whole != nullptr) {
        std::string       first = textOf(whole);
        CFPropertyListRef back  = vz::readPropertyList(
             reinterpret_cast<const uint8_t *>(first.data()), first.size(), 0, nullptr);
        if (back == nullptr || !CFEqual(back, whole) || textOf(back) != first) std::abort();
        CFRelease(back);
        CFRelease(whole);
        CFRelease(pieces);
    }
    return 0;
}
