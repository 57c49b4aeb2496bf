#include "platform/foundation/double_text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

TEST(DoubleTextTest, WholeNumbersKeepAFractionPart) {
    EXPECT_EQ(kv::doubleText(1.0), "1.0");
    EXPECT_EQ(kv::doubleText(0.0), "0.0");
    EXPECT_EQ(kv::doubleText(-0.0), "-0.0");
    EXPECT_EQ(kv::doubleText(-3.0), "-3.0");
    EXPECT_EQ(kv::doubleText(1000000.0), "1000000.0");
    EXPECT_EQ(kv::doubleText(9007199254740992.0), "9007199254740992.0");
}

TEST(DoubleTextTest, ShortestDigitsThatReadBack) {
    EXPECT_EQ(kv::doubleText(0.5), "0.5");
    EXPECT_EQ(kv::doubleText(2.5), "2.5");
    EXPECT_EQ(kv::doubleText(0.1), "0.1");
    EXPECT_EQ(kv::doubleText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(kv::doubleText(1.0 / 3.0), "0.3333333333333333");
    EXPECT_EQ(kv::doubleText(0.45 - 0.9), "-0.45");
    EXPECT_EQ(kv::doubleText(0.0001), "0.0001");
    EXPECT_EQ(kv::doubleText(123.456), "123.456");
}

TEST(DoubleTextTest, ExponentFormForVerySmallAndVeryLarge) {
    EXPECT_EQ(kv::doubleText(0.00001), "1e-05");
    EXPECT_EQ(kv::doubleText(1.5e-7), "1.5e-07");
    EXPECT_EQ(kv::doubleText(-2.5e-300), "-2.5e-300");
    EXPECT_EQ(kv::doubleText(1e16), "1e+16");
    EXPECT_EQ(kv::doubleText(9007199254740994.0), "9.007199254740994e+15");
    EXPECT_EQ(kv::doubleText(9.9999e-05), "9.9999e-05");
    EXPECT_EQ(kv::doubleText(1.2345e20), "1.2345e+20");
    EXPECT_EQ(kv::doubleText(std::numeric_limits<double>::max()), "1.7976931348623157e+308");
    EXPECT_EQ(kv::doubleText(std::numeric_limits<double>::denorm_min()), "5e-324");
}

TEST(DoubleTextTest, NonFiniteValues) {
    EXPECT_EQ(kv::doubleText(std::nan("")), "nan");
    EXPECT_EQ(kv::doubleText(-std::nan("")), "-nan");
    EXPECT_EQ(kv::doubleText(INFINITY), "inf");
    EXPECT_EQ(kv::doubleText(-INFINITY), "-inf");
}

}  // namespace

namespace {

TEST(DoubleTextTest, RoundedForPeopleWithFixedDecimals) {
    const std::pair<double, std::string> cases[] = {
        {8.1, "8.10"}, {29.97002997002997, "29.97"}, {0.005, "0.01"}, {-0.001, "0.00"}, {-0.0, "0.00"}, {-2.5, "-2.50"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(kv::roundedText(value, 2), text) << value;
    EXPECT_EQ(kv::roundedText(1e300, 2).size(), 304u);
}

}  // namespace
