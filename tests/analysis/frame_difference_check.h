#pragma once
// Runs the real frame differencing and the plain reference on one pair and
// compares them record by record, bit for bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/frame_difference.h"
#include "analysis/frame_difference_engine.h"
#include "tests/analysis/frame_difference_frames.h"

namespace fdcheck {

// Sanitizer builds run the reference many times slower; the widest sweeps
// then take a sample of their cases.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif

// The records before the terminator. Fails the test when the terminator is
// missing within the array's room or a record has displacedCount < 1.
std::vector<MotionOffsetTile> realRecords(const fdframes::Frame& f1, const fdframes::Frame& f2,
                                          uint8_t* mask = nullptr);

// The generic engine, and the AVX2 one when the CPU has it.
std::vector<const kv::fd::Engine*> availableEngines();

// Bitwise equality of two record lists.
::testing::AssertionResult sameRecords(const std::vector<MotionOffsetTile>& real,
                                       const std::vector<MotionOffsetTile>& reference);

// The reference and the real version on each engine this CPU runs, without
// and (when withMask) with a mask; records and masks must agree. Returns the
// number of records.
size_t expectSameAsReference(const fdframes::Frame& f1, const fdframes::Frame& f2, const std::string& what,
                             bool withMask = false);

}  // namespace fdcheck
