// Bundle.cpp: bundles: their executables, the main bundle and localised
// strings.
//
// A bundle keeps its folder's path and, once loaded, the loader's handle of
// its executable, which it never closes: function pointers taken from it may
// outlive the bundle object. The main bundle is made once, on first use, and
// is immortal. Nothing here prints: a load failure is reported through an
// error object with the loader's message.
#include "FileURL.h"
#include "Languages.h"
#include "StringStorage.h"
#include "StringsTable.h"
#include "UnderRoot.h"
#include "WholeFile.h"

#include <CoreFoundation/CoreFoundation.h>

#include <cstdio>
#include <dlfcn.h>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

struct __CFBundle : vz::Object {
    std::string path;        // the bundle's folder
    std::string programName; // the main bundle's program; empty for other bundles
    std::mutex  mutex;       // guards handle
    void       *handle = nullptr;

    explicit __CFBundle(CFTypeID type) noexcept : Object(type) {}
};

namespace {

const vz::TypeClass kBundleClass = {"CFBundle", vz::deleteObject<__CFBundle>, nullptr, nullptr,
                                    nullptr};

constexpr const char *kDefaultTable = "Localizable";

__CFBundle *checkBundle(CFBundleRef bundle, const char *function) noexcept
{
    if (bundle == nullptr || CFGetTypeID(bundle) != CFBundleGetTypeID()) {
        char message[128];
        std::snprintf(message, sizeof message, "%s called with something that is not a bundle",
                      function);
        vz::fatal(message);
    }
    return bundle;
}

bool isFolder(const std::string &path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string lastComponent(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

// The executable of a bundle that is not the main one: the folder's name
// without its extension, at the top or under Versions/Current.
std::optional<std::string> executablePath(const __CFBundle &bundle)
{
    std::string name = lastComponent(bundle.path);
    size_t      dot  = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    for (const char *place : {"/", "/Versions/Current/"}) {
        std::string candidate = bundle.path + place + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode)) return candidate;
    }
    return std::nullopt;
}

std::string resourcesFolder(const __CFBundle &bundle)
{
    std::string beside = bundle.path + "/Resources";
    if (bundle.programName.empty() || isFolder(beside)) return beside;
    return bundle.path + "/../share/" + bundle.programName;
}

// A new load error; nullptr when it cannot be made.
CFErrorRef createLoadError(const __CFBundle &bundle, CFIndex code, const std::string &reason,
                           const std::string &executable)
{
    std::string       name    = lastComponent(bundle.path);
    std::string       text    = "The bundle \"" + name + "\" could not be loaded.";
    const std::string parts[] = {text, reason, executable};
    CFStringRef       keys[]  = {kCFErrorLocalizedDescriptionKey, kCFErrorLocalizedFailureReasonKey,
                                 kCFErrorFilePathKey};
    CFTypeRef         values[3] = {};
    CFIndex           count     = executable.empty() ? 2 : 3;
    for (CFIndex i = 0; i < count; i++)
        values[i] = vz::createStringFromUTF8(parts[i].data(), parts[i].size());
    CFErrorRef error = nullptr;
    if (values[0] != nullptr && values[1] != nullptr && (count == 2 || values[2] != nullptr)) {
        vz::CFRef<CFDictionaryRef> details(
            CFDictionaryCreate(nullptr, reinterpret_cast<const void **>(keys), values, count,
                               &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks));
        if (details) error = CFErrorCreate(nullptr, kCFBundleErrorDomain, code, details.get());
    }
    for (CFTypeRef value : values) {
        if (value != nullptr) CFRelease(value);
    }
    return error;
}

bool loadExecutable(__CFBundle &bundle, CFErrorRef *error)
{
    std::lock_guard<std::mutex> hold(bundle.mutex);
    if (bundle.handle != nullptr) return true;
    if (!bundle.programName.empty()) {
        // The running program itself.
        bundle.handle = dlopen(nullptr, RTLD_NOW);
        return bundle.handle != nullptr;
    }
    std::optional<std::string> executable = executablePath(bundle);
    if (!executable) {
        if (error != nullptr)
            *error = createLoadError(bundle, kCFBundleExecutableNotFoundError,
                                     "The bundle has no executable.", std::string());
        return false;
    }
    (void)dlerror();
    void *handle = dlopen(executable->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char *message = dlerror();
        if (error != nullptr)
            *error =
                createLoadError(bundle, kCFBundleExecutableLoadError,
                                message != nullptr ? message : "The loader failed.", *executable);
        return false;
    }
    bundle.handle = handle;
    return true;
}

// The translation of key in the first localisation that holds the table, or
// NULL (also when the table cannot be read or is not valid).
CFStringRef copyTranslation(const __CFBundle &bundle, CFStringRef key, const std::string &table)
{
    std::string resources = resourcesFolder(bundle);
    for (const std::string &language : vz::localizationOrder()) {
        std::string file = resources + "/" + language + ".lproj/" + table + ".strings";
        struct stat info;
        if (stat(file.c_str(), &info) != 0) continue;
        vz::FileContents bytes;
        if (vz::readWholeFile(file, &bytes) != 0) return nullptr;
        vz::CFRef<CFDictionaryRef> entries = vz::parseStringsTable({bytes.bytes.get(), bytes.size});
        if (!entries) return nullptr;
        CFTypeRef found = CFDictionaryGetValue(entries.get(), key);
        if (found == nullptr || CFGetTypeID(found) != CFStringGetTypeID()) return nullptr;
        return CFStringCreateCopy(nullptr, static_cast<CFStringRef>(found));
    }
    return nullptr;
}

} // namespace

