// FuzzSupport.h: what the fuzz targets share: a failed check that stops the
// run, a temporary folder per process, files written into it, and the
// platform's live-object count around one input.
#ifndef VZ_TESTS_FUZZSUPPORT_H
#define VZ_TESTS_FUZZSUPPORT_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

namespace vzfuzz {

// A broken promise of the code under test: libFuzzer keeps the input.
inline void Check(bool condition, const char *what)
{
    if (condition) return;
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

// A folder of its own for the process, removed when the process exits.
class TempFolder {
  public:
    explicit TempFolder(const char *kind)
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string("vz-fuzz-") + kind + "-XXXXXX"))
                .string();
        Check(mkdtemp(pattern.data()) != nullptr, "a temporary folder");
        path_ = pattern;
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder &)                   = delete;
    TempFolder        &operator=(const TempFolder &) = delete;
    const std::string &path() const { return path_; }

  private:
    std::string path_;
};

// Writes bytes to path (its folder made first).
inline void WriteFile(const std::string &path, std::string_view bytes)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::FILE *file = std::fopen(path.c_str(), "wb");
    Check(file != nullptr, "a file of the fuzz folder opens");
    Check(std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size(),
          "a file of the fuzz folder is written");
    Check(std::fclose(file) == 0, "a file of the fuzz folder is closed");
}

} // namespace vzfuzz

#endif
