// CFBundle.h: bundles (folders of code and resources) and localised
// strings.
//
// A bundle is a folder. Its executable is the shared object named after the
// folder without its extension, at the top of the folder or under
// Versions/Current (Name.framework/Name, Name.framework/Versions/Current/
// Name); it is opened with dlopen (RTLD_NOW | RTLD_LOCAL) and stays loaded
// for the life of the process. Its resources are in Resources/.
//
// The main bundle is the folder of the running program; its resources are in
// Resources/ beside the program or, for an installed program, in
// ../share/<program name>/.
//
// CFBundleCopyLocalizedString looks in <resources>/<language>.lproj/
// <table>.strings (table Localizable when tableName is NULL) of the first of
// these languages whose folder holds the table: the user's (the first of
// LC_ALL, LC_MESSAGES and LANG that is set, not empty and not C or POSIX:
// "de_DE.UTF-8" gives de_DE, then de), then en, English and Base. A key
// missing from that table is not looked up in the others. A table is an XML
// property list of one dictionary or a strings file ("key" = "value"; pairs,
// /* */ and // comments, the escapes \" \\ \n \t and \Uxxxx) in UTF-8 or in
// UTF-16 with a byte-order mark. A table that cannot be read or is not valid
// is empty. Tables are read afresh on every call.
#ifndef VZ_CFBUNDLE_H
#define VZ_CFBUNDLE_H

#include <CoreFoundation/CFError.h>
#include <CoreFoundation/CFString.h>
#include <CoreFoundation/CFURL.h>

typedef struct __CFBundle *CFBundleRef;

// The domain of a bundle's load errors, and their codes.
#define kCFBundleErrorDomain CFSTR("CFBundleErrorDomain")
enum {
    kCFBundleExecutableNotFoundError = 4,   // no executable in the bundle
    kCFBundleExecutableLoadError     = 3587 // the loader refused it
};

extern "C" {

CFTypeID CFBundleGetTypeID(void) noexcept;

// A bundle for the folder at bundleURL, or NULL when the URL is not a file
// URL of an existing folder.
CFBundleRef CFBundleCreate(CFAllocatorRef allocator, CFURLRef bundleURL) noexcept;
// The bundle of the running program; never released. NULL when the program's
// folder cannot be found.
CFBundleRef CFBundleGetMainBundle(void) noexcept;
CFURLRef    CFBundleCopyBundleURL(CFBundleRef bundle) noexcept;

// Opens the bundle's executable; true when it is loaded (already or now).
Boolean CFBundleLoadExecutable(CFBundleRef bundle) noexcept;
// The same; on failure *error (when error is not NULL) receives a new error:
// kCFBundleExecutableNotFoundError, or kCFBundleExecutableLoadError with the
// loader's message as the failure reason.
Boolean CFBundleLoadExecutableAndReturnError(CFBundleRef bundle, CFErrorRef *error) noexcept;
Boolean CFBundleIsExecutableLoaded(CFBundleRef bundle) noexcept;
// The address of a function of the executable, loading it first; NULL when
// there is none.
void *CFBundleGetFunctionPointerForName(CFBundleRef bundle, CFStringRef functionName) noexcept;

// The translation of key in tableName; value (or key when value is NULL or
// empty) when the table has none. A new string.
CFStringRef CFBundleCopyLocalizedString(CFBundleRef bundle, CFStringRef key, CFStringRef value,
                                        CFStringRef tableName) noexcept;

} // extern "C"

#endif
