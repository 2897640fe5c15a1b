// FileURL.cpp: file URLs: making them from paths, strings and refs, and
// reading their paths back.
//
// The text of a file URL is "file://" and the path with every byte outside
// the unreserved and sub-delimiter characters (and ":", "@", "/")
// percent-encoded, so any path, whatever its bytes, has a text that reads
// back to the same path.
#include "FileURL.h"

#include "FileRefs.h"
#include "StringStorage.h"

#include <CoreServices/CoreServices.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

void destroyURL(vz::Object *object)
{
    vz::deleteObject<__CFURL>(object);
}

bool equalURLs(const vz::Object *a, const vz::Object *b)
{
    return vz::stringsEqual(static_cast<const __CFURL *>(a)->text.get(),
                            static_cast<const __CFURL *>(b)->text.get());
}

CFHashCode hashURL(const vz::Object *object)
{
    return vz::stringHash(static_cast<const __CFURL *>(object)->text.get());
}

CFStringRef describeURL(const vz::Object *object)
{
    return static_cast<CFStringRef>(CFRetain(static_cast<const __CFURL *>(object)->text.get()));
}

const vz::TypeClass kURLClass = {"CFURL", destroyURL, equalURLs, hashURL, describeURL};

constexpr std::string_view kFileScheme = "file://";

bool isAlphaNumeric(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Characters a path keeps unencoded in a URL's text.
bool keptInPath(unsigned char c)
{
    return isAlphaNumeric(c) || (c != 0 && std::strchr("-._~!$&'()*+,;=:@/", c) != nullptr);
}

// Characters a URL's text may hold at all (RFC 3986), "%" included.
bool allowedInURL(char16_t c)
{
    return c != 0 && c < 0x80 &&
           (isAlphaNumeric(static_cast<unsigned char>(c)) ||
            std::strchr("-._~:/?#[]@!$&'()*+,;=%", static_cast<char>(c)) != nullptr);
}

int hexValue(char16_t c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Folds repeated "/" and drops a trailing one (the root keeps its "/").
std::string foldSlashes(std::string_view path)
{
    std::string folded;
    folded.reserve(path.size());
    for (char c : path) {
        if (c == '/' && !folded.empty() && folded.back() == '/') continue;
        folded += c;
    }
    if (folded.size() > 1 && folded.back() == '/') folded.pop_back();
    return folded;
}

// The UTF-8 form of a path given as a string; nothing when the string has
// no such form (an unpaired surrogate), as no file has such a path.
std::optional<std::string> utf8Path(CFStringRef string)
{
    CFIndex length = CFStringGetLength(string);
    if (CFStringGetBytes(string, CFRangeMake(0, length), kCFStringEncodingUTF8, 0, false, nullptr,
                         0, nullptr) != length)
        return std::nullopt;
    return vz::toUTF8String(string);
}

CFURLRef newURL(std::string path, bool directory, CFStringRef text)
{
    auto *url = vz::newObject<__CFURL>(CFURLGetTypeID());
    if (url == nullptr) return nullptr;
    url->path      = std::move(path);
    url->directory = directory;
    url->text      = vz::CFRef<CFStringRef>::retain(text);
    return url;
}

CFURLRef makeFileURL(std::string_view given, bool isDirectory)
{
    if (given.empty() || given.find('\0') != std::string_view::npos) return nullptr;
    std::string absolute;
    if (given.front() != '/') {
        char *cwd = getcwd(nullptr, 0);
        if (cwd == nullptr) return nullptr;
        absolute = cwd;
        std::free(cwd);
        absolute += '/';
    }
    absolute += given;
    std::string path      = foldSlashes(absolute);
    bool        directory = isDirectory || path == "/";

    std::string text(kFileScheme);
    char        escape[4];
    for (unsigned char c : path) {
        if (keptInPath(c)) {
            text += static_cast<char>(c);
            continue;
        }
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        text += escape;
    }
    if (directory && path != "/") text += '/';
    vz::CFRef<CFStringRef> string(vz::createStringFromUTF8(text.data(), text.size()));
    if (!string) return nullptr;
    return newURL(std::move(path), directory, string.get());
}

// Parses an absolute URL's text.
CFURLRef parseURL(CFStringRef string)
{
    std::u16string units = vz::toU16String(string);
    size_t         colon = units.find(u':');
    if (colon == 0 || colon == std::u16string::npos) return nullptr;
    for (size_t i = 0; i < units.size(); i++) {
        char16_t c = units[i];
        if (!allowedInURL(c)) return nullptr;
        if (i < colon && !(isAlphaNumeric(static_cast<unsigned char>(c)) && (i > 0 || c > '9')) &&
            !(i > 0 && (c == '+' || c == '-' || c == '.')))
            return nullptr;
    }
    std::string ascii(units.begin(), units.end());
    std::string scheme = ascii.substr(0, colon);
    for (char &c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "file") {
        for (size_t i = colon + 1; i < ascii.size(); i++) {
            if (ascii[i] == '%' &&
                (i + 2 >= ascii.size() || hexValue(ascii[i + 1]) < 0 || hexValue(ascii[i + 2]) < 0))
                return nullptr;
        }
        return newURL(std::string(), false, string);
    }

    // file:///path, file://localhost/path or file:/path; the path ends at a
    // query or fragment.
    std::string_view rest = std::string_view(ascii).substr(colon + 1);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        size_t slash = rest.find('/');
        if (slash == std::string_view::npos) return nullptr;
        std::string_view host = rest.substr(0, slash);
        if (!host.empty() && host != "localhost") return newURL(std::string(), false, string);
        rest.remove_prefix(slash);
    }
    rest = rest.substr(0, rest.find_first_of("?#"));
    if (rest.empty() || rest.front() != '/') return nullptr;
    std::string path;
    for (size_t i = 0; i < rest.size(); i++) {
        if (rest[i] != '%') {
            path += rest[i];
            continue;
        }
        int high = i + 2 < rest.size() ? hexValue(rest[i + 1]) : -1;
        int low  = i + 2 < rest.size() ? hexValue(rest[i + 2]) : -1;
        if (high < 0 || low < 0 || (high == 0 && low == 0)) return nullptr;
        path += static_cast<char>(high * 16 + low);
        i += 2;
    }
    bool directory = path.back() == '/';
    return newURL(foldSlashes(path), directory || path == "/", string);
}

} // namespace

