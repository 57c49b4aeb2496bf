#pragma once
// OpenSSL, set up once for the whole process. By default OpenSSL frees its
// global state from an exit handler that it registers on first use; a thread
// still inside OpenSSL while the process ends (an upload that nobody waits
// for) would then run on freed state. Set up here, OpenSSL registers no exit
// handler and its state lasts until the process is gone.

namespace kv {

// Call before any other use of OpenSSL, directly or through a library built
// on it; it must come first to take effect. Cheap after the first call, and
// safe from any thread. False when OpenSSL cannot be used at all.
bool setUpOpenSSL();

}  // namespace kv
