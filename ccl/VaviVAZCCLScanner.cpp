// VaviVAZCCLScanner.cpp: the modem script catalogue: listing the script
// folders of the four domains in batches, the name order and the removal of
// duplicates, and the choice of the default script.
//
// What a folder holds is input: a file the catalogue cannot name or examine
// is skipped, never an error of the whole catalogue, and a port record
// without the built-in modem's hold value only decides the default. Errors
// are kept for the folder itself (it cannot be opened or read) and for
// objects that cannot be made.
//
// State: gDefaultCCL holds one reference from the moment it is set or chosen
// until MoreSCSetDefaultCCL replaces it. Nothing else outlives a call.
#include "VaviVAZCCLScanner.h"

#include "Internal.h"
#include "MoreCFQ.h"
#include "MoreSCSystemVersion.h"
#include "VaviVAZPortScanner.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <cstddef>
#include <cstring>

enum {
    kScriptBatchCount = 50 // items per bulk call; both buffers hold one batch
};

// The name order: case ignored, the user's language, digit runs by value
// (0x61).
static const CFStringCompareFlags kScriptNameCompareOptions =
    kCFCompareCaseInsensitive | kCFCompareLocalized | kCFCompareNumerically;

// The domains whose script folders are listed, in this order; 0 ends it.
static const FSVolumeRefNum kFolderDomains[] = {kUserDomain, kNetworkDomain, kLocalDomain,
                                                kSystemDomain, 0};

#define kBuiltInModemDeviceName CFSTR("modem")
#define kDefaultCCLWithHold CFSTR("Internal 56K Modem (v.92)")
#define kDefaultCCLWithoutHold CFSTR("Internal 56K Modem (v.90)")

CFStringRef gDefaultCCL                              = NULL;
Boolean     gVaviVAZCCLScannerBugForBugCompatibility = false;

void MoreSCSetDefaultCCL(CFStringRef newDefaultCCL) noexcept
{
    // Retained before the old one is released: they may be the same string,
    // held only by us.
    CFQRetain(newDefaultCCL);
    CFQRelease(gDefaultCCL);
    gDefaultCCL = newDefaultCCL;
}

// ---------------------------------------------------------------------------
// Listing one folder.

// The statuses with which FSGetCatalogInfo reports a stray item rather than a
// failing folder: gone since it was listed or a symbolic link that leads
// nowhere (fnfErr, or dirNFErr for a link through a file), a name without a
// record form (bdNamErr), an extended attribute that cannot be read
// (afpAccessDenied, ioErr).
static Boolean IsStrayItemError(OSStatus err) noexcept
{
    return err == fnfErr || err == dirNFErr || err == bdNamErr || err == afpAccessDenied ||
           err == ioErr;
}

// Appends the item's name when the item is a script: a visible file whose
// name does not begin with ".". A stray item is skipped.
static OSStatus AddScriptToArray(const FSRef *item, const HFSUniStr255 *name,
                                 CFMutableArrayRef array) noexcept
{
    OSStatus      err         = noErr;
    Boolean       isScript    = false;
    UInt16        finderFlags = 0;
    CFStringRef   scriptName  = NULL; // owned, released at exit
    FSCatalogInfo info;

    // The bulk call gives a name without a record form length 0. Both name
    // rules are settled before the catalog call, so a dot file costs no
    // look at the disk.
    isScript = (name->length != 0) && (name->unicode[0] != '.');
    if (isScript) {
        err = FSGetCatalogInfo(item, kFSCatInfoNodeFlags | kFSCatInfoFinderInfo, &info, NULL, NULL,
                               NULL);
        if (IsStrayItemError(err)) {
            err      = noErr;
            isScript = false;
        }
    }
    if (err == noErr && isScript) {
        // The Finder flags sit at the same place for files and folders.
        std::memcpy(&finderFlags, info.finderInfo + offsetof(FileInfo, finderFlags),
                    sizeof finderFlags);
        isScript =
            ((info.nodeFlags & kFSNodeIsDirectoryMask) == 0) && ((finderFlags & kIsInvisible) == 0);
    }
    if (err == noErr && isScript) err = CFQStringCreateWithHFSUniStr255(name, &scriptName);
    if (err == noErr && isScript) CFArrayAppendValue(array, scriptName);

    CFQRelease(scriptName);
    return err;
}

