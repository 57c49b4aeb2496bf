// A process that starts the statistics thread, whose first message goes out
// at once, and ends after the given number of microseconds: wherever the
// upload then is, the process must end with status 0.
// Arguments: the endpoint, the certificate file to trust, the delay.
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "platform/foundation/url_session.h"
#include "stats/stat_io.h"
#include "stats/stat_thread.h"
#include "stats/usage_counter.h"

// Kept for the life of the process, as the statistics-thread slot keeps its thread.
std::shared_ptr<kv::StatThread>* keptThread = nullptr;

int main(int argc, char** argv) {
    if (argc != 4) return 2;
    kv::setStatisticsEndpoint(argv[1]);
    kv::setTrustedCertificatesFile(argv[2]);
    const auto delay = std::chrono::microseconds(std::stol(argv[3]));
    const auto counter = std::make_shared<kv::Counter>();
    keptThread = new std::shared_ptr<kv::StatThread>(kv::startStatThread(counter));
    std::this_thread::sleep_for(delay);
    return 0;
}
