#include <gtest/gtest.h>

#include <thread>

#include "plugin/metal_device_cache.h"
#include "render_test_support.h"

namespace kv {
namespace {

using test::RenderTest;

TEST_F(RenderTest, MissingImagesAndTransformsFailTheFrameWithAnError) {
    const NSData state = test::stateData(test::normalState());
    const auto surface = source(16, 9);
    const auto tile = host::makeFullFrameTile(surface);
    const FxRect bounds{0, 0, 16, 9};
    const auto noTransform = std::make_shared<const FxImageTile>(surface, bounds, bounds, kSoftwareGPURegistryID, std::nullopt);
    const auto unknownGPU = std::make_shared<const FxImageTile>(surface, bounds, bounds, 0xdead, FxMatrix44());
    const FxImageTile noSurface(nullptr, bounds, bounds, kSoftwareGPURegistryID, FxMatrix44());
    const std::vector<std::pair<FxImageTiles, const FxImageTile*>> cases{
        {{}, tile.get()}, {{nullptr}, tile.get()}, {{noTransform}, tile.get()}, {{tile}, &noSurface}, {{unknownGPU}, tile.get()}};
    for (const auto& [sources, destination] : cases) {
        NSError error;
        EXPECT_FALSE(plugin->renderDestinationImage(*destination, sources, &state, CMTimeMake(0, 1), &error));
        EXPECT_FALSE(error.localizedDescription.empty());
        EXPECT_FALSE(plugin->renderDestinationImage(*destination, sources, &state, CMTimeMake(0, 1), nullptr));
    }
    EXPECT_TRUE(recorder.passes.empty());
    EXPECT_EQ(usage().renderedFrames.count, 0);
}

TEST_F(RenderTest, AFrameThatFailsAfterTakingItsPlaceInLineStillCommitsItsBuffer) {
    const NSData state = test::stateData(test::normalState());
    const auto surface = source(16, 9);
    const auto tile = host::makeFullFrameTile(surface);
    const FxRect bounds{0, 0, 16, 9};
    // The destination lies on a GPU that has no texture for it: the buffer is already enqueued.
    const FxImageTile elsewhere(surface, bounds, bounds, 0xdead, FxMatrix44());
    NSError error;
    EXPECT_FALSE(plugin->renderDestinationImage(elsewhere, {tile}, &state, CMTimeMake(0, 1), &error));
    EXPECT_EQ(recorder.labels, std::vector<std::string>{"Kestrelvantage Command Buffer"});
    EXPECT_TRUE(recorder.passes.empty());
    EXPECT_TRUE(plugin->renderDestinationImage(*tile, {tile}, &state, CMTimeMake(0, 1), &error));
    EXPECT_EQ(recorder.passes.size(), 1u);
}

TEST_F(RenderTest, AnExhaustedQueuePoolFailsTheFrameUntilAQueueComesBack) {
    MetalDeviceCache& cache = MetalDeviceCache::shared();
    std::vector<std::shared_ptr<MTLCommandQueue>> taken;
    while (auto queue = cache.commandQueue(kSoftwareGPURegistryID, MTLPixelFormatRGBA32Float)) taken.push_back(queue);
    ASSERT_EQ(taken.size(), 5u);
    const auto outcome = render(source(16, 9), test::stateData(test::normalState()));
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_FALSE(outcome.error.localizedDescription.empty());
    cache.returnCommandQueue(taken.back());
    EXPECT_TRUE(render(source(16, 9), test::stateData(test::normalState())).succeeded);
    // The render gave its queue back.
    EXPECT_EQ(cache.commandQueue(kSoftwareGPURegistryID, MTLPixelFormatRGBA32Float), taken.back());
    for (const auto& queue : taken) cache.returnCommandQueue(queue);
}

TEST_F(RenderTest, PixelsThatAreNotNumbersRenderAsTheReferenceDoes) {
    host::Frame frame = test::patternFrame(40, 30);
    for (size_t i = 0; i < frame.rgba.size(); i += 37) frame.rgba[i] = std::numeric_limits<float>::quiet_NaN();
    frame.rgba[5] = std::numeric_limits<float>::infinity();
    for (OSType format : {kCVPixelFormatType_128RGBAFloat, kCVPixelFormatType_32BGRA, kCVPixelFormatType_64RGBAHalf}) {
        ASSERT_TRUE(render(host::makeFrameSurface(frame, kCVPixelFormatType_128RGBAFloat),
                           test::stateData(test::normalState()), format)
                        .succeeded);
        EXPECT_TRUE(matchesReference()) << format;
    }
}

TEST_F(RenderTest, ATileAtTheImageEdgeRendersItsOwnSize) {
    const auto sourceSurface = source(61, 91);
    const auto destinationSurface = IOSurface::create(61, 91, kCVPixelFormatType_64RGBAHalf);
    const FxRect image{0, 0, 161, 91};
    const FxRect tile{100, 0, 161, 91};
    const auto sourceTile = std::make_shared<const FxImageTile>(sourceSurface, image, tile, kSoftwareGPURegistryID, FxMatrix44());
    const FxImageTile destinationTile(destinationSurface, image, tile, kSoftwareGPURegistryID, FxMatrix44());
    PluginState state = test::normalState();
    state.renderMode = RenderMode::Exam;
    const NSData data = test::stateData(state);
    EXPECT_TRUE(plugin->renderDestinationImage(destinationTile, {sourceTile}, &data, CMTimeMake(0, 1), nullptr));
    EXPECT_EQ(log.count("Render, 61x91 => 61x91"), 1u);
    EXPECT_TRUE(matchesReference());
}

TEST_F(RenderTest, DegenerateSettingsAndWindowsRenderWithoutHarm) {
    std::vector<PluginState> states;
    const auto add = [&](auto change) {
        PluginState state = test::normalState();
        state.showBounds = true;
        state.processedBounds.bounds = {Bounds{0.4, 0.3, 0.6, 0.4, 50}};
        state.motion.bounds = {Bounds{-1e300, 0.2, 1e300, 0.3, 1}};
        change(state);
        states.push_back(state);
        state.renderMode = RenderMode::Exam;
        states.push_back(state);
    };
    add([](PluginState& s) { s.config.aspectRatioHeight = 0; });
    add([](PluginState& s) { s.config.aspectRatioWidth = 0; s.config.aspectRatioHeight = 0; });
    add([](PluginState& s) { s.config.minScale = 0; s.config.maxScale = 0; });
    add([](PluginState& s) { s.config.minScale = -1; s.config.maxScale = -1e300; });
    add([](PluginState& s) { s.config.paddingLeft = -1; s.config.paddingTop = 1e300; });
    add([](PluginState& s) { s.frameMix = 1e9; });
    add([](PluginState& s) { s.frameMix = -5; s.config.brightness = -1e300; });
    add([](PluginState& s) { s.processedBounds.bounds = {Bounds{-1e300, -1e300, 1e300, 1e300, 1}}; });
    add([](PluginState& s) { s.processedBounds.bounds = {Bounds{0.5, 0.5, 0.5, 0.5, 1}}; s.motionBox = CGRectMake(1e300, -1e300, -1e300, 1e300); });
    for (const PluginState& state : states) {
        ASSERT_TRUE(render(source(40, 30), test::stateData(state), kCVPixelFormatType_32BGRA).succeeded);
        EXPECT_TRUE(matchesReference());
    }
}

TEST_F(RenderTest, ASmallerDestinationShowsTheWholeSourceScaledDown) {
    const auto sourceSurface = source(64, 36);
    const auto destinationSurface = IOSurface::create(32, 18, kCVPixelFormatType_128RGBAFloat);
    const auto sourceTile = host::makeFullFrameTile(sourceSurface);
    const auto destinationTile = host::makeFullFrameTile(destinationSurface);
    const NSData data = test::stateData(test::normalState());
    EXPECT_TRUE(plugin->renderDestinationImage(*destinationTile, {sourceTile}, &data, CMTimeMake(0, 1), nullptr));
    EXPECT_EQ(log.count("Render, 64x36 => 32x18"), 1u);
    EXPECT_TRUE(matchesReference());
}

// Renders from several threads at once, as the host does.
class RendererConcurrencyTest : public ::testing::Test {
protected:
    void SetUp() override {
        instance = test::loadEffect();
        ASSERT_TRUE(instance);
    }

