#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/foundation/json_encoder.h"
#include "render_test_support.h"
#include "stats/stat_message.h"

namespace kv {
namespace {

using test::RenderTest;

// A pixel transform whose scale is not a finite 32-bit float renders as
// ever but leaves the render scale unrecorded, so later statistics messages
// can still be written.
TEST_F(RenderTest, RenderScaleThatIsNotAFiniteFloatIsNotCounted) {
    for (const double scale : {std::nan(""), std::numeric_limits<double>::infinity(), 1e300, 0.5}) {
        ASSERT_TRUE(render(source(16, 9), test::stateData(test::normalState()), kCVPixelFormatType_128RGBAFloat,
                           FxMatrix44::scale(scale, scale))
                        .succeeded)
            << scale;
    }
    const Counter::UsageCount counted = usage();
    EXPECT_EQ(counted.renderedFrames.count, 4);
    Counter::Feature onlyHalf;
    onlyHalf.recordFloat(0.5);
    EXPECT_EQ(counted.renderScale, onlyHalf);

    Message message;
    message.usg = Message::UsageInfo::makeUsageInfo(plugin->usageCounter().lock()->lock());
    EXPECT_TRUE(JSONEncoder().encode(message).ok());
}

}  // namespace
}  // namespace kv
