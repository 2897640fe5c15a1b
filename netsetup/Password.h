// Password.h: a password for a PPP account, read from a file or standard
// input, never from the command line (where every user of the machine could
// read it in the process list).
#ifndef VZ_NETSETUP_PASSWORD_H
#define VZ_NETSETUP_PASSWORD_H

#include <string>

namespace netsetup {

// The password that --password-file names: the first line of the file, or of
// standard input for "-", without its line end. On a terminal, "-" asks for
// it on standard error and reads it with echo off. Failure when it cannot be
// read, is empty, longer than kMaxPasswordBytes, not UTF-8 or holds a control
// character.
constexpr size_t kMaxPasswordBytes = 1024;
std::string      ReadPassword(const std::string &source);

// Overwrites the text before it is freed.
void Forget(std::string *secret);

} // namespace netsetup

#endif
