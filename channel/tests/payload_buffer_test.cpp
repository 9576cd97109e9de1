#include "channel/payload_buffer.h"

#include <gtest/gtest.h>

#include "platform/test_support/failing_allocations.h"

namespace {

using tarn::PayloadBuffer;

TEST(PayloadBufferTest, KeepsAtMostItsBoundAndReusesItsBlockUntilARecordNeedsMore) {
  PayloadBuffer buffer;
  EXPECT_EQ(buffer.reserve(0), 0u);
  EXPECT_EQ(buffer.capacity(), 0u);
  // A 4 GiB length keeps one mebibyte, and the whole mebibyte is there
  // (written at its last byte under the address sanitizer).
  ASSERT_EQ(buffer.reserve(0xFFFFFFFFull), tarn::kMaxKeptPayload);
  ASSERT_NE(buffer.data(), nullptr);
  buffer.data()[tarn::kMaxKeptPayload - 1] = 1;
  EXPECT_EQ(buffer.capacity(), tarn::kMaxKeptPayload);
  // A length beyond 32 bits is no different.
  EXPECT_EQ(buffer.reserve(std::uint64_t{1} << 40), tarn::kMaxKeptPayload);

  PayloadBuffer small(16);
  ASSERT_EQ(small.reserve(10), 10u);
  const std::uint8_t* block = small.data();
  EXPECT_EQ(small.reserve(4), 4u);
  EXPECT_EQ(small.size(), 4u);
  EXPECT_EQ(small.data(), block) << "a smaller record reuses the block";
  EXPECT_EQ(small.capacity(), 10u);
  EXPECT_EQ(small.reserve(17), 16u);
  EXPECT_EQ(small.capacity(), 16u);
  EXPECT_EQ(small.size(), 16u);
}

TEST(PayloadBufferTest, ABlockThatCannotBeAllocatedKeepsNothingAndTheNextRecordTriesAgain) {
  PayloadBuffer buffer(64);
  ASSERT_EQ(buffer.reserve(8), 8u);
  testsupport::failAllocationsOnThisThread(true);
  const std::size_t kept = buffer.reserve(32);
  testsupport::failAllocationsOnThisThread(false);
  // The record keeps nothing (its payload is dropped whole), and the old
  // block went before the allocation was tried.
  EXPECT_EQ(kept, 0u);
  EXPECT_EQ(buffer.size(), 0u);
  EXPECT_EQ(buffer.capacity(), 0u);
  ASSERT_EQ(buffer.reserve(32), 32u);
  buffer.data()[31] = 1;
}

}  // namespace
