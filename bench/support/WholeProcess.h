// WholeProcess.h: roots for benchmarks that time whole processes, and the
// running of one such process.
#ifndef VZ_BENCH_WHOLEPROCESS_H
#define VZ_BENCH_WHOLEPROCESS_H

#include <cstddef>
#include <string>
#include <vector>

namespace vzbench {

struct ModemRoot {
    std::string path;
    size_t      storeBytes = 0;
};

// A temporary root (TempRoots.h) whose store is GenerateStore's with that
// many services (lean: an interface and an IPv4 entity each), the modem's
// service last in the current set's order and its connection up in the
// dynamic store. Made once per shape.
ModemRoot ModemRootFor(size_t services, bool lean = false);

// Runs program with the arguments over the root (VAVIVAZ_ROOT), standard
// output and error to /dev/null; its exit status, or -1.
int RunWholeProcess(const char *program, const std::vector<const char *> &arguments,
                    const ModemRoot &root);

// The same, timed: the exit status (or -1), the wall-clock time from the
// spawn to the reaping, and the child's own processor time, user plus
// system, as the kernel accounted it.
struct ProcessRun {
    int    status      = -1;
    double wallSeconds = 0;
    double cpuSeconds  = 0;
};
ProcessRun TimeWholeProcess(const char *program, const std::vector<const char *> &arguments,
                            const ModemRoot &root);

// Two processes timed as a pair, one right after the other, which of them
// runs first alternating with the round, so that both meet the same load on a
// shared machine; each one's times are added to its totals. False when one of
// them did not exit with 0.
struct Pair {
    const char               *programs[2];
    std::vector<const char *> arguments[2];
    double                    wallSeconds[2] = {0, 0};
    double                    cpuSeconds[2]  = {0, 0};
};
bool TimePair(Pair &pair, const ModemRoot &root, int round);

} // namespace vzbench

#endif
