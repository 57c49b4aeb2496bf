#include "host/base64.h"

#include <openssl/evp.h>

#include <limits>

namespace kv::host {
namespace {

bool inAlphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
}

// OpenSSL takes lengths as int; larger inputs go through in pieces whose
// sizes keep the pieces aligned to whole groups (3 bytes in, 4 characters out).
constexpr size_t kPieceBytes = size_t(3) << 24;

}  // namespace

std::string base64Encode(const NSData& data) {
    std::string text;
    text.reserve((data.size() + 2) / 3 * 4);
    for (size_t at = 0; at < data.size(); at += kPieceBytes) {
        const size_t length = std::min(kPieceBytes, data.size() - at);
        std::string piece((length + 2) / 3 * 4 + 1, '\0');
        const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(piece.data()), data.data() + at,
                                            int(length));
        text.append(piece.data(), size_t(written));
    }
    return text;
}

std::optional<NSData> base64Decode(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    for (size_t i = 0; i + padding < text.size(); ++i) {
        if (!inAlphabet(text[i])) return std::nullopt;
    }
    NSData data;
    data.reserve(text.size() / 4 * 3);
    const size_t pieceChars = kPieceBytes / 3 * 4;
    for (size_t at = 0; at < text.size(); at += pieceChars) {
        const size_t length = std::min(pieceChars, text.size() - at);
        const size_t start = data.size();
        data.resize(start + length / 4 * 3);
        const int written = EVP_DecodeBlock(data.data() + start,
                                            reinterpret_cast<const unsigned char*>(text.data() + at), int(length));
        if (written < 0) return std::nullopt;
        data.resize(start + size_t(written));
    }
    // EVP_DecodeBlock turns padding into zero bytes; they are not data.
    data.resize(data.size() - padding);
    return data;
}

}  // namespace kv::host
