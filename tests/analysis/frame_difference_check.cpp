#include "tests/analysis/frame_difference_check.h"

#include <cstring>
#include <sstream>

#include "analysis/frame_difference_engine.h"
#include "tests/analysis/frame_difference_literal.h"

namespace fdcheck {
namespace {

bool sameRecord(const MotionOffsetTile& a, const MotionOffsetTile& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

std::string describe(const MotionOffsetTile& t) {
    std::ostringstream out;
    out.precision(9);
    out << "{x " << t.x << " y " << t.y << " dx " << t.dx << " dy " << t.dy << " counts " << t.displacedCount
        << "/" << t.inPlaceCount << " means " << t.displacedDiffMean << " " << t.inPlaceDiffMean << " "
        << t.displacedEnergyMean << " " << t.inPlaceEnergyMean << "}";
    return out.str();
}

}  // namespace

std::vector<MotionOffsetTile> realRecords(const fdframes::Frame& f1, const fdframes::Frame& f2, uint8_t* mask) {
    MotionOffsetTile* tiles = LowLevel_MotionDetectionTakeDifference(f1.data(), f2.data(), mask, f1.width, f1.height);
    const size_t room =
        f1.width > 0 && f1.height > 0 ? static_cast<size_t>(f1.width / 10) * static_cast<size_t>(f1.height / 10) : 0;
    std::vector<MotionOffsetTile> records;
    size_t n = 0;
    while (n <= room && tiles[n].displacedCount > 0) records.push_back(tiles[n++]);
    EXPECT_LE(n, room) << "no terminator within the array's room";
    if (n <= room) {
        const MotionOffsetTile zero{};
        EXPECT_EQ(std::memcmp(&tiles[n], &zero, sizeof zero), 0) << "terminator is not all zero";
    }
    LowLevel_ReleaseMotionOffsetTile(tiles);
    return records;
}

::testing::AssertionResult sameRecords(const std::vector<MotionOffsetTile>& real,
                                       const std::vector<MotionOffsetTile>& reference) {
    for (size_t i = 0; i < std::min(real.size(), reference.size()); ++i) {
        if (!sameRecord(real[i], reference[i]))
            return ::testing::AssertionFailure()
                   << "record " << i << " differs: real " << describe(real[i]) << " reference "
                   << describe(reference[i]);
    }
    if (real.size() != reference.size())
        return ::testing::AssertionFailure() << real.size() << " records, reference " << reference.size();
    return ::testing::AssertionSuccess();
}

std::vector<const kv::fd::Engine*> availableEngines() {
    std::vector<const kv::fd::Engine*> engines{&kv::fd::genericEngine()};
    if (const kv::fd::Engine* avx2 = kv::fd::avx2Engine()) engines.push_back(avx2);
    return engines;
}

size_t expectSameAsReference(const fdframes::Frame& f1, const fdframes::Frame& f2, const std::string& what,
                             bool withMask) {
    SCOPED_TRACE(what);
    const auto reference = literal::takeDifference(f1.data(), f2.data(), nullptr, f1.width, f1.height);
    // Bytes that no stored window covers must keep their value.
    const size_t pixels = static_cast<size_t>(f1.width) * f1.height;
    std::vector<uint8_t> referenceMask(withMask ? pixels : 0, 0xA5);
    if (withMask) literal::takeDifference(f1.data(), f2.data(), referenceMask.data(), f1.width, f1.height);
    for (const kv::fd::Engine* engine : availableEngines()) {
        SCOPED_TRACE(engine->name);
        kv::fd::pinEngine(engine);
        EXPECT_TRUE(sameRecords(realRecords(f1, f2), reference));
        if (withMask) {
            std::vector<uint8_t> realMask(pixels, 0xA5);
            EXPECT_TRUE(sameRecords(realRecords(f1, f2, realMask.data()), reference));
            EXPECT_TRUE(realMask == referenceMask) << "masks differ";
        }
        kv::fd::pinEngine(nullptr);
    }
    return reference.size();
}

}  // namespace fdcheck
