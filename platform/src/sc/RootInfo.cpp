// RootInfo.cpp: the root the platform works in, for the programs above it
// that name it in their messages and say what a change reaches.
#include "Root.h"
#include "Runtime.h"

#include <SystemConfiguration/SystemConfiguration.h>

CFStringRef VZCopyRootPath(void) noexcept
{
    return vz::guarded<CFStringRef>(nullptr, [] {
        std::string root = vz::rootDirectory();
        if (root.empty()) root.push_back('/'); // the top of the file system
        return CFStringCreateWithBytes(nullptr, reinterpret_cast<const UInt8 *>(root.data()),
                                       static_cast<CFIndex>(root.size()), kCFStringEncodingUTF8,
                                       false);
    });
}

Boolean VZRootIsLive(void) noexcept
{
    return vz::guarded(false, [] { return vz::isLiveRoot(); });
}
