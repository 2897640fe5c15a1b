// FuzzReplay.cpp: runs a libFuzzer target over the files of its corpus as an
// ordinary program, with any compiler and no fuzzing engine, so that the
// test command replays every checked-in input (under the sanitizers of the
// test build) and a crash found once stays found.
//
//   vz_replay_TARGET PATH...   every regular file under each PATH, in name order
//
// Exit status: 0 when every input ran, 1 when a PATH held no input or a file
// could not be read; a failed check inside the target aborts.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    namespace fs    = std::filesystem;
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::vector<fs::path> inputs;
        if (fs::is_directory(argv[i])) {
            for (const auto &entry : fs::recursive_directory_iterator(argv[i]))
                if (entry.is_regular_file() && entry.path().filename() != "README.md")
                    inputs.push_back(entry.path());
        } else {
            inputs.emplace_back(argv[i]);
        }
        if (inputs.empty()) {
            std::fprintf(stderr, "%s: no input\n", argv[i]);
            return 1;
        }
        std::sort(inputs.begin(), inputs.end());
        for (const fs::path &input : inputs) {
            std::ifstream file(input, std::ios::binary);
            if (!file) {
                std::fprintf(stderr, "%s: cannot be read\n", input.c_str());
                return 1;
            }
            std::string bytes((std::istreambuf_iterator<char>(file)),
                              std::istreambuf_iterator<char>());
            LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
