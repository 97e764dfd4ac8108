// The (id, text) pair and its fixed table of 32.
#include "logger/id_string_pair.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/stdout_capture.h"

namespace {

using zem::test::capturedStdout;

TEST(IdStringPair, TakesAtMostEightyCharacters) {
  IdStringPair pair;
  EXPECT_TRUE(pair.isEmpty());
  const std::string eighty(80, 'e');
  std::vector<bool> results;
  const std::string printed = capturedStdout([&] {
    results.push_back(pair.set(7, eighty.c_str()));
    results.push_back(pair.set(9, std::string(81, 'x').c_str()));
    results.push_back(pair.set(9, nullptr));
  });
  EXPECT_EQ(results, (std::vector<bool>{true, false, false}));
  EXPECT_EQ(printed, "IdStringPair::set(): STRING TOO LONG\nIdStringPair::set(): NULL POINTER\n");
  EXPECT_EQ(pair.string, eighty) << "a refused set leaves the pair unchanged";
  EXPECT_TRUE(pair.hasId(7));
  EXPECT_FALSE(pair.hasId(9));
}

TEST(IdStringPairTable, AddRefusesWhatDoesNotFit) {
  IdStringPairTable table;
  std::vector<bool> results;
  const std::string printed = capturedStdout([&] {
    results.push_back(table.add(1, std::string(80, 'a').c_str()));
    results.push_back(table.add(2, std::string(81, 'b').c_str()));
    results.push_back(table.add(3, nullptr));
    for (uint32_t id = 2; id <= 32; ++id) results.push_back(table.add(id, "thread"));
    results.push_back(table.add(33, "one too many"));
  });
  std::vector<bool> expected{true, false, false};
  expected.insert(expected.end(), 31, true);
  expected.push_back(false);
  EXPECT_EQ(results, expected);
  EXPECT_EQ(printed,
            "IdStringPairTable::add(): STRING TOO LONG\n"
            "IdStringPairTable::add(): NULL POINTER\n"
            "IdStringPairTable::add(): TABLE ALREADY FULL\n");
}

TEST(IdStringPairTable, FindScansSlotsInOrder) {
  IdStringPairTable table;
  const char* text = "not touched";
  EXPECT_TRUE(table.find(0, text)) << "a free slot holds id 0";
  EXPECT_STREQ(text, "");

  EXPECT_TRUE(table.add(5, "logger"));
  EXPECT_TRUE(table.add(5, "second"));
  EXPECT_TRUE(table.add(6, "pump"));
  EXPECT_TRUE(table.find(5, text));
  EXPECT_STREQ(text, "logger") << "the earlier slot wins";
  EXPECT_TRUE(table.find(6, text));
  EXPECT_STREQ(text, "pump");
  EXPECT_FALSE(table.find(99, text));
  EXPECT_EQ(text, nullptr);

  table.clear();
  EXPECT_FALSE(table.find(5, text));
  EXPECT_TRUE(table.add(7, "reused"));
  EXPECT_TRUE(table.find(7, text));
  EXPECT_STREQ(text, "reused");
}

}  // namespace
