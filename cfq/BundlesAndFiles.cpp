// BundlesAndFiles.cpp: loading a framework by name and reading XML
// property-list files.
#include "MoreCFQ.h"

// True when name can stand as one path component: a framework's name comes
// from the caller, and must not lead out of the frameworks folder.
static Boolean IsOneComponent(CFStringRef name) noexcept
{
    return CFStringGetLength(name) > 0 && !CFEqual(name, CFSTR(".")) &&
           !CFEqual(name, CFSTR("..")) && CFStringFind(name, CFSTR("/"), 0).location == kCFNotFound;
}

OSStatus CFQBundleCreateFromFrameworkName(CFStringRef  frameworkName,
                                          CFBundleRef *bundlePtr) noexcept
{
    OSStatus    err = noErr;
    FSRef       frameworksRef;
    CFURLRef    baseURL   = NULL; // owned
    CFURLRef    bundleURL = NULL; // owned
    CFBundleRef bundle    = NULL; // owned until handed over

    VZ_ASSERT(frameworkName != NULL);
    VZ_ASSERT(bundlePtr != NULL);
    VZ_ASSERT(*bundlePtr == NULL);

    err = FSFindFolder(kOnAppropriateDisk, kFrameworksFolderType, kCreateFolder, &frameworksRef);
    if (err == noErr) {
        baseURL = CFURLCreateFromFSRef(kCFAllocatorSystemDefault, &frameworksRef);
        err     = CFQError(baseURL);
    }
    if (err == noErr) err = CFQErrorBoolean(IsOneComponent(frameworkName));
    if (err == noErr) {
        bundleURL = CFURLCreateCopyAppendingPathComponent(kCFAllocatorSystemDefault, baseURL,
                                                          frameworkName, false);
        err       = CFQError(bundleURL);
    }
    if (err == noErr) {
        bundle = CFBundleCreate(kCFAllocatorSystemDefault, bundleURL);
        err    = CFQError(bundle);
    }
    if (err == noErr) err = CFQErrorBoolean(CFBundleLoadExecutable(bundle));
    if (err == noErr) {
        *bundlePtr = bundle;
        bundle     = NULL;
    }

    CFQRelease(bundle);
    CFQRelease(bundleURL);
    CFQRelease(baseURL);
    VZ_ASSERT((err == noErr) == (*bundlePtr != NULL));
    return err;
}

OSStatus CFQPropertyListCreateFromXMLCFURL(CFURLRef xmlFile, CFOptionFlags mutabilityOption,
                                           CFPropertyListRef *result) noexcept
{
    OSStatus          err       = noErr;
    SInt32            readError = 0;
    CFDataRef         xmlData   = NULL; // owned
    CFPropertyListRef plist     = NULL; // owned until handed over

    VZ_ASSERT(xmlFile != NULL);
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    if (!CFURLCreateDataAndPropertiesFromResource(NULL, xmlFile, &xmlData, NULL, NULL,
                                                  &readError) ||
        xmlData == NULL) {
        err = readError != 0 ? readError : kCFQErrorObjectNotMade;
    }
    if (err == noErr) {
        plist = CFPropertyListCreateFromXMLData(NULL, xmlData, mutabilityOption, NULL);
        err   = CFQError(plist);
    }
    if (err == noErr) {
        *result = plist;
        plist   = NULL;
    }

    CFQRelease(plist);
    CFQRelease(xmlData);
    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

OSStatus CFQPropertyListCreateFromXMLFSRef(const FSRef *xmlFile, CFOptionFlags mutabilityOption,
                                           CFPropertyListRef *result) noexcept
{
    OSStatus err = noErr;
    CFURLRef url = NULL; // owned

    VZ_ASSERT(xmlFile != NULL);
    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    url = CFURLCreateFromFSRef(NULL, xmlFile);
    err = CFQError(url);
    if (err == noErr) err = CFQPropertyListCreateFromXMLCFURL(url, mutabilityOption, result);

    CFQRelease(url);
    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}
