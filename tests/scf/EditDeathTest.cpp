// EditDeathTest.cpp: the editing operations stop the process on their
// callers' programming errors, with the agreed expression texts; one case per
// text that the read path's tests do not already cover.
#include "EditStore.h"
#include "Internal.h"
#include "VaviVAZ.h"

namespace {

using EditDeathTest = vztest::TempRoot;

// A non-NULL value where an out-parameter must point to NULL.
const void *const kFilled = CFSTR("filled");

TEST_F(EditDeathTest, CallersMistakesStopTheProcess)
{
    struct Case {
        const char *expression;
        void (*misuse)();
    };
    static const Case kCases[] = {
        {"entitiesDict != NULL", [] { (void)MoreSCSetEntitiesDict(NULL, CFSTR("A"), NULL); }},
        {"*entitiesDict == NULL",
         [] {
             CFDictionaryRef dict = static_cast<CFDictionaryRef>(kFilled);
             (void)MoreSCCopyEntitiesDict(NULL, CFSTR("A"), &dict);
         }},
        {"(entityProtocols != NULL) || (entityValues != NULL)",
         [] { (void)MoreSCCopyEntities(NULL, CFSTR("A"), NULL, NULL); }},
        {"(entityProtocols == NULL) || (*entityProtocols == NULL)",
         [] {
             CFArrayRef protocols = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCopyEntities(NULL, CFSTR("A"), &protocols, NULL);
         }},
        {"(entityValues == NULL) || (*entityValues == NULL)",
         [] {
             CFArrayRef values = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCopyEntities(NULL, CFSTR("A"), NULL, &values);
         }},
        {"entityProtocols != NULL",
         [] {
             edit::Plist values(storetext::Array({}));
             (void)MoreSCSetEntities(NULL, CFSTR("A"), NULL, values.array());
         }},
        {"entityValues != NULL",
         [] {
             edit::Plist protocols(storetext::Array({}));
             (void)MoreSCSetEntities(NULL, CFSTR("A"), protocols.array(), NULL);
         }},
        {"CFArrayGetCount(entityProtocols) == CFArrayGetCount(entityValues)",
         [] {
             edit::Plist protocols(storetext::Array({storetext::Str("IPv4")}));
             edit::Plist values(storetext::Array({}));
             (void)MoreSCSetEntities(NULL, CFSTR("A"), protocols.array(), values.array());
         }},
        {"(servicesDict != NULL) || (serviceOrder != NULL)",
         [] { (void)MoreSCSetServicesDict(NULL, NULL, NULL); }},
        {"CFDictionaryGetCount(servicesDict) == CFArrayGetCount(serviceOrder)",
         [] {
             edit::Plist services(storetext::Dict({{"A", edit::Link("A")}}));
             edit::Plist order(storetext::Array({}));
             (void)MoreSCSetServicesDict(NULL, services.dict(), order.array());
         }},
        {"active != NULL", [] { (void)MoreSCIsServiceActive(NULL, CFSTR("A"), NULL); }},
        {"userVisibleName != NULL",
         [] { (void)MoreSCCopyUserVisibleNameOfService(NULL, CFSTR("A"), NULL); }},
        {"*userVisibleName == NULL",
         [] {
             CFStringRef name = static_cast<CFStringRef>(kFilled);
             (void)MoreSCCopyUserVisibleNameOfSet(CFSTR("S1"), &name);
         }},
        {"newServiceUserVisibleName != NULL",
         [] { (void)MoreSCRenameService(NULL, CFSTR("A"), NULL); }},
        {"newSetUserVisibleName != NULL", [] { (void)MoreSCRenameSet(CFSTR("S1"), NULL); }},
        {"setsDict != NULL", [] { (void)MoreSCSetSetsDict(NULL); }},
        {"*setsDict == NULL",
         [] {
             CFDictionaryRef sets = static_cast<CFDictionaryRef>(kFilled);
             (void)MoreSCCopySetsDict(&sets);
         }},
        {"setIDs != NULL", [] { (void)MoreSCCopySetIDs(NULL, NULL); }},
        {"*setIDs == NULL",
         [] {
             CFArrayRef ids = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCopySetIDs(&ids, NULL);
         }},
        {"(newSetID == NULL) || (*newSetID == NULL)",
         [] {
             CFStringRef id = static_cast<CFStringRef>(kFilled);
             (void)MoreSCDuplicateSet(CFSTR("S1"), NULL, &id);
         }},
        {"(newServiceID == NULL) || (*newServiceID == NULL)",
         [] {
             CFStringRef id = static_cast<CFStringRef>(kFilled);
             (void)MoreSCDuplicateService(NULL, CFSTR("A"), NULL, &id);
         }},
    };
    for (const Case &c : kCases) {
        EXPECT_DEATH(c.misuse(), vztest::AssertionPattern(c.expression)) << c.expression;
    }
}

} // namespace
