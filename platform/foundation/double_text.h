#pragma once
// The platform's default text of a double, as log lines print it: the
// shortest decimal that reads back as the same value, with ".0" on whole
// numbers, and exponent form ("1e-05", "1.5e+20") for magnitudes below 1e-4
// or above 2^53. Non-finite values print as "nan", "-nan", "inf" and "-inf".
#include <string>

namespace kv {

std::string doubleText(double value);

// A double rounded for people to a fixed number of decimals ("8.10" with
// 2), as "%.*f" prints it in the C locale but never "-0.00".
std::string roundedText(double value, int decimals);

}  // namespace kv
