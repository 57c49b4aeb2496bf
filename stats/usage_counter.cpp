#include "stats/usage_counter.h"

#include <cmath>
#include <limits>

namespace kv {
namespace {

// One more, stopping at the largest value rather than overflowing.
int64_t plusOneSaturating(int64_t n) { return n == std::numeric_limits<int64_t>::max() ? n : n + 1; }

}  // namespace

void Counter::Feature::reset() { *this = Feature{}; }

void Counter::Feature::countEvent() { count = plusOneSaturating(count); }

void Counter::Feature::recordString(std::string_view s) {
    const auto entry = tried.find(s);
    if (entry == tried.end()) {
        tried.emplace(s, 1);
    } else {
        entry->second = plusOneSaturating(entry->second);
    }
    lastStr = std::string(s);
}

void Counter::Feature::recordFloat(double value) {
    if (!std::isfinite(value) || std::abs(value) > std::numeric_limits<float>::max()) return;
    const float v = static_cast<float>(value);
    if (!fmn || *fmn > v) fmn = v;
    if (!fmx || *fmx < v) fmx = v;
    if (!firstFlt) firstFlt = v;
    lastFlt = v;
}

// Every Feature as at construction, including any added later.
void Counter::UsageCount::resetAll() { *this = UsageCount{}; }

}  // namespace kv
