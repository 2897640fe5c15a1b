// Files.h: file-system references and catalog calls over the files of the
// root.
//
// An FSRef names one file or folder by value: it is copied with memcpy or
// assignment, never released, and stays valid (as a name) when the item goes
// away. It keeps the item's folder and its name as the file system spells it
// (any bytes but "/" and NUL). A ref the platform did not make, a zeroed one
// included, is errFSBadFSRef.
//
// Names are HFSUniStr255 records: a count and at most 255 UTF-16 units. A
// Linux name need not have that form (bytes that are not UTF-8). Such an
// item is still listed, so that one stray file never fails a folder's
// listing, but it is marked:
//
//   * FSGetCatalogInfoBulk gives it an empty name (length 0), which no real
//     item has;
//   * FSGetCatalogInfo of its ref answers bdNamErr (-37).
//
// The listing reports errors of two kinds apart. Errors of the folder (it
// cannot be opened or read) come from FSOpenIterator and
// FSGetCatalogInfoBulk. Errors of one item come only from FSGetCatalogInfo of
// its ref: fnfErr for an item gone since it was listed or a symbolic link
// that leads nowhere, bdNamErr for a name without an HFSUniStr255 form,
// afpAccessDenied or ioErr for an extended attribute that cannot be read. A
// caller that lists a folder can therefore skip one stray item and go on.
//
// FSGetCatalogInfo follows symbolic links: a link to a folder is a folder, a
// link to a file a file. The Finder flags carry kIsInvisible when the item has
// the extended attribute user.invisible with any value but "0" (where the
// file system keeps extended attributes; elsewhere nothing is invisible).
// Names beginning with "." are not marked: that is the caller's rule.
#ifndef VZ_CORESERVICES_FILES_H
#define VZ_CORESERVICES_FILES_H

#include <CoreFoundation/CFBase.h>

typedef UInt32 ItemCount;
typedef UInt32 FSCatalogInfoBitmap;
typedef UInt32 FSIteratorFlags;

// Opaque: the platform keeps the item's folder and name in it.
struct FSRef {
    UInt8 hidden[272];
};
typedef struct FSRef FSRef;

struct HFSUniStr255 {
    UInt16  length;
    UniChar unicode[255];
};
typedef struct HFSUniStr255 HFSUniStr255;

// Not kept by this platform: the FSSpec arguments of the calls below must be
// NULL.
typedef struct FSSpec FSSpec;

typedef struct OpaqueFSIterator *FSIterator;

struct Point {
    SInt16 v;
    SInt16 h;
};
typedef struct Point Point;

struct Rect {
    SInt16 top;
    SInt16 left;
    SInt16 bottom;
    SInt16 right;
};
typedef struct Rect Rect;

// The layouts of FSCatalogInfo.finderInfo for a file and for a folder; the
// Finder flags sit at the same place in both.
struct FileInfo {
    OSType fileType;
    OSType fileCreator;
    UInt16 finderFlags;
    Point  location;
    UInt16 reservedField;
};
typedef struct FileInfo FileInfo;

struct FolderInfo {
    Rect   windowBounds;
    UInt16 finderFlags;
    Point  location;
    UInt16 reservedField;
};
typedef struct FolderInfo FolderInfo;

// Only the fields this platform fills; a call fills those its bitmap asks
// for.
struct FSCatalogInfo {
    UInt16 nodeFlags;                // kFSCatInfoNodeFlags
    alignas(4) UInt8 finderInfo[16]; // kFSCatInfoFinderInfo: a FileInfo or FolderInfo
};
typedef struct FSCatalogInfo FSCatalogInfo;

enum {
    kFSCatInfoNone       = 0x00000000,
    kFSCatInfoNodeFlags  = 0x00000002,
    kFSCatInfoFinderInfo = 0x00000800
};

enum { kFSNodeIsDirectoryMask = 0x0010 };

enum { kIsInvisible = 0x4000 };

enum { kFSIterateFlat = 0, kFSIterateSubtree = 1 };

// File Manager status codes.
enum {
    nsvErr                    = -35,   // no such volume (an unknown domain)
    ioErr                     = -36,   // the file system failed
    bdNamErr                  = -37,   // a name without an HFSUniStr255 form, or too long
    fnfErr                    = -43,   // nothing there
    paramErr                  = -50,   // a bad argument
    memFullErr                = -108,  // out of memory
    dirNFErr                  = -120,  // a component of the path is not a folder
    errFSBadFSRef             = -1401, // a ref the platform did not make
    errFSBadInfoBitmap        = -1405, // catalog information this platform does not keep
    errFSNotAFolder           = -1407, // a folder was expected
    errFSNoMoreItems          = -1417, // the folder's last batch
    errFSBadItemCount         = -1418, // a batch of 0 items asked for
    errFSBadIteratorFlags     = -1422, // unknown iterator flags
    errFSIteratorNotSupported = -1424, // a subtree iterator
    afpAccessDenied           = -5000  // permission denied
};

extern "C" {

// A ref for the item at path (UTF-8 or any bytes, POSIX style), read under
// the root: "/Library/Modem Scripts" and "Library/Modem Scripts" both name
// <root>/Library/Modem Scripts. A path that leaves the root ("..") is
// paramErr; nothing there (a link leading nowhere included) is fnfErr. When
// isDirectory is not NULL it tells whether the item is a folder.
OSStatus FSPathMakeRef(const UInt8 *path, FSRef *ref, Boolean *isDirectory) noexcept;

// Fills what whichInfo asks for (kFSCatInfoNodeFlags, kFSCatInfoFinderInfo;
// any other bit is errFSBadInfoBitmap), the item's name, and the ref of its
// folder (a zeroed ref for the file system's root). Nothing is filled unless
// the call succeeds. Per-item errors: see the top of this file.
OSErr FSGetCatalogInfo(const FSRef *ref, FSCatalogInfoBitmap whichInfo, FSCatalogInfo *catalogInfo,
                       HFSUniStr255 *outName, FSSpec *fsSpec, FSRef *parentRef) noexcept;

// Opens a flat iterator over the folder ref names (kFSIterateFlat only).
// errFSNotAFolder when it is not a folder.
OSErr FSOpenIterator(const FSRef *container, FSIteratorFlags iteratorFlags,
                     FSIterator *iterator) noexcept;

// Fetches up to maximumObjects items of the folder (never "." and ".."), in
// the order the file system lists them, with their refs and names (either
// may be NULL). The batch that ends the folder, which may hold no item,
// comes with errFSNoMoreItems; so does every call after it. Per-item
// catalog information is not fetched in bulk (whichInfo must be
// kFSCatInfoNone): ask FSGetCatalogInfo, which reports each item's own
// errors. *containerChanged, when asked, is false.
OSErr FSGetCatalogInfoBulk(FSIterator iterator, ItemCount maximumObjects, ItemCount *actualObjects,
                           Boolean *containerChanged, FSCatalogInfoBitmap whichInfo,
                           FSCatalogInfo *catalogInfos, FSRef *refs, FSSpec *fsSpecs,
                           HFSUniStr255 *names) noexcept;

OSErr FSCloseIterator(FSIterator iterator) noexcept;

} // extern "C"

#endif
