#include "platform/cryptokit/openssl_setup.h"

#include <openssl/crypto.h>

namespace kv {

bool setUpOpenSSL() {
    static const bool ready = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    return ready;
}

}  // namespace kv
