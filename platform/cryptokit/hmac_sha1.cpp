#include "platform/cryptokit/hmac_sha1.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "platform/cryptokit/openssl_setup.h"

std::optional<HMACSHA1::Code> HMACSHA1::authenticate(std::span<const uint8_t> key, std::span<const uint8_t> message) {
    if (!kv::setUpOpenSSL()) return std::nullopt;
    Code code{};
    unsigned int length = 0;
    // OpenSSL wants a non-null pointer even for empty input.
    static constexpr uint8_t kNothing = 0;
    const uint8_t* keyBytes = key.empty() ? &kNothing : key.data();
    const uint8_t* messageBytes = message.empty() ? &kNothing : message.data();
    if (!HMAC(EVP_sha1(), keyBytes, static_cast<int>(key.size()), messageBytes, message.size(), code.data(), &length) ||
        length != code.size()) {
        return std::nullopt;
    }
    return code;
}