    std::vector<float> renderOnce(const std::shared_ptr<IOSurface>& source, const PluginState& state, bool* ok) {
        const auto outcome = host::renderFrame(*instance->effect(), source, kCVPixelFormatType_128RGBAFloat,
                                               test::stateData(state), CMTimeMake(0, 1));
        *ok = outcome.succeeded;
        return outcome.destination ? host::readFrameSurface(*outcome.destination).rgba : std::vector<float>();
    }

    std::unique_ptr<host::EffectInstance> instance;
};

TEST_F(RendererConcurrencyTest, FramesRenderedTogetherMatchFramesRenderedAlone) {
    const auto source = host::makeFrameSurface(test::patternFrame(96, 54), kCVPixelFormatType_128RGBAFloat);
    std::vector<PluginState> states;
    for (int i = 0; i < 4; ++i) {
        PluginState state = test::normalState();
        state.frameMix = 0.25 * i;
        state.showBounds = i % 2 == 1;
        state.renderMode = i == 3 ? RenderMode::Exam : RenderMode::Normal;
        state.processedBounds.bounds = {Bounds{0.3, 0.2 + 0.05 * i, 0.6, 0.5, 10}};
        states.push_back(state);
    }
    std::vector<std::vector<float>> alone;
    bool ok = false;
    for (const auto& state : states) {
        alone.push_back(renderOnce(source, state, &ok));
        ASSERT_TRUE(ok);
    }
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    std::atomic<int> failures{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 6; ++i) {
                bool succeeded = false;
                const auto pixels = renderOnce(source, states[size_t(t)], &succeeded);
                if (!succeeded) ++failures;
                if (pixels != alone[size_t(t)]) ++mismatches;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(RendererConcurrencyTest, MoreRendersThanQueuesFailCleanlyAndGiveEveryQueueBack) {
    const auto source = host::makeFrameSurface(test::patternFrame(32, 18), kCVPixelFormatType_128RGBAFloat);
    std::atomic<int> succeeded{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10; ++i) {
                bool ok = false;
                renderOnce(source, test::normalState(), &ok);
                succeeded += ok;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_GT(succeeded.load(), 0);
    std::vector<std::shared_ptr<MTLCommandQueue>> taken;
    while (auto queue = MetalDeviceCache::shared().commandQueue(kSoftwareGPURegistryID, MTLPixelFormatRGBA32Float)) {
        taken.push_back(queue);
    }
    EXPECT_EQ(taken.size(), 5u);
    for (const auto& queue : taken) MetalDeviceCache::shared().returnCommandQueue(queue);
}

}  // namespace
}  // namespace kv
