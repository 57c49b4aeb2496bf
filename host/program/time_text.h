#pragma once
// Times and rates as the program prints them for people: rounded to
// hundredths ("8.10 s", "29.97 fps"). Values meant to be typed back (the
// parameters' values) are printed in full instead.
#include <string>

#include "platform/coremedia/cmtime.h"
#include "platform/foundation/double_text.h"

namespace kv::host {

inline std::string secondsText(double seconds) { return roundedText(seconds, 2) + " s"; }
inline std::string secondsText(CMTime time) { return secondsText(CMTimeGetSeconds(time)); }
inline std::string rateText(double framesPerSecond) { return roundedText(framesPerSecond, 2) + " fps"; }

}  // namespace kv::host
