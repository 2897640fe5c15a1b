// vz-plutil: checks, rewrites and lists XML property-list files, for people
// who keep them by hand.
//
//   vz-plutil -lint FILE...                    one line per file: "FILE: OK" or why not;
//                                              exit 0 when every file reads, 1 otherwise
//   vz-plutil -convert xml1 [-o OUT] FILE      rewrite in the canonical layout, to OUT
//                                              ("-" for standard output) or in place
//   vz-plutil -p FILE                          a readable listing
//
// Exit status: 0 success, 1 a file could not be read, parsed or written, 2 a
// usage error. A file is only ever replaced whole (a temporary beside it,
// synced, then renamed over it, with the old file's mode), so a failure or a
// crash leaves the old file or the new one, never half of one.
#include <CoreFoundation/CoreFoundation.h>

#include "AtomicFile.h"
#include "Containers.h"
#include "PlistDate.h"
#include "PlistWriter.h"
#include "StringStorage.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

constexpr int kExitOK    = 0;
constexpr int kExitFail  = 1;
constexpr int kExitUsage = 2;

const char kUsage[] = "usage: vz-plutil -lint FILE...\n"
                      "       vz-plutil -convert xml1 [-o OUT] FILE\n"
                      "       vz-plutil -p FILE\n";

int usage()
{
    std::fputs(kUsage, stderr);
    return kExitUsage;
}

// The whole file, or an errno.
int readWholeFile(const char *path, std::string &bytes)
{
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    int  error = 0;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            error = errno;
            break;
        }
        if (n == 0) break;
        try {
            bytes.append(buffer, static_cast<size_t>(n));
        } catch (...) {
            error = ENOMEM;
            break;
        }
    }
    close(fd);
    return error;
}

// Owns one reference.
template <typename T> struct Owned {
    T ref = nullptr;
    ~Owned()
    {
        if (ref != nullptr) CFRelease(ref);
    }
};

// Reads and parses a file; on failure `why` says what went wrong.
CFPropertyListRef loadPropertyList(const char *path, std::string &why)
{
    std::string bytes;
    if (int error = readWholeFile(path, bytes); error != 0) {
        why = std::string("cannot read: ") + std::strerror(error);
        return nullptr;
    }
    Owned<CFDataRef> data;
    data.ref = CFDataCreateWithBytesNoCopy(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                           static_cast<CFIndex>(bytes.size()), kCFAllocatorNull);
    if (data.ref == nullptr) {
        why = "out of memory";
        return nullptr;
    }
    Owned<CFStringRef> message;
    CFPropertyListRef  plist =
        CFPropertyListCreateFromXMLData(nullptr, data.ref, kCFPropertyListImmutable, &message.ref);
    if (plist == nullptr)
        why = message.ref != nullptr ? vz::toUTF8String(message.ref) : "out of memory";
    return plist;
}

int lint(int count, char **paths)
{
    int status = kExitOK;
    for (int i = 0; i < count; ++i) {
        std::string       why;
        CFPropertyListRef plist = loadPropertyList(paths[i], why);
        if (plist != nullptr) {
            CFRelease(plist);
            std::printf("%s: OK\n", paths[i]);
        } else {
            std::printf("%s: %s\n", paths[i], why.c_str());
            status = kExitFail;
        }
    }
    return status;
}

