// RecipesDeathTest.cpp: the recipes stop the process on their callers'
// programming errors, with the agreed expression texts; one case per text.
#include "RecipeStore.h"
#include "VaviVAZHelpers.h"

namespace {

using RecipesDeathTest = vztest::TempRoot;

// A non-NULL value where an out-parameter must point to NULL.
const void *const kFilled = CFSTR("filled");

TEST_F(RecipesDeathTest, CallersMistakesStopTheProcess)
{
    static const MoreSCPPPDigest kActive   = {true, NULL, NULL, NULL, NULL, NULL, NULL};
    static const MoreSCPPPDigest kInactive = {};
    struct Case {
        const char *expression;
        void (*misuse)();
    };
    static const Case kCases[] = {
        {"userVisibleName != NULL",
         [] {
             CFStringRef id = NULL;
             (void)VaviVAZindSetByUserVisibleNameAndCopyID(NULL, &id);
         }},
        {"setID != NULL",
         [] { (void)VaviVAZindSetByUserVisibleNameAndCopyID(CFSTR("Home"), NULL); }},
        {"*setID == NULL",
         [] {
             CFStringRef id = static_cast<CFStringRef>(kFilled);
             (void)VaviVAZindSetByUserVisibleNameAndCopyID(CFSTR("Home"), &id);
         }},
        {"bsdName != NULL", [] { (void)VaviVAZCopyDefaultPortBSDName(kSCEntNetEthernet, NULL); }},
        {"*bsdName == NULL",
         [] {
             CFStringRef name = static_cast<CFStringRef>(kFilled);
             (void)VaviVAZCopyDefaultPortBSDName(kSCEntNetEthernet, &name);
         }},
        {"serviceSettings != NULL",
         [] { (void)MoreSCMakeNewSingleServiceSet(CFSTR("en0"), CFSTR("Name"), NULL, NULL); }},
        {"(newSetID == NULL) || (*newSetID == NULL)",
         [] {
             CFStringRef id = static_cast<CFStringRef>(kFilled);
             (void)MoreSCMakeNewPPPoESet(CFSTR("en0"), CFSTR("Name"), &kActive, NULL, NULL, &id);
         }},
        {"pppSettings != NULL",
         [] {
             (void)MoreSCMakeNewDialupSet(CFSTR("modem"), CFSTR("Name"), NULL, NULL, NULL, NULL,
                                          NULL);
         }},
        {"pppSettings->active",
         [] {
             (void)MoreSCMakeNewPPPoESet(CFSTR("en0"), CFSTR("Name"), &kInactive, NULL, NULL, NULL);
         }},
        {"active != NULL", [] { (void)MoreSCIsAppleTalkActive(NULL, NULL); }},
        {"activeDHCP != NULL", [] { (void)MoreSCCreateActiveDHCPServicesArray(NULL); }},
        {"*activeDHCP == NULL",
         [] {
             CFArrayRef ids = static_cast<CFArrayRef>(kFilled);
             (void)MoreSCCreateActiveDHCPServicesArray(&ids);
         }},
        {"serviceID != NULL", [] { (void)MoreSCDHCPRelease(NULL); }},
    };
    for (const Case &c : kCases) {
        EXPECT_DEATH(c.misuse(), vztest::AssertionPattern(c.expression)) << c.expression;
    }
}

} // namespace
