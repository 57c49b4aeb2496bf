#include "platform/foundation/date.h"

#include <chrono>
#include <mutex>
#include <utility>

#include "platform/foundation/number_cast.h"

namespace {

std::mutex& sourceMutex() {
    // Never destroyed: other threads may still use it while the process exits.
    static std::mutex& m = *new std::mutex();
    return m;
}

kv::DateSource& currentSource() {
    // Never destroyed: other threads may still use it while the process exits.
    static kv::DateSource& source = *new kv::DateSource();
    return source;
}

NSDate systemDate() {
    using namespace std::chrono;
    return NSDate{duration<double>(system_clock::now().time_since_epoch()).count()};
}

}  // namespace

NSDate NSDate::date() {
    kv::DateSource source;
    {
        std::lock_guard lock(sourceMutex());
        source = currentSource();
    }
    return source ? source() : systemDate();
}

namespace kv {

uint64_t millisecondsSince1970(const NSDate& date) { return saturatingUInt64(date.timeIntervalSince1970 * 1000.0); }

DateSource setDateSource(DateSource source) {
    std::lock_guard lock(sourceMutex());
    return std::exchange(currentSource(), std::move(source));
}

}  // namespace kv
