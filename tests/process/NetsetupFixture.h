// NetsetupFixture.h: vz-netsetup as a whole process over a copy of the demo
// machine, for the whole-process tests of its commands: the demo's IDs, the
// runner, and the JSON of a command that must succeed.
#ifndef VZ_TESTS_PROCESS_NETSETUPFIXTURE_H
#define VZ_TESTS_PROCESS_NETSETUPFIXTURE_H

#include "RunTool.h"
#include "TestSupport.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>
#include <vector>

#ifndef VZ_VZ_NETSETUP_PATH
#error "the path of vz-netsetup is needed"
#endif

namespace nstest {

namespace fs = std::filesystem;
using Json   = nlohmann::json;

// The demo machine's locations and services.
inline const std::string kAutomatic = "6E0F3A52-9B1D-4C77-A3E8-51D2C0B7F419";
inline const std::string kOffice    = "B83C1D04-27E6-4A9F-8D15-C4F0E9A2763B";
inline const std::string kEthernet  = "1F6C2A80-3D4E-4B19-9A07-6E52D8C1B3F4";
inline const std::string kAirPort   = "8A4D7E21-C5B3-4F60-B219-3E7A0D9C5F82";
inline const std::string kDiag      = "C2E91B47-6F08-4D3A-8E5C-A17B2F40D963";
inline const std::string kPcui      = "4B7F0E93-A2D1-4C86-95B3-E0C64A1F8D27";
inline const std::string kModem     = "E5A03C19-7B64-4E2F-A8D0-93F1B6C2574E";
inline const std::string kOfficeLAN = "93D2B6A7-4E1C-4F85-B0A9-2C7E5D1F4863";

using Args    = std::vector<std::string>;
using Outcome = vztest::ToolOutcome;

enum class Stdout { File, Full, Closed };

inline std::string Line(const Args &args)
{
    std::string line;
    for (const std::string &arg : args)
        line += arg + " ";
    return line;
}

class NetsetupRoot : public vztest::TempRoot {
  protected:
    void SetUp() override
    {
        TempRoot::SetUp();
        fs::copy(vztest::TestDataPath("../../examples/root"), root_,
                 fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }

    // Starts vz-netsetup with the arguments and standard input; VAVIVAZ_ROOT
    // is this root. The scratch files are the root's unless given.
    pid_t Start(const Args &args, Stdout mode = Stdout::File, std::string scratch = "",
                const std::string &input = "") const
    {
        Args argv{VZ_VZ_NETSETUP_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        return vztest::StartTool(argv, scratch.empty() ? root_ : scratch, input,
                                 mode == Stdout::Full ? "/dev/full" : nullptr, false,
                                 mode == Stdout::Closed);
    }

    Outcome Wait(pid_t pid, std::string scratch = "") const
    {
        return vztest::WaitTool(pid, scratch.empty() ? root_ : scratch);
    }

    Outcome Ns(const Args &args, Stdout mode = Stdout::File) const
    {
        return Wait(Start(args, mode));
    }
    Outcome Ns(const Args &args, const std::string &scratch) const
    {
        return Wait(Start(args, Stdout::File, scratch), scratch);
    }
    // With this on standard input.
    Outcome NsInput(const Args &args, const std::string &input) const
    {
        return Wait(Start(args, Stdout::File, "", input));
    }

    // The JSON document of a command that must succeed.
    Json Doc(Args args, const std::string &input = "") const
    {
        args.insert(args.begin(), "--json");
        Outcome run = NsInput(args, input);
        EXPECT_EQ(run.status, 0) << Line(args) << run.err;
        EXPECT_EQ(run.err, "");
        return Json::parse(run.out);
    }

    std::string Store() const { return Read(kStorePath); }
    void        ResetStore(const std::string &text) const { Write(kStorePath, text); }
};

inline std::vector<std::string> Ids(const Json &services)
{
    std::vector<std::string> ids;
    for (const Json &service : services)
        ids.push_back(service["id"]);
    return ids;
}

inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t                   start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

} // namespace nstest

#endif
