// parse-only.cpp: the baseline of the probe's benchmark: a whole process that
// reads the network preferences store of $VAVIVAZ_ROOT and exits, without
// looking at what it holds.
//
//   vz-parse-only         parse the file's bytes (CFPropertyListCreateFromXMLData)
//   vz-parse-only prefs   open it as the probe does (SCPreferencesCreate)
//
// Exits 0 when the store was read, 1 otherwise.
#include <CoreFoundation/CoreFoundation.h>
#include <SystemConfiguration/SystemConfiguration.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static bool ParseBytes()
{
    const char *root = std::getenv("VAVIVAZ_ROOT");
    std::string path = std::string(root != nullptr ? root : "") +
                       "/Library/Preferences/SystemConfiguration/preferences.plist";
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    std::string bytes;
    char        buffer[1 << 16];
    size_t      got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        bytes.append(buffer, got);
    std::fclose(file);

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

int main(int argc, char **argv)
{
    bool prefs = argc > 1 && std::strcmp(argv[1], "prefs") == 0;
    return (prefs ? OpenPreferences() : ParseBytes()) ? 0 : 1;
}
