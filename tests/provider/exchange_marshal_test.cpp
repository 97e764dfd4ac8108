#include "provider/exchange/exchange_marshal.h"

#include <gtest/gtest.h>

#include <cstring>

#include "provider/exchange/exchange_text.h"

namespace {

MessageData dataOf(std::initializer_list<const char*> items) {
  MessageData data{};
  int i = 0;
  for (const char* item : items) narrowToWireString(item, data.Strings[i++]);
  return data;
}

size_t encodedSize(const MessageData& data) {
  rpc::NdrWriter out;
  writeMessageData(out, data);
  return out.size();
}

TEST(ExchangeMarshal, MessageDataSizesFollowTheStringLengths) {
  // Ten empty strings: 9 x (8 + 2 + 2 gap) + 10.
  EXPECT_EQ(encodedSize(dataOf({})), 118u);
  // "abc" (count 4, 16 bytes) and "" alternating; the last "" needs no gap.
  EXPECT_EQ(encodedSize(dataOf({"abc", "", "abc", "", "abc", "", "abc", "", "abc", ""})), 138u);
  const std::string eighty(80, 'x');
  MessageData full{};
  for (auto& slot : full.Strings) narrowToWireString(eighty, slot);
  EXPECT_EQ(encodedSize(full), 9u * 172 + 170);
}

TEST(ExchangeMarshal, MessageDataRoundTrips) {
  const MessageData data = dataOf({"first", "", "x", std::string(80, 'y').c_str()});
  rpc::NdrWriter out;
  writeMessageData(out, data);
  rpc::NdrReader in(out.data());
  MessageData back{};
  ASSERT_TRUE(readMessageData(in, back)) << in.error();
  EXPECT_EQ(0, std::memcmp(&data, &back, sizeof data));
}

TEST(ExchangeMarshal, AStringSlotWithoutTerminatorIsSentAsEightyUnits) {
  MessageData data{};
  for (char16_t& unit : data.Strings[0]) unit = u'z';  // all 81 units set
  rpc::NdrWriter out;
  writeMessageData(out, data);
  EXPECT_EQ(out.data()[4], 81) << "actual count: 80 characters and the terminator";
  rpc::NdrReader in(out.data());
  MessageData back{};
  ASSERT_TRUE(readMessageData(in, back));
  EXPECT_EQ(slotText(back.Strings[0]).size(), 80u);
}

// Patches the first string's header of an encoded MessageData.
std::vector<uint8_t> withFirstHeader(uint32_t offset, uint32_t count) {
  rpc::NdrWriter out;
  writeMessageData(out, dataOf({"abc"}));
  std::vector<uint8_t> bytes = out.take();
  std::memcpy(bytes.data(), &offset, 4);
  std::memcpy(bytes.data() + 4, &count, 4);
  return bytes;
}

TEST(ExchangeMarshal, RefusesStringsTheInterfaceCannotCarry) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  std::vector<uint8_t> unterminated = withFirstHeader(0, 4);
  unterminated[8 + 6] = 'd';  // the terminator unit of "abc"
  std::vector<uint8_t> truncated = withFirstHeader(0, 4);
  truncated.resize(truncated.size() - 1);
  const Case cases[] = {
      {"offset 1", withFirstHeader(1, 4)},
      {"actual count 0", withFirstHeader(0, 0)},
      {"actual count 82", withFirstHeader(0, 82)},
      {"actual count 0xFFFFFFFF", withFirstHeader(0, 0xFFFFFFFF)},
      {"no terminator", unterminated},
      {"stub one byte short", truncated},
  };
  for (const Case& bad : cases) {
    rpc::NdrReader in(bad.bytes);
    MessageData data{};
    EXPECT_FALSE(readMessageData(in, data)) << bad.name;
    EXPECT_FALSE(in.error().empty()) << bad.name;
  }
}

TEST(ExchangeMarshal, NamesCarryNothingBehindTheirTerminator) {
  ProviderNames names = vendorProviderNames();
  names.PrimaryName[20] = u'!';  // garbage behind the terminator
  rpc::NdrWriter out;
  writeProviderNames(out, names);
  ASSERT_EQ(out.size(), 204u);
  const std::vector<uint8_t>& bytes = out.data();
  EXPECT_EQ(bytes[0], 'B');
  EXPECT_EQ(bytes[12], 'n');
  for (size_t i = 14; i < 102; ++i) EXPECT_EQ(bytes[i], 0) << "byte " << i;
  EXPECT_EQ(bytes[102], 'B');
}

TEST(ExchangeMarshal, MessageRecordIsItsEightyBytesInOrder) {
  MessageRecord record{};
  record.MsgReferenceId = 0x01020304;
  record.Call.ReservedCallReference = -1;
  record.ReservedArray[8] = 7;
  rpc::NdrWriter out;
  writeMessageRecord(out, record);
  ASSERT_EQ(out.size(), 80u);
  EXPECT_EQ(out.data()[0], 0x04);
  EXPECT_EQ(out.data()[32], 0xFF);
  EXPECT_EQ(out.data()[76], 7);
  rpc::NdrReader in(out.data());
  MessageRecord back{};
  ASSERT_TRUE(readMessageRecord(in, back));
  EXPECT_EQ(0, std::memcmp(&record, &back, sizeof record));
}

TEST(ExchangeMarshal, TrailingBytesBeyondPaddingAreRefused) {
  std::vector<uint8_t> bytes(7);
  rpc::NdrReader padded(bytes);
  EXPECT_TRUE(readEnd(padded));
  bytes.resize(8);
  rpc::NdrReader extra(bytes);
  EXPECT_FALSE(readEnd(extra));
}

}  // namespace
