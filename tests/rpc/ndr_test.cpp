#include "rpc/ndr.h"

#include <gtest/gtest.h>

namespace {

TEST(NdrWriter, AlignsEachPrimitiveFromTheStartOfTheStubWithZeroGaps) {
  rpc::NdrWriter out;
  out.u8(0xAA);
  out.u16(0x0102);
  out.u8(0xBB);
  out.u32(0x03040506);
  const std::vector<uint8_t> expected = {0xAA, 0, 0x02, 0x01, 0xBB, 0, 0, 0, 0x06, 0x05, 0x04, 0x03};
  EXPECT_EQ(out.data(), expected);
}

TEST(NdrReader, ReadsWhatTheWriterWrote) {
  rpc::NdrWriter out;
  out.i16(-2);
  out.i32(-70000);
  out.u8(7);
  rpc::NdrReader in(out.data());
  int16_t a = 0;
  int32_t b = 0;
  uint8_t c = 0;
  ASSERT_TRUE(in.i16(a) && in.i32(b) && in.u8(c));
  EXPECT_EQ(a, -2);
  EXPECT_EQ(b, -70000);
  EXPECT_EQ(c, 7);
  EXPECT_EQ(in.remaining(), 0u);
}

TEST(NdrReader, IgnoresTheContentOfAlignmentGaps) {
  const std::vector<uint8_t> bytes = {1, 0xCA, 0xCA, 0xCA, 4, 0, 0, 0};
  rpc::NdrReader in(bytes);
  uint8_t first = 0;
  uint32_t second = 0;
  ASSERT_TRUE(in.u8(first) && in.u32(second));
  EXPECT_EQ(second, 4u);
}

TEST(NdrReader, FailsForGoodWhenTheDataEndsEarly) {
  const std::vector<uint8_t> bytes = {1, 2, 3};
  rpc::NdrReader in(bytes);
  uint32_t value = 0;
  EXPECT_FALSE(in.u32(value));
  EXPECT_FALSE(in.ok());
  uint8_t byte = 0;
  EXPECT_FALSE(in.u8(byte)) << "a failed reader stays failed";
  EXPECT_FALSE(in.error().empty());
}

TEST(NdrReader, RefusesAnAlignmentGapPastTheEnd) {
  const std::vector<uint8_t> bytes = {1, 2};
  rpc::NdrReader in(bytes);
  uint8_t byte = 0;
  uint16_t value = 0;
  ASSERT_TRUE(in.u8(byte));
  EXPECT_FALSE(in.u16(value));
}

TEST(NdrReader, AHugeSkipFailsWithoutOverflow) {
  const std::vector<uint8_t> bytes(8);
  rpc::NdrReader in(bytes);
  EXPECT_FALSE(in.skip(SIZE_MAX));
  EXPECT_EQ(in.position(), 0u);
}

}  // namespace
