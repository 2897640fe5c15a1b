// Main.cpp: vz-netsetup, one command over the network preferences library,
// for people (aligned tables) and for scripts (--json). A write to standard
// output that fails (a full disk, a closed descriptor) is a failure too.
#include "Output.h"
#include "Run.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    netsetup::Outcome outcome = netsetup::Run(argc, argv);
    if (!netsetup::WriteStandardOutput(outcome.out)) {
        std::fprintf(stderr, "vz-netsetup: cannot write to standard output: %s\n",
                     errno != 0 ? std::strerror(errno) : "write error");
        return netsetup::kExitFailure;
    }
    std::fputs(outcome.err.c_str(), stderr);
    return outcome.status;
}
