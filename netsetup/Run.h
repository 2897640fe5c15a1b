// Run.h: one run of vz-netsetup, apart from the process around it, so that
// the tests can run the command in their own process too.
//
// Exit statuses: 0 success, 1 the operation failed (one line on standard
// error saying why, with the library's code when there is one), 2 a usage
// error (one line saying what was wrong, with a pointer to the command's
// --help). Standard output gets the command's output only when it ran to its
// end: a listing that could not read everything lists the rest, says on
// standard error what it could not read, and exits 1.
#ifndef VZ_NETSETUP_RUN_H
#define VZ_NETSETUP_RUN_H

#include <string>

namespace netsetup {

struct Outcome {
    int         status = 0;
    std::string out; // for standard output
    std::string err; // for standard error
};

// Runs the command line (argv[0] is the program's name). --root sets
// VAVIVAZ_ROOT for the rest of the process.
Outcome Run(int argc, const char *const *argv);

} // namespace netsetup

#endif
