// ReadmeSession.h: the README's sessions as the tests run them: the lines
// between a session's markers, and the helpers that turn them into a shell
// script and compare its transcript with the README's (the IDs are new in
// every run: each distinct ID stands for the same ID throughout).
#ifndef VZ_TESTS_PROCESS_READMESESSION_H
#define VZ_TESTS_PROCESS_READMESESSION_H

#include "NetsetupFixture.h"

#include <cctype>
#include <map>
#include <string>
#include <vector>

namespace nstest {

// The text between the README's markers of the session named name, its
// indent taken off.
inline std::vector<std::string> SessionLines(const std::string &readme, const std::string &name)
{
    const std::string        begin = "<!-- session: " + name + " -->\n";
    const std::string        end   = "<!-- end of session -->";
    size_t                   from  = readme.find(begin);
    size_t                   to    = readme.find(end, from == std::string::npos ? 0 : from);
    std::vector<std::string> lines;
    if (from == std::string::npos || to == std::string::npos || to < from) return lines;
    for (const std::string &line :
         Lines(readme.substr(from + begin.size(), to - from - begin.size())))
        if (!line.empty()) lines.push_back(line.substr(line.rfind("    ", 0) == 0 ? 4 : 0));
    return lines;
}

inline std::string ShellQuoted(const std::string &text)
{
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

inline std::string Replaced(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

// Whether text holds an ID (an upper-case UUID) at at.
inline bool IsIDAt(const std::string &text, size_t at)
{
    if (at + 36 > text.size()) return false;
    for (size_t i = 0; i < 36; i++) {
        char c = text[at + i];
        if (i == 8 || i == 13 || i == 18 || i == 23
                ? c != '-'
                : !std::isxdigit(static_cast<unsigned char>(c)) ||
                      std::islower(static_cast<unsigned char>(c)))
            return false;
    }
    return true;
}

// Each distinct ID becomes "<ID n>", n counted in order of appearance.
inline std::string WithoutIDs(const std::string &text)
{
    std::map<std::string, std::string> names;
    std::string                        out;
    for (size_t at = 0; at < text.size();) {
        if (!IsIDAt(text, at)) {
            out += text[at++];
            continue;
        }
        auto [name, added] =
            names.emplace(text.substr(at, 36), "<ID " + std::to_string(names.size() + 1) + ">");
        out += name->second;
        at += 36;
    }
    return out;
}

} // namespace nstest

#endif