OSStatus AddCCLsInFolderToArray(const FSRef *ref, CFMutableArrayRef array) noexcept
{
    OSStatus      err      = noErr;
    OSStatus      junk     = noErr;
    FSRef        *refs     = NULL; // owned block of one batch
    HFSUniStr255 *names    = NULL; // owned block of one batch
    FSIterator    iterator = NULL; // owned, closed at exit
    ItemCount     count    = 0;
    ItemCount     item     = 0;
    Boolean       lastDone = false;

    VZ_ASSERT(ref != NULL);
    VZ_ASSERT(array != NULL);

    err = CFQAllocate(kScriptBatchCount * sizeof(FSRef), (void **)&refs);
    if (err == noErr) err = CFQAllocate(kScriptBatchCount * sizeof(HFSUniStr255), (void **)&names);
    if (err == noErr) err = FSOpenIterator(ref, kFSIterateFlat, &iterator);
    while (err == noErr && !lastDone) {
        count = 0;
        err = FSGetCatalogInfoBulk(iterator, kScriptBatchCount, &count, NULL, kFSCatInfoNone, NULL,
                                   refs, NULL, names);
        // The last batch comes with errFSNoMoreItems and may hold items.
        if (err == errFSNoMoreItems) {
            err      = noErr;
            lastDone = true;
        }
        for (item = 0; err == noErr && item < count; item++)
            err = AddScriptToArray(&refs[item], &names[item], array);
    }

    if (iterator != NULL) {
        junk = FSCloseIterator(iterator);
        VZ_ASSERT(junk == noErr);
    }
    CFQDeallocate(names);
    CFQDeallocate(refs);
    return err;
}

// *found tells whether the domain has a script folder; only an error other
// than its absence is the result.
static OSStatus FindScriptFolder(FSVolumeRefNum domain, FSRef *folder, Boolean *found) noexcept
{
    OSStatus err = FSFindFolder(domain, kModemScriptsFolderType, kDontCreateFolder, folder);

    *found = (err == noErr);
    if (err == fnfErr) err = noErr;
    return err;
}

static OSStatus AddCCLsInAllFolders(CFMutableArrayRef array) noexcept
{
    OSStatus err          = noErr;
    int      domain       = 0;
    int      foldersFound = 0;
    Boolean  found        = false;
    FSRef    folder;

    for (domain = 0; err == noErr && kFolderDomains[domain] != 0; domain++) {
        err = FindScriptFolder(kFolderDomains[domain], &folder, &found);
        if (err == noErr && found) {
            foldersFound++;
            err = AddCCLsInFolderToArray(&folder, array);
        }
    }
    if (err == noErr && foldersFound == 0) {
        err = FindScriptFolder(kOnSystemDisk, &folder, &found);
        if (err == noErr && found) err = AddCCLsInFolderToArray(&folder, array);
    }
    return err;
}

// ---------------------------------------------------------------------------
// Name order.

// Comparators of script names; context is the locale to collate for (a
// CFLocaleRef, or NULL for the current one). The caller makes the locale once
// for all the comparisons of a call, which spares each comparison a look at
// the environment.
static CFComparisonResult CompareNames(const void *name1, const void *name2, void *context,
                                       CFStringCompareFlags options) noexcept
{
    CFStringRef string1 = static_cast<CFStringRef>(name1);

    return CFStringCompareWithOptionsAndLocale(string1, static_cast<CFStringRef>(name2),
                                               CFRangeMake(0, CFStringGetLength(string1)), options,
                                               static_cast<CFLocaleRef>(context));
}

