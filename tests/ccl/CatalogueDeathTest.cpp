// CatalogueDeathTest.cpp: one death per distinct assertion text of the
// catalogue: the out-parameter, the folder listing's arguments, and port
// records that break the scanner's promises (made so by a name callback,
// since the scanner itself never hands them out).
#include "ScriptTestSupport.h"

#include <functional>

namespace {

using vztest::Integer;

CFStringRef gRemovedKey = nullptr;
CFTypeRef   gWrongValue = nullptr;

// Takes the key out of every record, or gives it gWrongValue.
OSStatus BreakRecord(io_object_t, CFMutableDictionaryRef interfaceInfo, CFStringRef, CFStringRef *)
{
    if (gWrongValue != nullptr)
        CFDictionarySetValue(interfaceInfo, gRemovedKey, gWrongValue);
    else
        CFDictionaryRemoveValue(interfaceInfo, gRemovedKey);
    return noErr;
}

void ChooseWithBrokenRecords(CFStringRef key, CFTypeRef wrongValue)
{
    gRemovedKey = key;
    gWrongValue = wrongValue;
    VaviVAZSetPortNameCallback(BreakRecord);
    CFArrayRef scripts = NULL;
    CFIndex    index   = 0;
    (void)MoreSCCreateCCLArray(&scripts, &index);
}

class CatalogueDeathTest : public vztest::ScriptRoot {};

TEST_F(CatalogueDeathTest, EachAssertionText)
{
    SetVersion("10.3.9");
    ModemMachine(Integer(1));
    static int        notAString = 0;
    CFArrayRef        notNull    = reinterpret_cast<CFArrayRef>(&notAString);
    CFMutableArrayRef names      = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);
    CFNumberRef       number     = CFNumberCreate(nullptr, kCFNumberIntType, &notAString);
    FSRef             folder;
    ASSERT_EQ(FSFindFolder(kLocalDomain, kModemScriptsFolderType, kCreateFolder, &folder), noErr);

    struct Row {
        const char           *text;
        std::function<void()> run;
    };
    const Row rows[] = {
        {"result != NULL", [] { (void)MoreSCCreateCCLArray(NULL, NULL); }},
        {"*result == NULL", [&] { (void)MoreSCCreateCCLArray(&notNull, NULL); }},
        {"ref != NULL", [&] { (void)AddCCLsInFolderToArray(NULL, names); }},
        {"array != NULL", [&] { (void)AddCCLsInFolderToArray(&folder, NULL); }},
        {"thisPortHardware != NULL",
         [] { ChooseWithBrokenRecords(kSCPropNetInterfaceHardware, nullptr); }},
        {"CFGetTypeID(thisPortHardware) == CFStringGetTypeID()",
         [&] { ChooseWithBrokenRecords(kSCPropNetInterfaceHardware, number); }},
        {"thisPortName != NULL",
         [] { ChooseWithBrokenRecords(kSCPropNetInterfaceDeviceName, nullptr); }},
        {"CFGetTypeID(thisPortName) == CFStringGetTypeID()",
         [&] { ChooseWithBrokenRecords(kSCPropNetInterfaceDeviceName, number); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_DEATH(row.run(), vztest::AssertionPattern(row.text));
    }
    CFRelease(number);
    CFRelease(names);
}

} // namespace
