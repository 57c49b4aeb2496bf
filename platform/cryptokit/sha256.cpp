#include "platform/cryptokit/sha256.h"

#include <openssl/evp.h>

#include <memory>
#include <stdexcept>

#include "platform/cryptokit/openssl_setup.h"

std::string SHA256Digest::description() const {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text = "SHA256 digest: ";
    for (const uint8_t byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0xF];
    }
    return text;
}

SHA256Digest SHA256::hash(std::string_view data) {
    SHA256Digest digest;
    unsigned int length = 0;
    // A digest of memory in memory cannot fail short of the library being
    // unusable, which is no state to go on in.
    if (!kv::setUpOpenSSL() ||
        EVP_Digest(data.data(), data.size(), digest.bytes.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != digest.bytes.size()) {
        throw std::runtime_error("SHA-256 is not available");
    }
    return digest;
}
