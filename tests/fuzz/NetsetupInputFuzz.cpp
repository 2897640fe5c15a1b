// NetsetupInputFuzz.cpp: fuzz target for what vz-netsetup reads from its
// user: the command line and the password file. Each input is a password
// file (its length in the first byte, then its bytes) and the words of a
// command line, separated by zero bytes; a word "@" names the password file,
// which is also standard input. The command runs through the command's own
// entry (Run.h) in this process, on a copy of the demo machine that every
// input starts from afresh (the root is always that copy: a --root word is
// pointed at it). Whatever the words, the command answers with exit status
// 0, 1 or 2; a failure says why in one printable line on standard error and
// prints nothing on standard output; no output shows a password (one with a
// character that nothing else holds); and once the platform's caches are
// emptied every object made is gone.
// scripts/fuzz netsetup-input SECONDS runs it.
#include "FuzzSupport.h"
#include "Run.h"
#include "VZPlatformTesting.h"

#include <CoreFoundation/CoreFoundation.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

using vzfuzz::Check;

constexpr size_t kMaxInput = 4096;
constexpr size_t kMaxWords = 32;

std::string ReadAll(const fs::path &path)
{
    std::ifstream      in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The demo machine's root, copied once; its files' bytes, to put back
// before every input, and all its text, in which a password may be found
// without having leaked.
struct Machine {
    vzfuzz::TempFolder                 folder{"netsetup"};
    std::string                        root         = folder.path() + "/root";
    std::string                        passwordFile = folder.path() + "/password";
    std::map<std::string, std::string> files;
    std::string                        allText;

    Machine()
    {
        fs::copy(VZ_FUZZ_EXAMPLE_ROOT, root, fs::copy_options::recursive);
        for (const auto &entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file()) files[entry.path().string()] = ReadAll(entry.path());
        for (const auto &[path, bytes] : files)
            allText += bytes + "\n";
        setenv("VAVIVAZ_ROOT", root.c_str(), 1);
        setenv("VAVIVAZ_LIVE", "0", 1);
    }
    // The root as it was: files written put back, files added removed.
    void Restore() const
    {
        std::vector<fs::path> added;
        for (const auto &entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file() && files.count(entry.path().string()) == 0)
                added.push_back(entry.path());
        for (const fs::path &path : added)
            fs::remove(path);
        for (const auto &[path, bytes] : files)
            vzfuzz::WriteFile(path, bytes);
    }
};

Machine &TheMachine()
{
    static Machine machine;
    return machine;
}

bool IsPrintableLine(const std::string &text)
{
    if (text.empty() || text.back() != '\n') return false;
    for (size_t i = 0; i + 1 < text.size(); i++)
        if (static_cast<unsigned char>(text[i]) < 0x20 || text[i] == 0x7F) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0 || size > kMaxInput) return 0;
    Machine &machine = TheMachine();
    machine.Restore();

    const char *bytes         = reinterpret_cast<const char *>(data);
    size_t      passwordBytes = std::min<size_t>(data[0], size - 1);
    std::string password(bytes + 1, passwordBytes);
    vzfuzz::WriteFile(machine.passwordFile, password);
    int input = open(machine.passwordFile.c_str(), O_RDONLY);
    Check(input >= 0 && dup2(input, 0) == 0, "standard input is the password file");
    close(input);

    std::vector<std::string> words{"vz-netsetup"};
    std::string              rest(bytes + 1 + passwordBytes, size - 1 - passwordBytes);
    for (size_t start = 0; start <= rest.size() && words.size() <= kMaxWords;) {
        size_t end = rest.find('\0', start);
        if (end == std::string::npos) end = rest.size();
        std::string word = rest.substr(start, end - start);
        if (word == "@") word = machine.passwordFile;
        // Whatever root the words name, the command works on the copy.
        if (word.rfind("--root", 0) == 0) word = "--root=" + machine.root;
        words.push_back(word);
        start = end + 1;
    }
    std::vector<const char *> argv;
    for (const std::string &word : words)
        argv.push_back(word.c_str());
    argv.push_back(nullptr);

    VZFlushPlatformCaches();
    CFIndex           live    = VZGetLiveObjectCount();
    netsetup::Outcome outcome = netsetup::Run(static_cast<int>(words.size()), argv.data());
    VZFlushPlatformCaches();
    Check(VZGetLiveObjectCount() == live, "every object made is released");

    Check(outcome.status == 0 || outcome.status == 1 || outcome.status == 2,
          "the exit status is 0, 1 or 2");
    if (outcome.status != 0) {
        Check(outcome.out.empty(), "a failure prints nothing on standard output");
        Check(IsPrintableLine(outcome.err) && outcome.err.rfind("vz-netsetup: ", 0) == 0,
              "a failure says why in one printable line");
    }
    // A password holding a character found nowhere else (not in the
    // machine's files, not in the words; never in the command's own texts,
    // which are ASCII) can only be shown by leaking it.
    std::string line   = password.substr(0, password.find_first_of("\r\n"));
    bool        marked = false;
    for (size_t i = 0; i < line.size() && !marked;) {
        size_t end = i + 1;
        while (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
            end++;
        std::string character = line.substr(i, end - i);
        bool        elsewhere = machine.allText.find(character) != std::string::npos;
        for (const std::string &word : words)
            elsewhere = elsewhere || word.find(character) != std::string::npos;
        marked = static_cast<unsigned char>(line[i]) >= 0xC0 && end - i > 1 && !elsewhere;
        i      = end;
    }
    if (marked)
        Check(outcome.out.find(line) == std::string::npos &&
                  outcome.err.find(line) == std::string::npos,
              "no output shows the password");
    return 0;
}
