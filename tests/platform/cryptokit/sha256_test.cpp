#include "platform/cryptokit/sha256.h"

#include <gtest/gtest.h>

namespace {

TEST(SHA256Test, KnownDigestsInTheirTextForm) {
    EXPECT_EQ(SHA256::hash("").description(),
              "SHA256 digest: e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(SHA256::hash("abc").description(),
              "SHA256 digest: ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(SHA256Test, TextIsSeventyNineCharactersAndCoversEveryByte) {
    const std::string text = SHA256::hash(std::string("a\0b", 3)).description();
    EXPECT_EQ(text.size(), 79u);
    EXPECT_EQ(text.substr(0, 15), "SHA256 digest: ");
    EXPECT_NE(SHA256::hash(std::string("a\0b", 3)), SHA256::hash(std::string("a\0c", 3)));
}

}  // namespace