CFTypeID CFBundleGetTypeID(void) noexcept
{
    static const CFTypeID type = vz::registerTypeClass(&kBundleClass);
    return type;
}

CFBundleRef CFBundleCreate(CFAllocatorRef, CFURLRef bundleURL) noexcept
{
    if (bundleURL == nullptr) return nullptr;
    vz::checkURL(bundleURL, "CFBundleCreate");
    const std::string *path = vz::filePathOf(bundleURL);
    if (path == nullptr) return nullptr;
    return vz::guarded<CFBundleRef>(nullptr, [&]() -> CFBundleRef {
        if (!isFolder(*path)) return nullptr;
        auto *bundle = vz::newObject<__CFBundle>(CFBundleGetTypeID());
        if (bundle != nullptr) bundle->path = *path;
        return bundle;
    });
}

CFBundleRef CFBundleGetMainBundle(void) noexcept
{
    static std::mutex  mutex;
    static __CFBundle *mainBundle = nullptr;

    std::lock_guard<std::mutex> hold(mutex);
    if (mainBundle != nullptr) return mainBundle;
    vz::AllocationFailureExemption exempt; // made once, for the whole process
    mainBundle = vz::guarded<__CFBundle *>(nullptr, []() -> __CFBundle * {
        std::string program(256, '\0');
        for (;;) {
            ssize_t n = readlink("/proc/self/exe", program.data(), program.size());
            if (n < 0) return nullptr;
            if (static_cast<size_t>(n) < program.size()) {
                program.resize(static_cast<size_t>(n));
                break;
            }
            program.resize(program.size() * 2);
        }
        size_t slash = program.rfind('/');
        if (slash == std::string::npos) return nullptr;
        auto *bundle = vz::newObject<__CFBundle>(CFBundleGetTypeID());
        if (bundle == nullptr) return nullptr;
        bundle->path        = slash == 0 ? "/" : program.substr(0, slash);
        bundle->programName = program.substr(slash + 1);
        bundle->makeImmortal();
        return bundle;
    });
    return mainBundle;
}

CFURLRef CFBundleCopyBundleURL(CFBundleRef bundle) noexcept
{
    return vz::createFileURL(checkBundle(bundle, "CFBundleCopyBundleURL")->path, true);
}

Boolean CFBundleLoadExecutable(CFBundleRef bundle) noexcept
{
    return CFBundleLoadExecutableAndReturnError(bundle, nullptr);
}

Boolean CFBundleLoadExecutableAndReturnError(CFBundleRef bundle, CFErrorRef *error) noexcept
{
    __CFBundle *checked = checkBundle(bundle, "CFBundleLoadExecutableAndReturnError");
    if (error != nullptr) *error = nullptr;
    return vz::guarded<Boolean>(false, [&] { return loadExecutable(*checked, error); });
}

Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) noexcept
{
    __CFBundle                 *checked = checkBundle(bundle, "CFBundleIsExecutableLoaded");
    std::lock_guard<std::mutex> hold(checked->mutex);
    return checked->handle != nullptr;
}

void *CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName) noexcept
{
    __CFBundle *checked = checkBundle(bundle, "CFBundleGetFunctionPointerForName");
    if (functionName == nullptr || !CFBundleLoadExecutable(bundle)) return nullptr;
    vz::checkString(functionName, "CFBundleGetFunctionPointerForName");
    return vz::guarded<void *>(nullptr, [&]() -> void * {
        std::string                 name = vz::toUTF8String(functionName);
        std::lock_guard<std::mutex> hold(checked->mutex);
        return dlsym(checked->handle, name.c_str());
    });
}

CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName) noexcept
{
    __CFBundle *checked = checkBundle(bundle, "CFBundleCopyLocalizedString");
    return vz::guarded<CFStringRef>(nullptr, [&]() -> CFStringRef {
        // A table name is a caller's text: it names a file of the bundle only
        // when it can stand as one path component.
        std::string table = tableName != nullptr ? vz::toUTF8String(tableName) : kDefaultTable;
        if (key != nullptr && vz::isSinglePathComponent(table)) {
            if (CFStringRef translated = copyTranslation(*checked, key, table)) return translated;
        }
        if (value != nullptr && CFStringGetLength(value) > 0)
            return CFStringCreateCopy(nullptr, value);
        return CFStringCreateCopy(nullptr, key != nullptr ? key : CFSTR(""));
    });
}