int writeAllTo(int fd, const char *bytes, size_t count)
{
    while (count > 0) {
        ssize_t n = write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
    return 0;
}

int convert(const char *input, const char *output)
{
    std::string       why;
    CFPropertyListRef plist = loadPropertyList(input, why);
    if (plist == nullptr) {
        std::fprintf(stderr, "vz-plutil: %s: %s\n", input, why.c_str());
        return kExitFail;
    }
    vz::OutputBuffer text;
    bool             written = false;
    try {
        written = vz::writePropertyList(plist, text, &why);
    } catch (...) {
        why = "out of memory";
    }
    CFRelease(plist);
    if (!written) {
        std::fprintf(stderr, "vz-plutil: %s: cannot be written: %s\n", input, why.c_str());
        return kExitFail;
    }

    if (output != nullptr && std::strcmp(output, "-") == 0) {
        int error = writeAllTo(STDOUT_FILENO, text.data(), text.size());
        if (error != 0)
            std::fprintf(stderr, "vz-plutil: standard output: %s\n", std::strerror(error));
        return error == 0 ? kExitOK : kExitFail;
    }
    // In place, the file a symbolic link names is replaced, not the link.
    std::string target = output != nullptr ? output : input;
    if (output == nullptr) {
        char *resolved = realpath(input, nullptr);
        if (resolved != nullptr) {
            target = resolved;
            std::free(resolved);
        }
    }
    std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t *>(text.data()), text.size());
    bool                     replaced = false;
    int                      error = vz::writeFileAtomically(target, bytes, 0644, false, &replaced);
    if (error != 0) {
        std::fprintf(stderr, "vz-plutil: %s: %s%s\n", target.c_str(), std::strerror(error),
                     replaced ? " (written, but the folder could not be synced)" : "");
        return kExitFail;
    }
    return kExitOK;
}

// The readable listing: JSON-like quoting, two spaces per level, dictionary
// keys in the same order as the canonical file.
class Lister {
  public:
    void value(CFTypeRef value, int depth)
    {
        CFTypeID type = CFGetTypeID(value);
        if (type == CFStringGetTypeID()) return quote(static_cast<CFStringRef>(value));
        if (type == CFBooleanGetTypeID()) return text(value == kCFBooleanTrue ? "true" : "false");
        if (type == CFNumberGetTypeID()) return number(static_cast<CFNumberRef>(value));
        if (type == CFDateGetTypeID()) return date(static_cast<CFDateRef>(value));
        if (type == CFDataGetTypeID()) return data(static_cast<CFDataRef>(value));
        if (type == CFArrayGetTypeID()) return array(static_cast<CFArrayRef>(value), depth);
        if (type == CFDictionaryGetTypeID())
            return dictionary(static_cast<CFDictionaryRef>(value), depth);
        text("?");
    }
    const std::string &result() const { return out_; }

  private:
    void text(const char *s) { out_ += s; }
    void indent(int depth) { out_.append(static_cast<size_t>(depth) * 2, ' '); }

