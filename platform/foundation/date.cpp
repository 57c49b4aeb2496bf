#include "platform/foundation/date.h"

#include <chrono>
#include <utility>

#include "platform/foundation/number_cast.h"
#include "platform/foundation/process_setting.h"

namespace {

// Never destroyed: other threads may still read the date while the process exits.
kv::ProcessSetting<kv::DateSource>& installedSource() {
    static auto& source = *new kv::ProcessSetting<kv::DateSource>;
    return source;
}

NSDate systemDate() {
    using namespace std::chrono;
    return NSDate{duration<double>(system_clock::now().time_since_epoch()).count()};
}

}  // namespace

NSDate NSDate::date() {
    const kv::DateSource source = installedSource().get();
    return source ? source() : systemDate();
}

namespace kv {

uint64_t millisecondsSince1970(const NSDate& date) { return saturatingUInt64(date.timeIntervalSince1970 * 1000.0); }

DateSource setDateSource(DateSource source) { return installedSource().exchange(std::move(source)); }

}  // namespace kv
