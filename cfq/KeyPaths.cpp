// KeyPaths.cpp: values deep in nested dictionaries, read, set and removed by
// key path.
//
// Setting and removing go through the parent lookup, which replaces every
// dictionary on the way to the last key by a fresh mutable copy stored in its
// parent: the caller's tree may hold immutable dictionaries (a store's
// snapshot), and a reference somebody took to an old one keeps seeing the old
// contents. A failed lookup leaves the copies it already made in place.
#include "MoreCFQ.h"

#include <cstdlib>

// The dictionary that holds the last key of path, with every dictionary on
// the way made a fresh mutable copy; borrowed from dict's tree.
static OSStatus CFQMutableDictionaryGetParentForPath(CFMutableDictionaryRef dict,
                                                     const void *path[], CFIndex pathElementCount,
                                                     CFMutableDictionaryRef *result) noexcept
{
    OSStatus               err         = noErr;
    CFMutableDictionaryRef thisDict    = dict; // borrowed: dict or a copy its tree holds
    CFIndex                thisElement = 0;
    const void            *child       = NULL;

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);
    VZ_ASSERT(pathElementCount > 0);
    VZ_ASSERT(result != NULL);

    for (thisElement = 0; err == noErr && thisElement < pathElementCount - 1; thisElement++) {
        CFMutableDictionaryRef mutableChild = NULL; // owned until its parent holds it

        if (!CFDictionaryGetValueIfPresent(thisDict, path[thisElement], &child)) {
            err = kCFQErrorKeyMissing;
        } else if (child == NULL || CFGetTypeID(child) != CFDictionaryGetTypeID()) {
            err = kCFQErrorNotConvertible;
        }
        if (err == noErr) {
            mutableChild = CFDictionaryCreateMutableCopy(NULL, 0, (CFDictionaryRef)child);
            err          = CFQError(mutableChild);
        }
        if (err == noErr) {
            CFDictionarySetValue(thisDict, path[thisElement], mutableChild);
            VZ_ASSERT(CFGetRetainCount(mutableChild) >= 2);
            thisDict = mutableChild;
        }
        CFQRelease(mutableChild);
    }
    if (err == noErr) *result = thisDict;

    VZ_ASSERT((err == noErr) == (*result != NULL));
    return err;
}

// Copies the keys of an array path into a malloc'd block the caller frees.
static OSStatus PathArrayHelper(CFArrayRef path, const void ***pathElements) noexcept
{
    OSStatus err              = noErr;
    CFIndex  pathElementCount = 0;

    VZ_ASSERT(path != NULL);
    VZ_ASSERT(pathElements != NULL);

    pathElementCount = CFArrayGetCount(path);
    VZ_ASSERT(pathElementCount > 0);

    *pathElements = (const void **)malloc((size_t)pathElementCount * sizeof(const void *));
    if (*pathElements == NULL) {
        err = kCFQErrorNoMemory;
    } else {
        CFArrayGetValues(path, CFRangeMake(0, pathElementCount), *pathElements);
    }

    VZ_ASSERT((err == noErr) == (*pathElements != NULL));
    return err;
}

OSStatus CFQDictionaryGetValueAtPath(CFDictionaryRef dict, const void *path[],
                                     CFIndex pathElementCount, const void **result) noexcept
{
    OSStatus        err         = noErr;
    CFDictionaryRef thisDict    = dict; // borrowed
    CFIndex         thisElement = 0;
    const void     *thisValue   = NULL;

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);
    VZ_ASSERT(pathElementCount > 0);
    VZ_ASSERT(result != NULL);

    for (thisElement = 0; err == noErr && thisElement < pathElementCount; thisElement++) {
        if (!CFDictionaryGetValueIfPresent(thisDict, path[thisElement], &thisValue)) {
            err = kCFQErrorKeyMissing;
        } else if (thisElement < pathElementCount - 1) {
            if (thisValue == NULL || CFGetTypeID(thisValue) != CFDictionaryGetTypeID()) {
                err = kCFQErrorNotConvertible;
            } else {
                thisDict = (CFDictionaryRef)thisValue;
            }
        }
    }
    if (err == noErr) *result = thisValue;
    return err;
}

OSStatus CFQDictionarySetValueAtPath(CFMutableDictionaryRef dict, const void *path[],
                                     CFIndex pathElementCount, const void *value) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef parent = NULL; // borrowed from dict's tree

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);
    VZ_ASSERT(pathElementCount > 0);

    err = CFQMutableDictionaryGetParentForPath(dict, path, pathElementCount, &parent);
    if (err == noErr) CFDictionarySetValue(parent, path[pathElementCount - 1], value);
    return err;
}

OSStatus CFQDictionaryRemoveValueAtPath(CFMutableDictionaryRef dict, const void *path[],
                                        CFIndex pathElementCount) noexcept
{
    OSStatus               err    = noErr;
    CFMutableDictionaryRef parent = NULL; // borrowed from dict's tree

    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);
    VZ_ASSERT(pathElementCount > 0);

    err = CFQMutableDictionaryGetParentForPath(dict, path, pathElementCount, &parent);
    if (err == noErr && !CFDictionaryContainsKey(parent, path[pathElementCount - 1])) {
        err = kCFQErrorKeyMissing;
    }
    if (err == noErr) CFDictionaryRemoveValue(parent, path[pathElementCount - 1]);
    return err;
}

// The array forms: each copies the array's keys into a block and runs the
// plain form over it.

enum PathOperation { kPathGet, kPathSet, kPathRemove };

static OSStatus OperateAtPathArray(CFMutableDictionaryRef dict, CFArrayRef path,
                                   PathOperation operation, const void *value,
                                   const void **result) noexcept
{
    OSStatus     err          = noErr;
    const void **pathElements = NULL; // malloc'd, freed at exit
    CFIndex      count        = 0;

    err = PathArrayHelper(path, &pathElements);
    if (err == noErr) {
        count = CFArrayGetCount(path);
        switch (operation) {
        case kPathGet:
            err = CFQDictionaryGetValueAtPath(dict, pathElements, count, result);
            break;
        case kPathSet:
            err = CFQDictionarySetValueAtPath(dict, pathElements, count, value);
            break;
        case kPathRemove:
            err = CFQDictionaryRemoveValueAtPath(dict, pathElements, count);
            break;
        }
    }

    free(pathElements);
    return err;
}

OSStatus CFQDictionaryGetValueAtPathArray(CFDictionaryRef dict, CFArrayRef path,
                                          const void **result) noexcept
{
    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);
    VZ_ASSERT(result != NULL);

    // Read only: the dictionary is never changed on the get path.
    return OperateAtPathArray((CFMutableDictionaryRef)dict, path, kPathGet, NULL, result);
}

OSStatus CFQDictionarySetValueAtPathArray(CFMutableDictionaryRef dict, CFArrayRef path,
                                          const void *value) noexcept
{
    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);

    return OperateAtPathArray(dict, path, kPathSet, value, NULL);
}

OSStatus CFQDictionaryRemoveValueAtPathArray(CFMutableDictionaryRef dict, CFArrayRef path) noexcept
{
    VZ_ASSERT(dict != NULL);
    VZ_ASSERT(path != NULL);

    return OperateAtPathArray(dict, path, kPathRemove, NULL, NULL);
}
