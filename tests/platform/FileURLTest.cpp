// FileURLTest.cpp: file URLs from paths, strings and refs, their paths read
// back, and whole-file reads by URL with the URL error codes.
#include "StoreTestSupport.h"

#include <CoreServices/CoreServices.h>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

using namespace vztest;

namespace {

class FileURL : public TempRoot {
  protected:
    static Ref<CFURLRef> FromPath(const std::string &path, bool isDirectory = false)
    {
        return Ref<CFURLRef>(CFURLCreateWithFileSystemPath(nullptr, Str(path.c_str()),
                                                           kCFURLPOSIXPathStyle, isDirectory));
    }
    static std::string PathOf(CFURLRef url)
    {
        UInt8 buffer[4096];
        if (!CFURLGetFileSystemRepresentation(url, true, buffer, sizeof buffer)) return "(none)";
        return reinterpret_cast<const char *>(buffer);
    }
    // Reads the file at url: the data's text, or the error code.
    static std::string ReadURL(CFURLRef url, SInt32 *error)
    {
        CFDataRef data = nullptr;
        Boolean   ok =
            CFURLCreateDataAndPropertiesFromResource(nullptr, url, &data, nullptr, nullptr, error);
        EXPECT_EQ(ok != 0, data != nullptr);
        EXPECT_EQ(ok != 0, *error == 0);
        if (data == nullptr) return std::string();
        std::string text(reinterpret_cast<const char *>(CFDataGetBytePtr(data)),
                         static_cast<size_t>(CFDataGetLength(data)));
        CFRelease(data);
        return text;
    }
};

TEST_F(FileURL, PathsMakeEncodedFileURLsThatReadBack)
{
    const struct {
        const char *path;
        bool        isDirectory;
        const char *text;
        const char *back;
    } rows[] = {
        {"/etc/hosts", false, "file:///etc/hosts", "/etc/hosts"},
        {"/Library/Modem Scripts", true, "file:///Library/Modem%20Scripts/",
         "/Library/Modem Scripts"},
        {"//a///b/", false, "file:///a/b", "/a/b"},
        {"/", false, "file:///", "/"},
        {"/a/./b/../c", false, "file:///a/./b/../c", "/a/./b/../c"},
        {"/caf\xC3\xA9 #1?%", false, "file:///caf%C3%A9%20%231%3F%25", "/caf\xC3\xA9 #1?%"},
        {"/keep-._~!$&'()*+,;=:@", false, "file:///keep-._~!$&'()*+,;=:@",
         "/keep-._~!$&'()*+,;=:@"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.path);
        Ref<CFURLRef> url = FromPath(row.path, row.isDirectory);
        ASSERT_TRUE(url);
        EXPECT_EQ(Utf8(CFURLGetString(url)), row.text);
        EXPECT_EQ(PathOf(url), row.back);
        Ref<CFStringRef> path(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle));
        EXPECT_EQ(Utf8(path), row.back);
        // The text reads back to an equal URL.
        Ref<CFURLRef> again(CFURLCreateWithString(nullptr, CFURLGetString(url), nullptr));
        ASSERT_TRUE(again);
        EXPECT_TRUE(CFEqual(url, again));
        EXPECT_EQ(PathOf(again), row.back);
    }

    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    EXPECT_EQ(PathOf(FromPath("relative/file")), std::string(cwd) + "/relative/file");

    EXPECT_FALSE(FromPath(""));
    EXPECT_FALSE(CFURLCreateWithFileSystemPath(nullptr, CFSTR("/a"), kCFURLHFSPathStyle, false));
    const UniChar    lone[] = {'/', 'a', 0xD800};
    Ref<CFStringRef> unpaired(CFStringCreateWithCharacters(nullptr, lone, 3));
    EXPECT_FALSE(CFURLCreateWithFileSystemPath(nullptr, unpaired, kCFURLPOSIXPathStyle, false));

