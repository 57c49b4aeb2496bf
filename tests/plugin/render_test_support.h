#pragma once
// Renders frames through the stand-in host with states made by the test,
// and reads back what the render encoded and drew.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analysis/plugin_state.h"
#include "commit_recorder.h"
#include "effect_test_support.h"
#include "host/frame_render.h"
#include "host/frame_surfaces.h"
#include "platform/foundation/date.h"
#include "platform/foundation/log.h"
#include "plugin/shader_types.h"
#include "tests/analysis/default_settings.h"

namespace kv::test {

// A source frame with a smooth pattern: every pixel differs from its
// neighbours, so that a wrong sample shows.
inline host::Frame patternFrame(int64_t width, int64_t height) {
    host::Frame frame{width, height, std::vector<float>(size_t(width * height * 4))};
    for (int64_t y = 0; y < height; ++y) {
        for (int64_t x = 0; x < width; ++x) {
            float* p = &frame.rgba[size_t((y * width + x) * 4)];
            p[0] = float(x) / float(width);
            p[1] = float(y) / float(height);
            p[2] = 0.5f + 0.5f * float(std::sin(double(x * 7 + y * 3) * 0.1));
            p[3] = 1.0f;
        }
    }
    return frame;
}

inline PluginState normalState() {
    PluginState state;
    state.motion.time = CMTimeMake(30, 30);
    state.processedBounds.time = CMTimeMake(30, 30);
    state.enable = true;
    state.frameMix = 1.0;
    state.config = testing::defaultSettings();
    state.motionBox = CGRectMake(0.02, 0.55, 0.96, -0.45);
    return state;
}

// A frame whose first processed box crops a 16:9 source to centre
// (0.5, 0.35) at scale 3, mixed with the whole frame by `frameMix`.
inline PluginState croppedState(double frameMix) {
    PluginState state = normalState();
    state.frameMix = frameMix;
    state.processedBounds.bounds = {Bounds{0.4, 0.3, 0.6, 0.4, 50}};
    return state;
}

inline NSData stateData(const PluginState& state) {
    auto text = encodePluginStateText(state);
    EXPECT_TRUE(text.ok());
    return dataFromText(text.ok() ? *text : std::string());
}

// The blocks a pass set for one stage and index, in the order set.
inline std::vector<std::vector<uint8_t>> blocksSet(const metal::RenderPass& pass, MTLFunctionType stage,
                                                   NSUInteger index) {
    std::vector<std::vector<uint8_t>> blocks;
    for (const auto& command : pass.commands) {
        if (const auto* set = std::get_if<metal::SetBytes>(&command); set && set->stage == stage && set->index == index) {
            blocks.push_back(set->bytes);
        }
    }
    return blocks;
}

template <class T>
std::vector<T> elementsOf(const std::vector<uint8_t>& block) {
    std::vector<T> elements(block.size() / sizeof(T));
    std::memcpy(elements.data(), block.data(), elements.size() * sizeof(T));
    return elements;
}

inline std::vector<metal::Draw> drawsOf(const metal::RenderPass& pass) {
    std::vector<metal::Draw> draws;
    for (const auto& command : pass.commands) {
        if (const auto* draw = std::get_if<metal::Draw>(&command)) draws.push_back(*draw);
    }
    return draws;
}

// The rectangles (x0, y0, x1, y1, normalised) that the outlines of a pass
// were drawn around, in drawing order, read back from the first two bars of
// each (the edges at y1 and y0) of a `width` × `height` tile.
inline std::vector<std::array<double, 4>> outlineWindows(const metal::RenderPass& pass, double width, double height,
                                                          double thickness) {
    const double half = thickness * 0.5;
    std::vector<std::array<double, 4>> windows;
    const auto blocks = blocksSet(pass, MTLFunctionTypeVertex, kVertexArgumentVertices);
    for (size_t i = 1; i < blocks.size(); ++i) {  // the first block is the image quad
        const auto v = elementsOf<RenderVertex>(blocks[i]);
        if (v.size() != 24) continue;
        windows.push_back({(double(v[1].position[0]) + half + width * 0.5) / width,
                           (height * 0.5 - (double(v[7].position[1]) + half)) / height,
                           (double(v[0].position[0]) - half + width * 0.5) / width,
                           (height * 0.5 - (double(v[1].position[1]) + half)) / height});
    }
    return windows;
}

inline void expectWindows(const std::vector<std::array<double, 4>>& got,
                          const std::vector<std::array<double, 4>>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
        for (size_t k = 0; k < 4; ++k) EXPECT_NEAR(got[i][k], expected[i][k], 2e-6) << "outline " << i << ", value " << k;
    }
}

// The colours of the outlines, in drawing order.
inline std::vector<std::array<float, 4>> outlineColors(const metal::RenderPass& pass) {
    std::vector<std::array<float, 4>> colors;
    for (const auto& block : blocksSet(pass, MTLFunctionTypeFragment, kFragmentArgumentColor)) {
        colors.push_back(elementsOf<float>(block).size() == 4
                             ? std::array<float, 4>{elementsOf<float>(block)[0], elementsOf<float>(block)[1],
                                                    elementsOf<float>(block)[2], elementsOf<float>(block)[3]}
                             : std::array<float, 4>{});
    }
    return colors;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override {
        instance = loadEffect();
        ASSERT_TRUE(instance);
        plugin = dynamic_cast<KestrelvantagePlugIn*>(instance->effect());
        ASSERT_NE(plugin, nullptr);
    }

    // Renders `source` with the state through the host, recording the pass.
    host::RenderOutcome render(const std::shared_ptr<IOSurface>& source, const std::optional<NSData>& state,
                               OSType destinationFormat = kCVPixelFormatType_128RGBAFloat,
                               FxMatrix44 pixelTransform = FxMatrix44()) {
        return host::renderFrame(*instance->effect(), source, destinationFormat, state, CMTimeMake(30, 30),
                                 pixelTransform);
    }

    std::shared_ptr<IOSurface> source(int64_t width, int64_t height, OSType format = kCVPixelFormatType_128RGBAFloat) {
        return host::makeFrameSurface(patternFrame(width, height), format);
    }

    // The single pass recorded so far; fails the test when there is not one.
    const metal::RenderPass& onlyPass() {
        EXPECT_EQ(recorder.passes.size(), 1u);
        if (recorder.passes.empty()) {
            static const metal::RenderPass none;
            return none;
        }
        return recorder.passes.back();
    }

    // Whether the last render drew exactly what the reference draws.
    bool matchesReference() {
        if (recorder.passes.empty()) return false;
        const auto& pass = recorder.passes.back();
        return packedPixels(*pass.colorAttachment.texture) == referenceRender(pass, recorder.before.back());
    }

    Counter::UsageCount usage() { return plugin->usageCounter().lock()->lock().usage; }
    Counter::PerformanceInfo performance() { return plugin->usageCounter().lock()->lock().performance; }

    std::unique_ptr<host::EffectInstance> instance;
    KestrelvantagePlugIn* plugin = nullptr;
    LogCapture log;
    CommitRecorder recorder;
};

}  // namespace kv::test
