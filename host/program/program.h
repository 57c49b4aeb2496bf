#pragma once
// The stand-in host's program: parses the command line, runs the command and
// answers the exit status (0 done, 1 failed, 2 wrong command line, 130
// stopped by the user).
#include <ostream>
#include <string>
#include <vector>

namespace kv::host {

struct ProgramStreams {
    std::ostream& out;
    std::ostream& err;
    // The progress bar is drawn only on a terminal.
    bool errIsTerminal = false;
};

int runProgram(const std::vector<std::string>& arguments, const ProgramStreams& streams);

// Ctrl-C (and a termination or hang-up, handled alike): the running analysis
// stops after its current frame, keeping what it has done; one not yet begun
// does not begin. Safe to call from a signal handler.
void requestInterrupt();

}  // namespace kv::host
