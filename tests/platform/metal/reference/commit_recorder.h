#pragma once
// Records, while it lives, every committed render pass and its target's
// pixels before the pass, so that tests can check what was encoded and run
// the reference over it. Commits must come from one thread at a time.
#include <string>
#include <vector>

#include "platform/foundation/process_setting.h"
#include "platform/metal/metal.h"
#include "reference_rasterizer.h"

namespace kv::test {

// Watches the passes of every commit while it lives.
class CommitRecorder {
public:
    std::vector<std::string> labels;
    std::vector<metal::RenderPass> passes;
    std::vector<std::vector<uint8_t>> before;  // each target's pixels before its pass

private:
    // Installed last, once the lists it fills are there.
    ScopedOverride<metal::CommitObserver> observer_{
        metal::setCommitObserver, [this](const std::string& label, const std::vector<metal::RenderPass>& committed) {
            labels.push_back(label);
            for (const auto& pass : committed) {
                passes.push_back(pass);
                before.push_back(packedPixels(*pass.colorAttachment.texture));
            }
        }};
};

}  // namespace kv::test
