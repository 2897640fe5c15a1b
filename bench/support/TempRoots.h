// TempRoots.h: temporary machine roots for benchmarks. A root is made the
// first time a benchmark asks for it (a new folder under the system's
// temporary folder, filled by the caller), the same path is handed out after
// that, and every root is removed when the process exits.
#ifndef VZ_BENCH_TEMPROOTS_H
#define VZ_BENCH_TEMPROOTS_H

#include <cstdint>
#include <functional>
#include <string>

namespace vzbench {

// The root of that kind and key (a size, usually). fill writes the new
// root's files; it runs once per kind and key.
const std::string &TempRootFor(const std::string &kind, int64_t key,
                               const std::function<void(const std::string &root)> &fill);

} // namespace vzbench

#endif
