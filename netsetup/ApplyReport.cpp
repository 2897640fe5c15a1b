// ApplyReport.cpp: the platform's apply report, in words and in JSON.
#include "ApplyReport.h"

#include "CFText.h"
#include "Output.h"

#include <SystemConfiguration/SystemConfiguration.h>

#include <algorithm>

namespace netsetup {

// Named, not anonymous: this folder compiles its files in batches, where
// every file's anonymous namespace is one and the same.
namespace applyreport {

struct ProfileLine {
    std::string action, name, uuid, type, interfaceName, serviceID, locationID;
    bool        done = false;
};

struct NotCarriedLine {
    std::string serviceID, serviceName, item, value, text;
};

struct Report {
    std::string                 state;
    OSStatus                    error = 0;
    std::string                 reason;
    std::vector<ProfileLine>    profiles;
    std::vector<NotCarriedLine> notCarried;

    size_t Count(const char *action) const
    {
        size_t count = 0;
        for (const ProfileLine &line : profiles)
            if (line.action == action) count++;
        return count;
    }
};

std::vector<CFDictionaryRef> Dictionaries(CFDictionaryRef dict, CFStringRef key)
{
    std::vector<CFDictionaryRef> entries;
    CFTypeRef                    array = CFDictionaryGetValue(dict, key);
    if (array == nullptr || CFGetTypeID(array) != CFArrayGetTypeID()) return entries;
    for (CFIndex i = 0; i < CFArrayGetCount(static_cast<CFArrayRef>(array)); i++) {
        CFTypeRef entry = CFArrayGetValueAtIndex(static_cast<CFArrayRef>(array), i);
        if (CFGetTypeID(entry) == CFDictionaryGetTypeID())
            entries.push_back(static_cast<CFDictionaryRef>(entry));
    }
    return entries;
}

Report Decode(CFDictionaryRef dict)
{
    Report report;
    report.state  = StringValue(dict, kVZApplyReportState).value_or("");
    report.error  = static_cast<OSStatus>(IntegerValue(dict, kVZApplyReportError).value_or(0));
    report.reason = StringValue(dict, kVZApplyReportReason).value_or("");
    for (CFDictionaryRef entry : Dictionaries(dict, kVZApplyReportProfiles)) {
        ProfileLine line;
        line.action        = StringValue(entry, kVZApplyProfileAction).value_or("");
        line.done          = IntegerValue(entry, kVZApplyProfileDone).value_or(0) != 0;
        line.name          = StringValue(entry, kVZApplyProfileName).value_or("");
        line.uuid          = StringValue(entry, kVZApplyProfileUUID).value_or("");
        line.type          = StringValue(entry, kVZApplyProfileType).value_or("");
        line.interfaceName = StringValue(entry, kVZApplyProfileInterface).value_or("");
        line.serviceID     = StringValue(entry, kVZApplyProfileServiceID).value_or("");
        line.locationID    = StringValue(entry, kVZApplyProfileLocationID).value_or("");
        report.profiles.push_back(std::move(line));
    }
    for (CFDictionaryRef entry : Dictionaries(dict, kVZApplyReportNotCarried))
        report.notCarried.push_back({StringValue(entry, kVZApplyNotCarriedServiceID).value_or(""),
                                     StringValue(entry, kVZApplyNotCarriedServiceName).value_or(""),
                                     StringValue(entry, kVZApplyNotCarriedItem).value_or(""),
                                     StringValue(entry, kVZApplyNotCarriedValue).value_or(""),
                                     StringValue(entry, kVZApplyNotCarriedText).value_or("")});
    return report;
}

std::optional<Report> TakeReport()
{
    Ref<CFDictionaryRef> dict(VZPreferencesCopyApplyReport());
    if (!dict) return std::nullopt;
    return Decode(dict.get());
}

// "followed", "not_live", ...: the state as scripts read it.
std::string StateName(const std::string &state)
{
    if (state == "NotLive") return "not_live";
    std::string name = state;
    for (char &c : name)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name;
}

Json ToJson(const Report &report)
{
    Json document;
    document["state"]   = StateName(report.state);
    document["added"]   = report.Count("add");
    document["updated"] = report.Count("update");
    document["removed"] = report.Count("delete");
    Json profiles       = Json::array();
    for (const ProfileLine &line : report.profiles)
        profiles.push_back({{"action", line.action},
                            {"done", line.done},
                            {"name", line.name},
                            {"uuid", line.uuid},
                            {"type", line.type},
                            {"interface", Nullable(line.interfaceName.empty()
                                                       ? std::nullopt
                                                       : std::optional(line.interfaceName))},
                            {"service_id", line.serviceID},
                            {"location_id", line.locationID}});
    document["profiles"] = profiles;
    Json notCarried      = Json::array();
    for (const NotCarriedLine &line : report.notCarried)
        notCarried.push_back(
            {{"service_id", line.serviceID},
             {"service_name", line.serviceName},
             {"item", line.item},
             {"value", Nullable(line.value.empty() ? std::nullopt : std::optional(line.value))},
             {"text", line.text}});
    document["not_carried"] = notCarried;
    if (report.state == "Failed") {
        document["error"]  = report.error;
        document["reason"] = report.reason;
    }
    return document;
}

// "2 profiles updated"; "to update" for a plan.
std::string Counted(size_t count, const char *done, const char *planned, bool plan)
{
    return std::to_string(count) + (count == 1 ? " profile " : " profiles ") +
           (plan ? planned : done);
}

// The items in words, each once: services of one name on ports of one
// kind (a modem's several ports) read the same.
std::string NotCarriedText(const Report &report)
{
    std::vector<std::string> said;
    std::string              text;
    for (const NotCarriedLine &line : report.notCarried) {
        if (std::find(said.begin(), said.end(), line.text) != said.end()) continue;
        said.push_back(line.text);
        text += (text.empty() ? "" : ", ") + vztool::printable(line.text);
    }
    return text;
}

// "NetworkManager: 1 profile added, 2 profiles updated; not carried: ..."
std::string Summary(const Report &report, bool plan)
{
    std::string changes;
    const struct {
        const char *action, *done, *planned;
    } kGroups[] = {{"add", "added", "to add"},
                   {"update", "updated", "to update"},
                   {"delete", "removed", "to remove"}};
    for (const auto &group : kGroups)
        if (size_t count = report.Count(group.action))
            changes +=
                (changes.empty() ? "" : ", ") + Counted(count, group.done, group.planned, plan);
    if (changes.empty()) changes = plan ? "no profile to change" : "no profile changed";
    std::string summary = "NetworkManager: " + changes;
    if (!report.notCarried.empty()) summary += "; not carried: " + NotCarriedText(report);
    return summary;
}

// Appends the member to the command's one-line JSON document.
void AddMember(Context &context, const Json &member)
{
    size_t end = context.out.find_last_not_of('\n');
    if (end == std::string::npos) return;
    size_t start  = context.out.rfind('\n', end);
    start         = start == std::string::npos ? 0 : start + 1;
    Json document = Json::parse(context.out.substr(start, end + 1 - start), nullptr, false);
    if (!document.is_object()) return;
    document["networkmanager"] = member;
    context.out.erase(start);
    Emit(context, document);
}

} // namespace applyreport

void DiscardApplyReport()
{
    Ref<CFDictionaryRef> stale(VZPreferencesCopyApplyReport());
}

void AddApplyReport(Context &context)
{
    std::optional<applyreport::Report> report = applyreport::TakeReport();
    if (!report || report->state == "NotLive") return;
    if (context.json) {
        applyreport::AddMember(context, applyreport::ToJson(*report));
        return;
    }
    if (report->state == "Absent") {
        context.out += "NetworkManager is not running: the network was not changed.\n";
        return;
    }
    context.out += applyreport::Summary(*report, false) + "\n";
}

void ThrowApplyFailure(const std::string &words, OSStatus code)
{
    std::optional<applyreport::Report> report = applyreport::TakeReport();
    if (!report || report->state != "Failed") throw Failure(words, code, vztool::kChangeOperation);
    size_t done = 0, changes = 0;
    for (const applyreport::ProfileLine &line : report->profiles) {
        if (line.action == "unchanged") continue;
        changes++;
        if (line.done) done++;
    }
    std::string detail = report->error == kSCStatusAccessError ? "NetworkManager refused the change"
                                                               : "NetworkManager failed";
    if (done > 0)
        detail += " after " + std::to_string(done) + " of " + std::to_string(changes) +
                  " profile changes";
    throw Failure(words + ": " + detail + ": " + vztool::printable(report->reason) + " (error " +
                  std::to_string(report->error) + ")");
}

void PrintApplyPlan(Context &context)
{
    Ref<CFDictionaryRef> dict(VZPreferencesCopyApplyPlan());
    if (!dict) throw Failure("cannot read the preferences store " + StorePath(context), SCError());
    applyreport::Report report = applyreport::Decode(dict.get());
    if (report.state == "Failed")
        throw Failure("cannot read NetworkManager's profiles: " + vztool::printable(report.reason),
                      report.error);
    if (context.json) {
        Json document;
        document["networkmanager"] = applyreport::ToJson(report);
        Emit(context, document);
        return;
    }
    if (report.state == "NotLive")
        context.out += "This root is not the running machine's: applying does not reach "
                       "NetworkManager.\n";
    else if (report.state == "Absent")
        context.out += "NetworkManager is not running: applying would not change the network.\n";
    else {
        context.out += applyreport::Summary(report, true) + "\n";
        if (!report.profiles.empty()) {
            Table table({"ACTION", "NAME", "TYPE", "INTERFACE", "UUID"});
            for (const applyreport::ProfileLine &line : report.profiles)
                table.Add({line.action, vztool::printable(line.name), line.type,
                           line.interfaceName.empty() ? "-" : vztool::printable(line.interfaceName),
                           line.uuid});
            context.out += table.Text();
        }
        return;
    }
    for (const applyreport::NotCarriedLine &line : report.notCarried)
        context.out += "Not carried: " + vztool::printable(line.text) + "\n";
}

} // namespace netsetup
