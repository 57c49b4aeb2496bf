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

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, onInterrupt);
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
