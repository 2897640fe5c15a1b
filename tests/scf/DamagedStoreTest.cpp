// DamagedStoreTest.cpp: the readers over the damaged-store corpus
// (tests/data/probe): whatever the store holds, every reader returns, hands
// out values of the promised kinds or an error with NULL out-values, and the
// modem is never found through a broken road.
#include "Internal.h"
#include "VaviVAZ.h"

#include "TestSupport.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::vector<std::string> CorpusFiles()
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(vztest::TestDataPath("probe"))) {
        if (entry.path().extension() == ".plist") names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool IsA(CFTypeRef value, CFTypeID type)
{
    return value != NULL && CFGetTypeID(value) == type;
}

class DamagedStore : public vztest::TempRoot {
  protected:
    void Use(const std::string &name)
    {
        SCOPED_TRACE(name);
        Write(kStorePath, vztest::ReadFile(vztest::TestDataPath("probe/" + name)));
    }

    // Calls every reader the way the model's callers do and checks what each
    // hands out. Returns whether the walk of the probe (service IDs in order,
    // then BSD names) reaches the modem's port.
    static bool SweepFindsModem(const std::string &name)
    {
        SCOPED_TRACE(name);
        bool found = false;

        CFStringRef setID = NULL;
        OSStatus    err   = MoreSCCopyCurrentSet(&setID);
        EXPECT_TRUE(err == noErr ? IsA(setID, CFStringGetTypeID()) : setID == NULL);
        if (setID != NULL) CFRelease(setID);

        CFDictionaryRef servicesDict = NULL;
        CFArrayRef      serviceOrder = NULL;
        err                          = MoreSCCopyServicesDict(NULL, &servicesDict, &serviceOrder);
        if (err == noErr) {
            EXPECT_TRUE(IsA(servicesDict, CFDictionaryGetTypeID()));
            EXPECT_TRUE(IsA(serviceOrder, CFArrayGetTypeID()));
            EXPECT_EQ(CFDictionaryGetCount(servicesDict), CFArrayGetCount(serviceOrder));
            CFRelease(servicesDict);
            CFRelease(serviceOrder);
        } else {
            EXPECT_EQ(servicesDict, nullptr);
            EXPECT_EQ(serviceOrder, nullptr);
        }

        CFArrayRef local = NULL, resolved = NULL;
        err = MoreSCCopyServiceIDs(NULL, &local, &resolved);
        EXPECT_EQ(err == noErr, local != NULL && resolved != NULL);
        if (local != NULL) CFRelease(local);
        if (resolved != NULL) CFRelease(resolved);

        CFDictionaryRef globals = NULL;
        err                     = MoreSCCopyEntity(NULL, NULL, kSCEntNetIPv4, &globals);
        EXPECT_TRUE(err == noErr ? IsA(globals, CFDictionaryGetTypeID()) : globals == NULL);
        if (globals != NULL) CFRelease(globals);

        local = NULL;
        err   = MoreSCCopyServiceIDs(NULL, &local, NULL);
        EXPECT_EQ(err == noErr, local != NULL);
        for (CFIndex i = 0; local != NULL && i < CFArrayGetCount(local); i++) {
            CFStringRef serviceID = static_cast<CFStringRef>(CFArrayGetValueAtIndex(local, i));
            EXPECT_TRUE(IsA(serviceID, CFStringGetTypeID()));

            CFDictionaryRef entity = NULL;
            err                    = MoreSCCopyEntity(NULL, serviceID, kSCEntNetInterface, &entity);
            EXPECT_TRUE(err == noErr ? IsA(entity, CFDictionaryGetTypeID()) : entity == NULL);
            if (entity != NULL) CFRelease(entity);

            CFStringRef bsdName = NULL;
            err                 = MoreSCCopyBSDNameOfService(NULL, serviceID, &bsdName);
            EXPECT_TRUE(err == noErr ? IsA(bsdName, CFStringGetTypeID()) : bsdName == NULL);
            if (bsdName != NULL && CFEqual(bsdName, CFSTR("ZORVEXMobile-Modem"))) found = true;
            if (bsdName != NULL) CFRelease(bsdName);
        }
        if (local != NULL) CFRelease(local);
        return found;
    }
};

TEST_F(DamagedStore, EveryReaderReturnsAndTheModemIsNotFound)
{
    std::vector<std::string> files = CorpusFiles();
    ASSERT_GT(files.size(), 40u);
    for (const std::string &name : files) {
        Use(name);
        EXPECT_EQ(SweepFindsModem(name), name == "intact.plist") << name;
    }
}

TEST_F(DamagedStore, WrongKindsAndShapesAreReportedAsStoreValueErrors)
{
    enum Reader { kCurrentSet, kLocalIDs, kResolvedIDs, kBothParts, kModemName };
    struct Case {
        const char *file;
        Reader      reader;
    };
    const Case kCases[] = {
        {"current-set-integer.plist", kCurrentSet},
        {"current-set-integer.plist", kLocalIDs},
        {"current-set-dictionary.plist", kCurrentSet},
        {"current-set-dictionary.plist", kModemName},
        {"current-set-too-short.plist", kCurrentSet},
        {"current-set-too-long.plist", kCurrentSet},
        {"service-order-missing.plist", kLocalIDs},
        {"service-order-string.plist", kLocalIDs},
        {"service-order-dictionary.plist", kBothParts},
        {"order-entry-integer.plist", kLocalIDs},
        {"order-entry-dictionary.plist", kResolvedIDs},
        {"order-longer-than-services.plist", kBothParts},
        {"link-target-too-long.plist", kResolvedIDs},
        {"link-self-cycle.plist", kResolvedIDs},
        {"device-name-missing.plist", kModemName},
        {"device-name-integer.plist", kModemName},
        {"device-name-data.plist", kModemName},
        {"device-name-array.plist", kModemName},
    };
    for (const Case &c : kCases) {
        Use(c.file);
        CFTypeRef first = NULL, second = NULL;
        OSStatus  err = noErr;
        switch (c.reader) {
        case kCurrentSet:
            err = MoreSCCopyCurrentSet(reinterpret_cast<CFStringRef *>(&first));
            break;
        case kLocalIDs:
            err = MoreSCCopyServiceIDs(NULL, reinterpret_cast<CFArrayRef *>(&first), NULL);
            break;
        case kResolvedIDs:
            err = MoreSCCopyServiceIDs(NULL, reinterpret_cast<CFArrayRef *>(&first),
                                       reinterpret_cast<CFArrayRef *>(&second));
            break;
        case kBothParts:
            err = MoreSCCopyServicesDict(NULL, reinterpret_cast<CFDictionaryRef *>(&first),
                                         reinterpret_cast<CFArrayRef *>(&second));
            break;
        case kModemName:
            err = MoreSCCopyBSDNameOfService(NULL, CFSTR("MODEM"),
                                             reinterpret_cast<CFStringRef *>(&first));
            break;
        }
        EXPECT_EQ(err, kMoreSCErrorStoreValue) << c.file << " reader " << c.reader;
        EXPECT_EQ(first, nullptr) << c.file;
        EXPECT_EQ(second, nullptr) << c.file;
    }
}

TEST_F(DamagedStore, LinkCyclesAreReportedByThePlatform)
{
    for (const char *file :
         {"link-self-cycle.plist", "link-two-cycle.plist", "set-link-cycle.plist"}) {
        Use(file);
        CFStringRef bsdName = NULL;
        EXPECT_EQ(MoreSCCopyBSDNameOfService(NULL, CFSTR("MODEM"), &bsdName), kSCStatusMaxLink)
            << file;
        EXPECT_EQ(bsdName, nullptr);
    }
}

} // namespace