namespace vz {

CFURLRef createFileURL(std::string_view path, bool isDirectory) noexcept
{
    return guarded<CFURLRef>(nullptr, [&] { return makeFileURL(path, isDirectory); });
}

const std::string *filePathOf(CFURLRef url) noexcept
{
    if (url == nullptr || CFGetTypeID(url) != CFURLGetTypeID() || url->path.empty()) return nullptr;
    return &url->path;
}

void checkURL(CFTypeRef url, const char *function) noexcept
{
    if (url != nullptr && CFGetTypeID(url) == CFURLGetTypeID()) return;
    char message[128];
    std::snprintf(message, sizeof message, "%s called with something that is not a URL", function);
    fatal(message);
}

} // namespace vz

CFTypeID CFURLGetTypeID(void) noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kURLClass);
    return type;
}

CFURLRef CFURLCreateWithFileSystemPath(CFAllocatorRef, CFStringRef filePath,
                                       CFURLPathStyle pathStyle, Boolean isDirectory) noexcept
{
    if (filePath == nullptr || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
    vz::checkString(filePath, "CFURLCreateWithFileSystemPath");
    return vz::guarded<CFURLRef>(nullptr, [&]() -> CFURLRef {
        std::optional<std::string> path = utf8Path(filePath);
        return path ? makeFileURL(*path, isDirectory) : nullptr;
    });
}

CFURLRef CFURLCreateFromFileSystemRepresentation(CFAllocatorRef, const UInt8 *buffer,
                                                 CFIndex bufLen, Boolean isDirectory) noexcept
{
    if (buffer == nullptr || bufLen <= 0) return nullptr;
    return vz::createFileURL(
        std::string_view(reinterpret_cast<const char *>(buffer), static_cast<size_t>(bufLen)),
        isDirectory);
}

CFURLRef CFURLCreateWithString(CFAllocatorRef, CFStringRef URLString, CFURLRef baseURL) noexcept
{
    if (URLString == nullptr || baseURL != nullptr) return nullptr;
    vz::checkString(URLString, "CFURLCreateWithString");
    return vz::guarded<CFURLRef>(nullptr, [&] { return parseURL(URLString); });
}

CFURLRef CFURLCreateCopyAppendingPathComponent(CFAllocatorRef, CFURLRef url,
                                               CFStringRef pathComponent,
                                               Boolean     isDirectory) noexcept
{
    vz::checkURL(url, "CFURLCreateCopyAppendingPathComponent");
    const std::string *path = vz::filePathOf(url);
    if (path == nullptr || pathComponent == nullptr) return nullptr;
    vz::checkString(pathComponent, "CFURLCreateCopyAppendingPathComponent");
    if (CFStringGetLength(pathComponent) == 0) return nullptr;
    return vz::guarded<CFURLRef>(nullptr, [&]() -> CFURLRef {
        std::optional<std::string> component = utf8Path(pathComponent);
        return component ? makeFileURL(*path + "/" + *component, isDirectory) : nullptr;
    });
}

CFURLRef CFURLCreateFromFSRef(CFAllocatorRef, const struct FSRef *fsRef) noexcept
{
    if (fsRef == nullptr) return nullptr;
    return vz::guarded<CFURLRef>(nullptr, [&]() -> CFURLRef {
        std::optional<vz::RefBody> body = vz::readRef(fsRef);
        if (!body) return nullptr;
        std::string path = vz::itemPath(*body);
        struct stat info;
        if (stat(path.c_str(), &info) != 0) return nullptr;
        return makeFileURL(path, S_ISDIR(info.st_mode));
    });
}

CFStringRef CFURLGetString(CFURLRef anURL) noexcept
{
    vz::checkURL(anURL, "CFURLGetString");
    return anURL->text.get();
}

Boolean CFURLHasDirectoryPath(CFURLRef anURL) noexcept
{
    vz::checkURL(anURL, "CFURLHasDirectoryPath");
    return anURL->directory;
}

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean, UInt8 *buffer,
                                         CFIndex maxBufLen) noexcept
{
    vz::checkURL(url, "CFURLGetFileSystemRepresentation");
    const std::string *path = vz::filePathOf(url);
    if (path == nullptr || buffer == nullptr || maxBufLen <= 0 ||
        path->size() + 1 > static_cast<size_t>(maxBufLen))
        return false;
    std::memcpy(buffer, path->c_str(), path->size() + 1);
    return true;
}

CFStringRef CFURLCopyFileSystemPath(CFURLRef anURL, CFURLPathStyle pathStyle) noexcept
{
    vz::checkURL(anURL, "CFURLCopyFileSystemPath");
    const std::string *path = vz::filePathOf(anURL);
    if (path == nullptr || pathStyle != kCFURLPOSIXPathStyle) return nullptr;
    return vz::createStringFromUTF8(path->data(), path->size());
}
