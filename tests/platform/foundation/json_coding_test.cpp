#include "platform/foundation/json_coding.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using kv::JsonCodingError;
using kv::json::ParsedDocument;
using kv::json::Reader;

Reader readerOf(const ParsedDocument& v) { return Reader(v, "test"); }

ParsedDocument parsed(std::string_view text) { return kv::json::parse(text).value(); }

TEST(JsonCodingTest, IntegerMembersAreStrict) {
    const ParsedDocument v = parsed(R"({"a":12,"b":12.5,"c":12.0,"d":"12","e":null,"f":9223372036854775808,
        "g":-9223372036854775808,"h":1e19,"i":2147483648,"j":true,"k":1.5e0})");
    const Reader r = readerOf(v);
    EXPECT_EQ(r.int64("a"), 12);
    EXPECT_THROW(r.int64("b"), JsonCodingError);
    EXPECT_EQ(r.int64("c"), 12);
    EXPECT_THROW(r.int64("d"), JsonCodingError);
    EXPECT_THROW(r.int64("e"), JsonCodingError);
    EXPECT_THROW(r.int64("f"), JsonCodingError);
    EXPECT_EQ(r.int64("g"), INT64_MIN);
    EXPECT_THROW(r.int64("h"), JsonCodingError);
    EXPECT_THROW(r.int32("i"), JsonCodingError);
    EXPECT_THROW(r.int64("j"), JsonCodingError);
    EXPECT_THROW(r.int64("k"), JsonCodingError);  // a fraction however it is written
    EXPECT_THROW(r.int64("missing"), JsonCodingError);
}

TEST(JsonCodingTest, IntegersAreReadFromTheirTextWhereverTheyStand) {
    // 2^53 + 1 has no double of its own: only its text gives it.
    const ParsedDocument v = parsed(R"({"a":9007199254740993.0,"list":[7,9007199254740993.0,[1e0,9007199254740993e0]]})");
    const Reader r = readerOf(v);
    EXPECT_EQ(r.int64("a"), 9007199254740993);
    const auto& list = v.document()["list"];
    EXPECT_TRUE(list[1].is_number_float());  // the document itself holds plain JSON numbers
    EXPECT_EQ(r.int64(list[1], "list"), 9007199254740993);
    EXPECT_EQ(r.int64(list[2][1], "list"), 9007199254740993);
}

TEST(JsonCodingTest, NumberAndBooleanMembers) {
    const ParsedDocument v = parsed(R"({"n":1,"x":0.25,"s":"0.25","b":false,"one":1})");
    const Reader r = readerOf(v);
    EXPECT_EQ(r.number("n"), 1.0);
    EXPECT_EQ(r.number("x"), 0.25);
    EXPECT_THROW(r.number("s"), JsonCodingError);
    EXPECT_FALSE(r.boolean("b"));
    EXPECT_THROW(r.boolean("one"), JsonCodingError);
}

TEST(JsonCodingTest, ReaderNeedsAnObjectAndArraysNeedArrays) {
    EXPECT_THROW(readerOf(parsed("[1]")), JsonCodingError);
    const ParsedDocument v = parsed(R"({"list":{"a":1},"nums":[1,2]})");
    auto decodeOne = [](const Reader& r) { return r.int64("a"); };
    EXPECT_THROW(readerOf(v).array("list", decodeOne), JsonCodingError);
    EXPECT_THROW(readerOf(v).array("nums", decodeOne), JsonCodingError);
}

TEST(JsonCodingTest, NonFiniteNumbersCannotBeEncoded) {
    EXPECT_THROW(kv::json::finiteNumber(NAN, "x"), JsonCodingError);
    EXPECT_THROW(kv::json::finiteNumber(-INFINITY, "x"), JsonCodingError);
    EXPECT_EQ(kv::json::finiteNumber(-0.5, "x"), -0.5);
}

TEST(JsonCodingTest, TextEntryPointsReportErrorsAsResults) {
    auto decode = [](const Reader& r) { return r.int64("a"); };
    EXPECT_EQ(*kv::json::decodeText(R"({"a":3})", decode), 3);
    EXPECT_FALSE(kv::json::decodeText("{\"a\":", decode).ok());
    EXPECT_FALSE(kv::json::decodeText("", decode).ok());
    const auto missing = kv::json::decodeText("{}", decode);
    ASSERT_FALSE(missing.ok());
    EXPECT_NE(missing.error().message.find("\"a\""), std::string::npos);
}

}  // namespace
