#include "stats/wall_clock.h"

#include <limits>

#include "platform/foundation/date.h"

namespace kv {

uint64_t millisecondsSince1970() {
    const double milliseconds = NSDate::date().timeIntervalSince1970 * 1000.0;
    if (!(milliseconds >= 0)) return 0;  // before 1970, or not a number
    if (milliseconds >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
    return static_cast<uint64_t>(milliseconds);
}

}  // namespace kv