    // A path whose bytes are not UTF-8 still makes a URL; only its string
    // form is refused.
    const UInt8   raw[] = {'/', 'x', 0xFF};
    Ref<CFURLRef> bytes(CFURLCreateFromFileSystemRepresentation(nullptr, raw, 3, false));
    ASSERT_TRUE(bytes);
    EXPECT_EQ(Utf8(CFURLGetString(bytes)), "file:///x%FF");
    EXPECT_EQ(CFURLCopyFileSystemPath(bytes, kCFURLPOSIXPathStyle), nullptr);
}

TEST_F(FileURL, StringsMakeURLsButOnlyFileURLsHavePaths)
{
    const struct {
        const char *text;
        bool        made;
        const char *path; // NULL: not a file URL
    } rows[] = {
        {"file:///tmp/a%20b", true, "/tmp/a b"},
        {"FILE://localhost/tmp/x/", true, "/tmp/x"},
        {"file:/tmp/y?query#part", true, "/tmp/y"},
        {"http://example.org/a", true, nullptr},
        {"file://server/share/x", true, nullptr},
        {"mailto:someone", true, nullptr},
        {"file://tmp", false, nullptr},
        {"file:relative", false, nullptr},
        {"file:///a%2", false, nullptr},
        {"file:///a%00b", false, nullptr},
        {"file:///a b", false, nullptr},
        {"no scheme", false, nullptr},
        {"/tmp/a", false, nullptr},
        {"1http://x", false, nullptr},
    };
    const UniChar    nul[] = {'f', 'i', 'l', 'e', ':', '/', 'a', 0};
    Ref<CFStringRef> withNul(CFStringCreateWithCharacters(nullptr, nul, 8));
    EXPECT_EQ(CFURLCreateWithString(nullptr, withNul, nullptr), nullptr);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.text);
        Ref<CFURLRef> url(CFURLCreateWithString(nullptr, Str(row.text), nullptr));
        ASSERT_EQ(static_cast<bool>(url), row.made);
        if (!url) continue;
        EXPECT_EQ(Utf8(CFURLGetString(url)), row.text);
        EXPECT_EQ(PathOf(url), row.path != nullptr ? row.path : "(none)");
        if (row.path != nullptr) continue;
        // Everything that needs a path refuses it.
        EXPECT_EQ(CFURLCopyFileSystemPath(url, kCFURLPOSIXPathStyle), nullptr);
        EXPECT_EQ(CFURLCreateCopyAppendingPathComponent(nullptr, url, CFSTR("x"), false), nullptr);
        EXPECT_EQ(CFBundleCreate(nullptr, url), nullptr);
        SInt32 error = 0;
        ReadURL(url, &error);
        EXPECT_EQ(error, kCFURLUnknownSchemeError);
    }
}

