// Output.h: the two forms of everything the command prints: aligned tables
// and labelled lines for people, one JSON document for scripts. The JSON
// field names are part of the command's interface (README.md lists them);
// add fields, never rename or remove one.
#ifndef VZ_NETSETUP_OUTPUT_H
#define VZ_NETSETUP_OUTPUT_H

#include "Command.h"
#include "Store.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace netsetup {

// Object members keep the order in which they were added.
using Json = nlohmann::ordered_json;

// Columns padded to their widest cell (in the columns a terminal gives the
// text, not in bytes or characters), under a header line. The last column is
// not padded.
class Table {
  public:
    explicit Table(std::vector<std::string> header);
    // A column whose cells are numbers, aligned to the right.
    void        RightAlign(size_t column);
    void        Add(std::vector<std::string> row);
    std::string Text() const;

  private:
    std::vector<std::vector<std::string>> rows_;
    std::vector<bool>                     right_;
};

// "Label:   value" lines, the values aligned.
std::string Labelled(const std::vector<std::pair<std::string, std::string>> &lines);

// The cell for an optional text: the text with control characters escaped,
// or "-".
std::string Cell(const std::optional<std::string> &text);

// The JSON forms of a location and of a service.
Json ToJson(const Location &location);
Json ToJson(const Service &service);
Json ToJson(const std::vector<Service> &services);
Json Nullable(const std::optional<std::string> &text);

// Adds the document to the command's output.
void Emit(Context &context, const Json &document);
// Adds the document {"location": LOCATION, "services": [SERVICE, ...]}. The
// services are converted and written one at a time, never held as one tree:
// a listing of thousands of services costs a fraction of the time and
// memory.
void EmitServices(Context &context, const Location &location, const std::vector<Service> &services);
// The services of a location as a table (position 0: "-", a service the
// service order leaves out, or one the location does not list; "!" in the
// first column: a service that cannot be read).
std::string ServicesTable(const std::vector<Service> &services);
// A service's PPP settings in a few words ("number *99#, account "web",
// password set"), or "-" without a PPP entity. Never the password.
std::string PPPText(const Service &service);
// A service's settings in one line each.
std::string ServiceLines(const Service &service, const Location &location, size_t serviceCount);

// Writes text to standard output and flushes it; false (with errno set) when
// that fails, as it does on a full disk or a closed descriptor.
bool WriteStandardOutput(const std::string &text);

} // namespace netsetup

#endif
