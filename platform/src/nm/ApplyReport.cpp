// ApplyReport.cpp: the latest apply's report of a thread, and its form as a
// dictionary.
#include "ApplyReport.h"

#include "Runtime.h"

#include <SystemConfiguration/SystemConfiguration.h>

namespace vz::nm {

namespace {

thread_local std::optional<ApplyReport> tLatestReport;

CFStringRef stateText(ReachKind reach) noexcept
{
    switch (reach) {
    case ReachKind::NotLive:
        return kVZApplyStateNotLive;
    case ReachKind::Absent:
        return kVZApplyStateAbsent;
    case ReachKind::Followed:
        return kVZApplyStateFollowed;
    case ReachKind::Failed:
        return kVZApplyStateFailed;
    case ReachKind::Planned:
        break;
    }
    return kVZApplyStatePlanned;
}

CFStringRef actionText(ActionKind kind) noexcept
{
    switch (kind) {
    case ActionKind::Add:
        return kVZApplyActionAdd;
    case ActionKind::Update:
        return kVZApplyActionUpdate;
    case ActionKind::Delete:
        return kVZApplyActionDelete;
    case ActionKind::Unchanged:
        break;
    }
    return kVZApplyActionUnchanged;
}

// Builds one dictionary; every Create that fails throws, and the boundary
// turns that into nullptr.
class DictionaryBuilder {
  public:
    DictionaryBuilder()
        : dict_(CFDictionaryCreateMutable(nullptr, 0, &kCFTypeDictionaryKeyCallBacks,
                                          &kCFTypeDictionaryValueCallBacks))
    {
        if (!dict_) throw std::bad_alloc();
    }
    void set(CFStringRef key, CFTypeRef value) { CFDictionarySetValue(dict_.get(), key, value); }
    // Empty text is left out: the key is absent.
    void setText(CFStringRef key, const std::string &text)
    {
        if (text.empty()) return;
        CFRef<CFStringRef> string(CFStringCreateWithBytes(
            nullptr, reinterpret_cast<const UInt8 *>(text.data()),
            static_cast<CFIndex>(text.size()), kCFStringEncodingUTF8, false));
        // Text that is not UTF-8 (NetworkManager's words are checked by the
        // bus; ours are made as UTF-8) is left out rather than failing the
        // report.
        if (string) set(key, string.get());
    }
    void setNumber(CFStringRef key, int value)
    {
        CFRef<CFNumberRef> number(CFNumberCreate(nullptr, kCFNumberIntType, &value));
        if (!number) throw std::bad_alloc();
        set(key, number.get());
    }
    CFMutableDictionaryRef get() const { return dict_.get(); }
    CFDictionaryRef        release() { return dict_.release(); }

  private:
    CFRef<CFMutableDictionaryRef> dict_;
};

CFRef<CFMutableArrayRef> newArray()
{
    CFRef<CFMutableArrayRef> array(CFArrayCreateMutable(nullptr, 0, &kCFTypeArrayCallBacks));
    if (!array) throw std::bad_alloc();
    return array;
}

} // namespace

ProfileLine lineFor(const Action &action)
{
    ProfileLine line;
    line.kind          = action.kind;
    line.path          = action.path;
    line.name          = textValue(action.settings, kConnectionSetting, kIdKey);
    line.uuid          = textValue(action.settings, kConnectionSetting, kUUIDKey);
    line.type          = textValue(action.settings, kConnectionSetting, kTypeKey);
    line.interfaceName = textValue(action.settings, kConnectionSetting, kInterfaceNameKey);
    (void)readMark(action.settings, &line.serviceID, &line.locationID);
    return line;
}

void recordApplyReport(ApplyReport report) noexcept
{
    tLatestReport = std::move(report);
}

std::optional<ApplyReport> takeApplyReport() noexcept
{
    std::optional<ApplyReport> report = std::move(tLatestReport);
    tLatestReport.reset();
    return report;
}

CFDictionaryRef createReportDictionary(const ApplyReport &report) noexcept
{
    return guarded(static_cast<CFDictionaryRef>(nullptr), [&]() -> CFDictionaryRef {
        DictionaryBuilder dict;
        dict.set(kVZApplyReportState, stateText(report.reach));
        if (report.reach == ReachKind::Failed) {
            dict.setNumber(kVZApplyReportError, report.status);
            dict.setText(kVZApplyReportReason, report.reason);
        }
        CFRef<CFMutableArrayRef> profiles = newArray();
        for (const ProfileLine &line : report.profiles) {
            DictionaryBuilder entry;
            entry.set(kVZApplyProfileAction, actionText(line.kind));
            entry.setNumber(kVZApplyProfileDone, line.done ? 1 : 0);
            entry.setText(kVZApplyProfileName, line.name);
            entry.setText(kVZApplyProfileUUID, line.uuid);
            entry.setText(kVZApplyProfileType, line.type);
            entry.setText(kVZApplyProfileInterface, line.interfaceName);
            entry.setText(kVZApplyProfileServiceID, line.serviceID);
            entry.setText(kVZApplyProfileLocationID, line.locationID);
            entry.setText(kVZApplyProfilePath, line.path);
            CFArrayAppendValue(profiles.get(), entry.get());
        }
        dict.set(kVZApplyReportProfiles, profiles.get());
        CFRef<CFMutableArrayRef> notCarried = newArray();
        for (const NotCarried &item : report.notCarried) {
            DictionaryBuilder entry;
            entry.setText(kVZApplyNotCarriedServiceID, item.serviceID);
            entry.setText(kVZApplyNotCarriedServiceName, item.serviceName);
            entry.setText(kVZApplyNotCarriedItem, item.item);
            entry.setText(kVZApplyNotCarriedValue, item.value);
            entry.setText(kVZApplyNotCarriedText, describe(item));
            CFArrayAppendValue(notCarried.get(), entry.get());
        }
        dict.set(kVZApplyReportNotCarried, notCarried.get());
        return dict.release();
    });
}

} // namespace vz::nm
