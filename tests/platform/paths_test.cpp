#include "platform/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/temp_root.h"

namespace {

struct PathCase {
  const char* text;
  const char* expected;  // "@" stands for the data root
};

TEST(NativePath, MapsWindowsTextsUnderTheRoot) {
  zem::test::TempRoot root;
  const PathCase cases[] = {
      {"D:\\Corvane\\LogsPellor\\TarvoCapi_Exception.Log", "@/Corvane/LogsPellor/TarvoCapi_Exception.Log"},
      {"c:\\GLLExceptions_0x0000002a.txt", "@/GLLExceptions_0x0000002a.txt"},
      {"\\Corvane\\Logs\\Pellor", "@/Corvane/Logs/Pellor"},
      {"D:\\", "@/"},
      {"D:Logs", "@/Logs"},
      {"/var/log/zemlink", "/var/log/zemlink"},
      {"Logs", "Logs"},
      {"Logs\\Pellor\\x.log", "Logs/Pellor/x.log"},
      {"", ""},
  };
  for (const PathCase& c : cases) {
    std::string expected = c.expected;
    if (!expected.empty() && expected[0] == '@') expected = root.path() + expected.substr(1);
    EXPECT_EQ(zem::nativePath(c.text), expected) << c.text;
  }
}

TEST(DataRoot, FollowsTheEnvironment) {
  setenv("ZEMLINK_ROOT", "/srv/zem/", 1);
  EXPECT_EQ(zem::dataRoot(), "/srv/zem");

  unsetenv("ZEMLINK_ROOT");
  setenv("XDG_DATA_HOME", "/home/u/.data", 1);
  EXPECT_EQ(zem::dataRoot(), "/home/u/.data/zemlink");

  unsetenv("XDG_DATA_HOME");
  setenv("HOME", "/home/u", 1);
  EXPECT_EQ(zem::dataRoot(), "/home/u/.local/share/zemlink");

  unsetenv("HOME");
  EXPECT_EQ(zem::dataRoot().rfind("/tmp/zemlink-", 0), 0u);
}

}  // namespace
