// parse-only.cpp: the baseline of the probe's and the reader's whole-process
// benchmarks: a process that reads the network preferences store of
// $VAVIVAZ_ROOT (or FILE) and exits, without looking at what it holds.
//
//   vz-parse-only [FILE]        parse the file's bytes (CFPropertyListCreateFromXMLData)
//   vz-parse-only prefs         open the store as the probe does (SCPreferencesCreate)
//   vz-parse-only expat [FILE]  run expat with empty callbacks over the bytes, read
//                               whole and handed over in one call: the floor of any
//                               process that reads the file as XML
//
// Exits 0 when the file was read, 1 otherwise.
#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

// The file's bytes, read in one piece into a buffer of its size.
static bool ReadStore(const char *file, std::string *bytes)
{
    const char *root   = std::getenv("VAVIVAZ_ROOT");
    std::string path   = file != nullptr
                             ? std::string(file)
                             : std::string(root != nullptr ? root : "") +
                                 "/Library/Preferences/SystemConfiguration/preferences.plist";
    std::FILE  *stream = std::fopen(path.c_str(), "rb");
    if (stream == nullptr) return false;
    bool ok   = std::fseek(stream, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(stream) : -1;
    ok        = size >= 0 && std::fseek(stream, 0, SEEK_SET) == 0;
    if (ok) {
        bytes->resize(static_cast<size_t>(size));
        ok = std::fread(bytes->data(), 1, bytes->size(), stream) == bytes->size();
    }
    std::fclose(stream);
    return ok;
}

static bool ParseBytes(const char *file)
{
    std::string bytes;
    if (!ReadStore(file, &bytes)) return false;
    CFDataRef data = CFDataCreate(nullptr, reinterpret_cast<const UInt8 *>(bytes.data()),
                                  static_cast<CFIndex>(bytes.size()));
    if (data == nullptr) return false;
    CFPropertyListRef tree =
        CFPropertyListCreateFromXMLData(nullptr, data, kCFPropertyListImmutable, nullptr);
    CFRelease(data);
    if (tree == nullptr) return false;
    CFRelease(tree);
    return true;
}

static bool OpenPreferences()
{
    SCPreferencesRef prefs = SCPreferencesCreate(nullptr, CFSTR("parse-only"), nullptr);
    if (prefs == nullptr) return false;
    CFRelease(prefs);
    return true;
}

static bool BareExpat(const char *file)
{
    std::string bytes;
    if (!ReadStore(file, &bytes)) return false;
    XML_Parser parser = XML_ParserCreate(nullptr);
    if (parser == nullptr) return false;
    XML_SetElementHandler(
        parser, [](void *, const XML_Char *, const XML_Char **) {},
        [](void *, const XML_Char *) {});
    XML_SetCharacterDataHandler(parser, [](void *, const XML_Char *, int) {});
    bool ok =
        XML_Parse(parser, bytes.data(), static_cast<int>(bytes.size()), XML_TRUE) == XML_STATUS_OK;
    XML_ParserFree(parser);
    return ok;
}

int main(int argc, char **argv)
{
    const char *mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "prefs") == 0) return OpenPreferences() ? 0 : 1;
    if (std::strcmp(mode, "expat") == 0) return BareExpat(argc > 2 ? argv[2] : nullptr) ? 0 : 1;
    return ParseBytes(argc > 1 ? argv[1] : nullptr) ? 0 : 1;
}
