// Names.h: what the command accepts as a name and how it shows text.
//
// Names of locations and services have one spelling: they are stored and
// compared in NFC, so "Büro" typed with a combining diaeresis finds, and
// cannot be created beside, the "Büro" of another keyboard. A new name may
// not be any object's ID, which would then find two objects, and may not
// hold a character that a terminal acts on or that reorders a row (controls,
// bidirectional overrides and isolates) or one not meant for interchange (a
// noncharacter), as the shared tool support classes characters. What the
// store holds anyway, written by other programs, is shown escaped by the
// same rule in tables and messages; JSON carries it as it is.
#ifndef VZ_NETSETUP_NAMES_H
#define VZ_NETSETUP_NAMES_H

#include <optional>
#include <string>

namespace netsetup {

// Text in tables and messages goes through vztool::printable
// (VZToolSupport.h), which owns the rule of what a terminal must not be
// handed raw.

// The text in double quotes, for messages: quotes and backslashes inside are
// escaped, and then what vztool::printable escapes.
std::string Quote(const std::string &text);

// Text from the command line that the store is to hold (what: "the name",
// "the phone number"): not empty, UTF-8, without control characters or
// noncharacters (which a store file cannot carry); a UsageError otherwise.
void CheckText(const std::string &text, const std::string &what);
// A name for a new or renamed location or service, checked as CheckText
// checks text and refused (UsageError) when it holds a C1 control, a
// bidirectional override or isolate; the name in NFC, as it is to be stored.
[[nodiscard]] std::string CheckNewName(const std::string &name);

// The form names are compared in: NFC (text that is not UTF-8 stays as it
// is).
std::string NameKey(const std::string &text);
// Whether a stored name (none: the object has no name) is the name whose
// NameKey is key.
bool NameMatches(const std::optional<std::string> &stored, const std::string &key);
// Fails when name is the ID of a location or a service of the store, IDs
// compared without regard to case: the name would then find another object
// than the one it names. Needs an open store session.
void CheckNameIsNoID(const std::string &name);

} // namespace netsetup

#endif
