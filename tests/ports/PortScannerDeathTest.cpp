// PortScannerDeathTest.cpp: one death per distinct assertion text of the
// scanner: the public entries' out-parameters, a callback's template that asks
// for a value the record lacks or a sort value that is not a number, and the
// arguments of the internal steps.
#include "Internal.h"
#include "PortTestSupport.h"

#include <functional>

namespace {

using vztest::NetworkPort;
using vztest::SerialPort;

const char *gTemplate = nullptr;

OSStatus TemplateCallback(io_object_t, CFMutableDictionaryRef, CFStringRef,
                          CFStringRef *nameTemplate)
{
    *nameTemplate = CFStringCreateWithCString(nullptr, gTemplate, kCFStringEncodingUTF8);
    return noErr;
}

OSStatus TextSortOrderCallback(io_object_t, CFMutableDictionaryRef interfaceInfo, CFStringRef,
                               CFStringRef *)
{
    CFDictionarySetValue(interfaceInfo, kVaviVAZPortSortOrderKey, CFSTR("first"));
    return noErr;
}

void ScanWith(const char *nameTemplate)
{
    gTemplate = nameTemplate;
    VaviVAZSetPortNameCallback(TemplateCallback);
    CFArrayRef ports = NULL;
    (void)MoreSCCreatePortArray(&ports);
}

class PortScannerDeathTest : public vztest::PortScan {};

TEST_F(PortScannerDeathTest, EachAssertionText)
{
    Machine({SerialPort(false, "serial", "s"), NetworkPort("en0")});
    static int             notAHandle = 0;
    io_object_t            fake       = reinterpret_cast<io_object_t>(&notAHandle);
    CFMutableDictionaryRef info       = CFDictionaryCreateMutable(
              nullptr, 0, &kCFTypeDictionaryKeyCallBacks, &kCFTypeDictionaryValueCallBacks);
    CFArrayRef         array  = reinterpret_cast<CFArrayRef>(info);
    CFMutableStringRef name   = CFStringCreateMutable(nullptr, 0);
    CFMutableArrayRef  result = CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks);

    struct Row {
        const char           *text;
        std::function<void()> run;
    };
    const Row rows[] = {
        {"portArray != nil", [] { (void)MoreSCCreatePortArray(NULL); }},
        {"*portArray == nil", [&] { (void)MoreSCCreatePortArray(&array); }},
        {"portArray != NULL", [] { (void)MoreSCCreatePortArrayOld(NULL); }},
        {"*portArray == NULL", [&] { (void)MoreSCCreatePortArrayOld(&array); }},
        {"CFDictionaryGetValue(interfaceInfo, CFSTR(kIOBSDNameKey)) != NULL",
         [] { ScanWith("%1$@"); }},
        {"CFDictionaryGetValue(interfaceInfo, CFSTR(\"slot-name\")) != NULL",
         [] { ScanWith("%2$@"); }},
        {"CFDictionaryGetValue(interfaceInfo, CFSTR(\"IOChildIndex\")) != NULL",
         [] { ScanWith("%3$@"); }},
        {"CFDictionaryGetValue(interfaceInfo, CFSTR(kIOTTYBaseNameKey)) != NULL",
         [] { ScanWith("Port %4$@"); }},
        {"CFGetTypeID(numRef) == CFNumberGetTypeID()",
         [] {
             VaviVAZSetPortNameCallback(TextSortOrderCallback);
             CFArrayRef ports = NULL;
             (void)MoreSCCreatePortArray(&ports);
         }},
        {"deviceMatchDict != NULL",
         [&] { (void)AddMatchingDevicesToArray(0, NULL, EthernetDeviceToDictProc, NULL, result); }},
        {"deviceToDict != NULL",
         [&] { (void)AddMatchingDevicesToArray(0, info, NULL, NULL, result); }},
        {"result != NULL",
         [&] { (void)AddMatchingDevicesToArray(0, info, EthernetDeviceToDictProc, NULL, NULL); }},
        {"interface != IO_OBJECT_NULL",
         [&] { (void)EthernetDeviceToDictProc(NULL, IO_OBJECT_NULL, info); }},
        {"interfaceInfo != NULL", [&] { (void)ModemOrSerialDeviceToDictProc(NULL, fake, NULL); }},
        {"userVisibleName != NULL", [&] { (void)CopyUserVisiblePortName(fake, info, NULL); }},
        {"*userVisibleName == NULL", [&] { (void)CopyUserVisiblePortName(fake, info, &name); }},
        {"prop != NULL", [] { (void)CreateStringFromProperty(NULL); }},
        {"portDict != NULL", [] { (void)SortOrder(NULL); }},
        {"lhs != NULL", [&] { (void)PortSorter(NULL, info, NULL); }},
        {"rhs != NULL", [&] { (void)PortSorter(info, NULL, NULL); }},
        {"CFGetTypeID(lhsDict) == CFDictionaryGetTypeID()",
         [&] { (void)PortSorter(name, info, NULL); }},
        {"CFGetTypeID(rhsDict) == CFDictionaryGetTypeID()",
         [&] { (void)PortSorter(info, name, NULL); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_DEATH(row.run(), vztest::AssertionPattern(row.text));
    }
    CFRelease(result);
    CFRelease(name);
    CFRelease(info);
}

} // namespace