    void quote(CFStringRef string)
    {
        std::string utf8 = vz::toUTF8String(string);
        out_ += '"';
        for (unsigned char c : utf8) {
            switch (c) {
            case '"':
                out_ += "\\\"";
                break;
            case '\\':
                out_ += "\\\\";
                break;
            case '\n':
                out_ += "\\n";
                break;
            case '\t':
                out_ += "\\t";
                break;
            case '\r':
                out_ += "\\r";
                break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out_ += escape;
                } else {
                    out_ += static_cast<char>(c);
                }
            }
        }
        out_ += '"';
    }
    void number(CFNumberRef number)
    {
        char            buffer[64];
        char           *end   = buffer;
        vz::NumberValue value = vz::numberValue(number);
        switch (value.kind) {
        case vz::NumberKind::Signed:
            end = std::to_chars(buffer, buffer + 64, value.i).ptr;
            break;
        case vz::NumberKind::Unsigned:
            end = std::to_chars(buffer, buffer + 64, value.u).ptr;
            break;
        case vz::NumberKind::Real:
            if (std::isnan(value.d)) {
                end = std::strcpy(buffer, "nan") + 3;
                break;
            }
            end = std::to_chars(buffer, buffer + 64, value.d).ptr;
            // Keep a real recognisable as one.
            if (std::isfinite(value.d) &&
                std::find_if(buffer, end, [](char c) { return c == '.' || c == 'e'; }) == end) {
                *end++ = '.';
                *end++ = '0';
            }
            break;
        }
        out_.append(buffer, end);
    }
    void date(CFDateRef date)
    {
        out_ += "date ";
        if (!vz::appendPlistDate(CFDateGetAbsoluteTime(date), out_)) out_ += "(out of range)";
    }
    void data(CFDataRef data)
    {
        constexpr CFIndex kShown = 64;
        CFIndex           length = CFDataGetLength(data);
        const UInt8      *bytes  = CFDataGetBytePtr(data);
        char              line[64];
        std::snprintf(line, sizeof line, "<%ld bytes", static_cast<long>(length));
        out_ += line;
        if (length > 0) out_ += ' ';
        for (CFIndex i = 0; i < length && i < kShown; ++i) {
            std::snprintf(line, sizeof line, "%02x", bytes[i]);
            out_ += line;
        }
        out_ += length > kShown ? "...>" : ">";
    }
    void array(CFArrayRef array, int depth)
    {
        CFIndex count = CFArrayGetCount(array);
        if (count == 0) return text("[]");
        out_ += "[\n";
        for (CFIndex i = 0; i < count; ++i) {
            indent(depth + 1);
            value(CFArrayGetValueAtIndex(array, i), depth + 1);
            out_ += '\n';
        }
        indent(depth);
        out_ += ']';
    }
    void dictionary(CFDictionaryRef dict, int depth)
    {
        CFIndex count = CFDictionaryGetCount(dict);
        if (count == 0) return text("{}");
        std::vector<const void *> keys(static_cast<size_t>(count));
        std::vector<const void *> values(static_cast<size_t>(count));
        CFDictionaryGetKeysAndValues(dict, keys.data(), values.data());
        std::vector<size_t> order(keys.size());
        for (size_t i = 0; i < order.size(); ++i)
            order[i] = i;
        std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return CFStringCompare(static_cast<CFStringRef>(keys[a]),
                                   static_cast<CFStringRef>(keys[b]), 0) == kCFCompareLessThan;
        });
        out_ += "{\n";
        for (size_t i : order) {
            indent(depth + 1);
            quote(static_cast<CFStringRef>(keys[i]));
            out_ += " = ";
            value(values[i], depth + 1);
            out_ += '\n';
        }
        indent(depth);
        out_ += '}';
    }

    std::string out_;
};

int print(const char *path)
{
    std::string       why;
    CFPropertyListRef plist = loadPropertyList(path, why);
    if (plist == nullptr) {
        std::fprintf(stderr, "vz-plutil: %s: %s\n", path, why.c_str());
        return kExitFail;
    }
    Lister lister;
    lister.value(plist, 0);
    CFRelease(plist);
    std::string listing = lister.result() + "\n";
    return writeAllTo(STDOUT_FILENO, listing.data(), listing.size()) == 0 ? kExitOK : kExitFail;
}

int run(int argc, char **argv)
{
    if (argc < 3) return usage();
    std::string command = argv[1];
    if (command == "-lint") return lint(argc - 2, argv + 2);
    if (command == "-p") return argc == 3 ? print(argv[2]) : usage();
    if (command != "-convert") return usage();
    if (std::strcmp(argv[2], "xml1") != 0) {
        std::fprintf(stderr, "vz-plutil: unsupported format '%s' (only xml1)\n", argv[2]);
        return kExitUsage;
    }
    const char *output = nullptr;
    int         next   = 3;
    if (next < argc && std::strcmp(argv[next], "-o") == 0) {
        if (next + 1 >= argc) return usage();
        output = argv[next + 1];
        next += 2;
    }
    if (next + 1 != argc) return usage();
    return convert(argv[next], output);
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing below throws but the standard containers when memory runs out.
    try {
        return run(argc, argv);
    } catch (...) {
        std::fputs("vz-plutil: out of memory\n", stderr);
        return kExitFail;
    }
}