static CFComparisonResult CompareScriptNames(const void *name1, const void *name2,
                                             void *context) noexcept
{
    return CompareNames(name1, name2, context, kScriptNameCompareOptions);
}

// The name order, with ties (names that differ only in case, or in leading
// zeros of a number) broken by the names' literal order. Without the tie
// break a stable sort would leave "a" (user) "A" (user) "a" (system) as
// listed, and the duplicate "a", not next to its twin, would stay.
static CFComparisonResult SortScriptNames(const void *name1, const void *name2,
                                          void *context) noexcept
{
    return CompareNames(name1, name2, context,
                        kScriptNameCompareOptions | kCFCompareForcedOrdering);
}

// Sorts the names and removes each one equal to the one before it. The kept
// names are gathered at the front by exchanges and the rest dropped from the
// end, so that many duplicates cost no more than a few.
static void SortAndRemoveDuplicates(CFMutableArrayRef array, CFLocaleRef locale) noexcept
{
    CFIndex count = CFArrayGetCount(array);
    CFIndex kept  = 0;
    CFIndex next  = 0;

    CFArraySortValues(array, CFRangeMake(0, count), SortScriptNames, (void *)locale);
    for (next = 0; next < count; next++) {
        if (kept == 0 || !CFEqual(CFArrayGetValueAtIndex(array, next),
                                  CFArrayGetValueAtIndex(array, kept - 1))) {
            if (next != kept) CFArrayExchangeValuesAtIndices(array, next, kept);
            kept++;
        }
    }
    for (next = count; next > kept; next--)
        CFArrayRemoveValueAtIndex(array, next - 1);
}

// ---------------------------------------------------------------------------
// The default script.

// Whether the built-in modem (the first modem port named "modem") supports
// modem-on-hold. The hold value comes from the registry, so it is input: a
// port without it, or with a value other than 1 or of another kind, does not
// support hold. The result is the scan's error.
static OSStatus BuiltInModemSupportsHold(Boolean *supportsHold) noexcept
{
    OSStatus   err              = noErr;
    CFArrayRef ports            = NULL; // owned, released at exit
    CFIndex    portIndex        = 0;
    Boolean    builtInModemSeen = false;
    CFTypeRef  thisPort         = NULL; // the rest are borrowed from ports
    CFTypeRef  thisPortHardware = NULL;
    CFTypeRef  thisPortName     = NULL;
    CFTypeRef  onHoldRef        = NULL;
    int        onHold           = 0;

    *supportsHold = false;
    err           = MoreSCCreatePortArray(&ports);
    for (portIndex = 0; err == noErr && !builtInModemSeen && portIndex < CFArrayGetCount(ports);
         portIndex++) {
        thisPort = CFArrayGetValueAtIndex(ports, portIndex);
        VZ_ASSERT(thisPort != NULL);
        VZ_ASSERT(CFGetTypeID(thisPort) == CFDictionaryGetTypeID());
        thisPortHardware = CFDictionaryGetValue(static_cast<CFDictionaryRef>(thisPort),
                                                kSCPropNetInterfaceHardware);
        VZ_ASSERT(thisPortHardware != NULL);
        VZ_ASSERT(CFGetTypeID(thisPortHardware) == CFStringGetTypeID());
        if (!CFEqual(thisPortHardware, kSCEntNetModem)) continue;

        thisPortName = CFDictionaryGetValue(static_cast<CFDictionaryRef>(thisPort),
                                            kSCPropNetInterfaceDeviceName);
        VZ_ASSERT(thisPortName != NULL);
        VZ_ASSERT(CFGetTypeID(thisPortName) == CFStringGetTypeID());
        if (!CFEqual(thisPortName, kBuiltInModemDeviceName)) continue;

        builtInModemSeen = true;
        onHoldRef        = CFDictionaryGetValue(static_cast<CFDictionaryRef>(thisPort),
                                                kSCPropNetInterfaceSupportsModemOnHold);
        *supportsHold =
            onHoldRef != NULL && CFGetTypeID(onHoldRef) == CFNumberGetTypeID() &&
            CFNumberGetValue(static_cast<CFNumberRef>(onHoldRef), kCFNumberIntType, &onHold) &&
            onHold == 1;
    }

    CFQRelease(ports);
    return err;
}

