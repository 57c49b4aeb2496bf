#pragma once
// The thread the application starts at launch. It has no work: it ends as
// soon as it starts.
#include "platform/foundation/ns_thread.h"

namespace kv {

class DebugThread : public NSThread {
protected:
    void main() override {}
};

}  // namespace kv
