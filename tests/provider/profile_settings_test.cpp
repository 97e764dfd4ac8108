#include "provider/profile_settings.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temp_root.h"

namespace {

struct ProfileCase {
  const char* text;
  const char* expected;
};

TEST(ProfileSettings, ReadsThePortWithTheUsualRules) {
  zem::test::TempRoot root;
  const std::string file = root.path() + "/zemlink.ini";
  const ProfileCase cases[] = {
      {"[RPC]\nPORT=1560\n", "1560"},
      {"; settings\n[rpc]\n  port  =  1561  \n", "1561"},
      {"[Other]\nPORT=1\n[RPC]\nPort=1562\nPORT=9\n", "1562"},
      {"[RPC]\r\nPORT=\"1563\"\r\n", "1563"},
      {"# comment\n[RPC]\nHOST=x\n", "1550"},
      {"[Other]\nPORT=1564\n", "1550"},
      {"garbage line\n[RPC]\nPORT=1565\n", "1565"},
      {"[ RPC ]\nPORT=1566\n", "1566"},
      {"", "1550"},
  };
  for (const ProfileCase& c : cases) {
    std::ofstream(file, std::ios::trunc) << c.text;
    EXPECT_EQ(zem::readProfileString(file, "RPC", "PORT", "1550"), c.expected) << c.text;
  }
  EXPECT_EQ(zem::readProfileString(root.path() + "/missing.ini", "RPC", "PORT", "1550"), "1550");
}

// Linux's reader ends a value at an inline comment; the Windows profile API
// keeps the text as it stands.
TEST(ProfileSettings, AnInlineCommentEndsTheValue) {
  zem::test::TempRoot root;
  const std::string file = root.path() + "/zemlink.ini";
  std::ofstream(file) << "[RPC]\nPORT=1566 ; the test server\n";
  EXPECT_EQ(zem::readProfileString(file, "RPC", "PORT", "1550"), "1566");
}

}  // namespace