// The default script this machine calls for, and whether the choice is to be
// kept. Before 10.4 (unless the compatibility flag is set) it depends on the
// built-in modem. A port scan that fails (a registry the scanner cannot read,
// or no memory) gives the v.90 script for this call only, so that the next
// call asks again; the process never stops for what the registry holds.
static CFStringRef ChooseDefaultCCL(Boolean *keep) noexcept
{
    CFStringRef chosen       = kDefaultCCLWithoutHold;
    Boolean     supportsHold = false;

    *keep = true;
    if (!gVaviVAZCCLScannerBugForBugCompatibility && !MoreSCIsTenFourOrLater()) {
        *keep = (BuiltInModemSupportsHold(&supportsHold) == noErr);
        if (supportsHold) chosen = kDefaultCCLWithHold;
    }
    return chosen;
}

// The index of the first entry equal to defaultCCL under the name order, or
// 0 when there is none.
static CFIndex IndexOfDefaultCCL(CFArrayRef array, CFStringRef defaultCCL,
                                 CFLocaleRef locale) noexcept
{
    CFIndex count = CFArrayGetCount(array);
    CFIndex found = 0;

    found = CFArrayBSearchValues(array, CFRangeMake(0, count), defaultCCL, CompareScriptNames,
                                 (void *)locale);
    if (found >= count || CompareScriptNames(CFArrayGetValueAtIndex(array, found), defaultCCL,
                                             NULL) != kCFCompareEqualTo)
        found = 0;
    return found;
}

// ---------------------------------------------------------------------------
// The catalogue.

OSStatus MoreSCCreateCCLArray(CFArrayRef *result, CFIndex *indexOfDefaultCCL) noexcept
{
    OSStatus          err        = noErr;
    CFMutableArrayRef array      = NULL; // owned until handed over
    CFStringRef       defaultCCL = NULL; // borrowed: gDefaultCCL or a constant
    CFLocaleRef       locale     = NULL; // owned; NULL collates for the current locale too
    Boolean           keep       = false;
    CFIndex           index      = 0;

    VZ_ASSERT(result != NULL);
    VZ_ASSERT(*result == NULL);

    err = CFQArrayCreateMutable(&array);
    if (err == noErr) err = AddCCLsInAllFolders(array);
    if (err == noErr) {
        locale = CFLocaleCopyCurrent();
        SortAndRemoveDuplicates(array, locale);
    }
    if (err == noErr && indexOfDefaultCCL != NULL) {
        defaultCCL = gDefaultCCL;
        if (defaultCCL == NULL) {
            defaultCCL = ChooseDefaultCCL(&keep);
            if (keep) MoreSCSetDefaultCCL(defaultCCL);
        }
        index = IndexOfDefaultCCL(array, defaultCCL, locale);
    }
    if (err == noErr) {
        *result = array;
        array   = NULL;
        if (indexOfDefaultCCL != NULL) *indexOfDefaultCCL = index;
    }

    CFQRelease(locale);
    CFQRelease(array);
    VZ_ASSERT((err == noErr) == (*result != NULL));
    VZ_ASSERT((err != noErr) || (indexOfDefaultCCL == NULL) || (CFArrayGetCount(*result) == 0) ||
              (*indexOfDefaultCCL >= 0 && *indexOfDefaultCCL < CFArrayGetCount(*result)));
    return err;
}
