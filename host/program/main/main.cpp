// kestrelvantage-host: the stand-in editing host's program. The effect is
// linked in whole and found by its class name, as the host finds it.
#include <unistd.h>

#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "host/program/command_line.h"
#include "host/program/program.h"

namespace {

extern "C" void onInterrupt(int) { kv::host::requestInterrupt(); }

// Ctrl-C, a terminal closing and a polite kill all stop the program the same
// way: the analysis stops after its current frame and saves what it has.
// Reads and writes in progress carry on rather than fail.
void stopCleanlyOnSignals() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    // A write past the file size limit fails (and the file is not put in
    // place) instead of killing the program with its temporary left behind.
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

int main(int argc, char** argv) {
    stopCleanlyOnSignals();
    // No exception of a library ends the program unreported: a last catch
    // says what happened and exits as a failure.
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        return kv::host::runProgram(arguments, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1});
    } catch (const std::exception& e) {
        std::cerr << kv::host::kProgramName << ": stopped by an unexpected error: " << e.what() << "\n";
    } catch (...) {
        std::cerr << kv::host::kProgramName << ": stopped by an unexpected error\n";
    }
    return 1;
}