TEST_F(FileURL, AppendingAComponentAndRefsToURLs)
{
    Ref<CFURLRef> folder = FromPath("/Library", true);
    const struct {
        const char *component;
        bool        isDirectory;
        const char *text; // NULL: refused
    } rows[] = {
        {"Modem Scripts", true, "file:///Library/Modem%20Scripts/"},
        {"Greeter.framework", false, "file:///Library/Greeter.framework"},
        {"a/b/", false, "file:///Library/a/b"},
        {"", false, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.component);
        Ref<CFURLRef> url(CFURLCreateCopyAppendingPathComponent(nullptr, folder, Str(row.component),
                                                                row.isDirectory));
        EXPECT_EQ(url ? Utf8(CFURLGetString(url)) : "(null)", row.text ? row.text : "(null)");
    }

    Write("Library/Modem Scripts/Script 1", "script");
    FSRef folderRef, fileRef;
    ASSERT_EQ(FSFindFolder(kLocalDomain, kModemScriptsFolderType, false, &folderRef), noErr);
    ASSERT_EQ(FSPathMakeRef(reinterpret_cast<const UInt8 *>("Library/Modem Scripts/Script 1"),
                            &fileRef, nullptr),
              noErr);
    Ref<CFURLRef> fromFolder(CFURLCreateFromFSRef(nullptr, &folderRef));
    Ref<CFURLRef> fromFile(CFURLCreateFromFSRef(nullptr, &fileRef));
    ASSERT_TRUE(fromFolder);
    ASSERT_TRUE(fromFile);
    EXPECT_TRUE(CFURLHasDirectoryPath(fromFolder));
    EXPECT_FALSE(CFURLHasDirectoryPath(fromFile));
    EXPECT_EQ(PathOf(fromFolder), Path("Library/Modem Scripts"));
    EXPECT_EQ(PathOf(fromFile), Path("Library/Modem Scripts/Script 1"));

    // A ref keeps its path when the root moves.
    setenv("VAVIVAZ_ROOT", "/nonexistent", 1);
    Ref<CFURLRef> later(CFURLCreateFromFSRef(nullptr, &fileRef));
    setenv("VAVIVAZ_ROOT", root_.c_str(), 1);
    EXPECT_TRUE(later && CFEqual(later, fromFile));

    std::filesystem::remove(Path("Library/Modem Scripts/Script 1"));
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &fileRef), nullptr);
    FSRef zeroed = {};
    EXPECT_EQ(CFURLCreateFromFSRef(nullptr, &zeroed), nullptr);

    UInt8 small[16];
    EXPECT_TRUE(CFURLGetFileSystemRepresentation(FromPath("/a/b/c/d/e/f/g"), true, small, 15));
    EXPECT_FALSE(CFURLGetFileSystemRepresentation(FromPath("/a/b/c/d/e/f/gh"), true, small, 15));
}

TEST_F(FileURL, ResourceReadsGiveTheBytesOrTheURLErrorCode)
{
    Write("data/plain", "the bytes\n");
    Write("data/empty", "");
    std::filesystem::create_directories(Path("data/folder"));
    ASSERT_EQ(mkfifo(Path("data/fifo").c_str(), 0644), 0);
    {
        // Larger than the limit without taking the room: a sparse file.
        int fd = open(Path("data/huge").c_str(), O_CREAT | O_WRONLY, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 64 * 1024 * 1024 + 1), 0);
        close(fd);
    }
    const struct {
        const char *file;
        SInt32      error;
        const char *text;
    } rows[] = {
        {"data/plain", 0, "the bytes\n"},
        {"data/empty", 0, ""},
        {"data/missing", kCFURLResourceNotFoundError, ""},
        {"data/plain/below", kCFURLResourceNotFoundError, ""},
        {"data/folder", kCFURLUnknownError, ""},
        {"data/fifo", kCFURLUnknownError, ""},
        {"data/huge", kCFURLUnknownError, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.file);
        SInt32 error = 99;
        EXPECT_EQ(ReadURL(FromPath(Path(row.file)), &error), row.text);
        EXPECT_EQ(error, row.error);
    }

    SInt32 error = 0;
    {
        SyscallFailure failure("open", 0, false, EACCES);
        ReadURL(FromPath(Path("data/plain")), &error);
        EXPECT_EQ(error, kCFURLResourceAccessViolationError);
    }
    {
        SyscallFailure failure("read", 0, false, EIO);
        ReadURL(FromPath(Path("data/plain")), &error);
        EXPECT_EQ(error, kCFURLUnknownError);
    }

    // Only data can be asked for.
    CFDataRef       data       = nullptr;
    CFDictionaryRef properties = nullptr;
    Ref<CFURLRef>   url        = FromPath(Path("data/plain"));
    EXPECT_FALSE(CFURLCreateDataAndPropertiesFromResource(nullptr, url, &data, &properties, nullptr,
                                                          &error));
    EXPECT_EQ(error, kCFURLImproperArgumentsError);
    EXPECT_EQ(data, nullptr);
    EXPECT_FALSE(CFURLCreateDataAndPropertiesFromResource(nullptr, nullptr, &data, nullptr, nullptr,
                                                          &error));
    EXPECT_EQ(error, kCFURLImproperArgumentsError);
}

} // namespace
