// kestrelvantage-host: the stand-in editing host's program. The effect is
// linked in whole and found by its class name, as the host finds it.
#include <unistd.h>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "host/program/program.h"

namespace {

extern "C" void onInterrupt(int) { kv::host::requestInterrupt(); }

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGINT, onInterrupt);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return kv::host::runProgram(arguments, {std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1});
}
