#include "stats/stat_thread.h"

#include <exception>
#include <utility>

#include "platform/foundation/ns_thread.h"
#include "platform/foundation/url_session.h"
#include "stats/installation_id.h"
#include "stats/stat_io.h"
#include "stats/stat_message.h"
#include "stats/usage_counter.h"

namespace kv {
namespace {

constexpr double kSecondsBetweenMessages = 600.0;

// Sends one message of `counter` and resets the counts it carried once the
// upload has it. A message that cannot be encoded leaves every count for
// the next one. The counter's lock is held only to copy and to reset.
void sendUsage(Counter& counter) {
    Message message = makeUsageMessage(installationId());
    {
        const Counter::Locked locked = counter.lock();
        message.usg = Message::UsageInfo::makeUsageInfo(locked);
        message.pfm = Message::PerformanceInfo::makePerformanceInfo(locked);
        if (!locked.debug.debugMessages.empty()) message.dbg = Message::DebugInfo{locked.debug.debugMessages};
    }
    if (!IO::sendMessage(message)) return;
    const Counter::Locked locked = counter.lock();
    locked.usage.resetAll();
    locked.performance = Counter::PerformanceInfo{};
    locked.debug.debugMessages.clear();
}

}  // namespace

StatThread::~StatThread() {
    if (thread_.joinable()) thread_.join();
}

void StatThread::start() {
    thread_ = std::thread([this] { main(); });
}

void StatThread::main() {
    if (counter.expired()) return;
    for (;;) {
        if (const std::shared_ptr<Counter> held = counter.lock()) {
            try {
                sendUsage(*held);
            } catch (const std::exception&) {
                // Like a message that could not be encoded: the counts stay.
            }
        }
        NSThread::sleepForTimeInterval(kSecondsBetweenMessages);
        if (counter.expired()) return;
    }
}

std::shared_ptr<StatThread> startStatThread(std::weak_ptr<Counter> counter) {
    if (statisticsEndpoint().empty()) return nullptr;
    // Nothing waits for the thread or for its uploads, so the process may
    // end in the middle of one: the libraries they use are set up now,
    // before the thread, to outlast the process's exit.
    setUpURLLoading();
    auto thread = std::make_shared<StatThread>();
    thread->counter = std::move(counter);
    thread->start();
    return thread;
}

}  // namespace kv
