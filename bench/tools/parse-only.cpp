// parse-only.cpp: the baseline of the probe's benchmark: a whole process that
// reads the network preferences store of $VAVIVAZ_ROOT and exits, without
// looking at what it holds.
//
//   vz-parse-only         parse the file's bytes (CFPropertyListCreateFromXMLData)
//   vz-parse-only prefs   open it as the probe does (SCPreferencesCreate)
//   vz-parse-only expat   run expat with empty callbacks over the bytes: the
//                         floor of any process that reads the store as XML
//
// Exits 0 when the store was read, 1 otherwise.
#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <expat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static bool ReadStore(std::string *bytes)
{
    const char *root = std::getenv("VAVIVAZ_ROOT");
    std::string path = std::string(root != nullptr ? root : "") +
                       "/Library/Preferences/SystemConfiguration/preferences.plist";
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char   buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes->append(buffer, got);
    std::fclose(file);
    return true;
}

static bool ParseBytes()
{
    std::string bytes;
    if (!ReadStore(&bytes)) return false;
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

static bool BareExpat()
{
    std::string bytes;
    if (!ReadStore(&bytes)) return false;
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
    if (std::strcmp(mode, "expat") == 0) return BareExpat() ? 0 : 1;
    return ParseBytes() ? 0 : 1;
}
