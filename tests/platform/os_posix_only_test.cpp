// Time texts in zones set through TZ, and moves between two file systems:
// what a POSIX system lets a test arrange (on Windows the zone is the
// system's own setting).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/os/os.h"
#include "support/temp_root.h"
#include "support/text_files.h"

namespace fs = std::filesystem;

namespace {

using zem::test::TempRoot;
using zem::test::readFile;
using zem::test::writeFile;

// Runs a block with TZ set to the given zone, then puts the old one back.
class ZoneForTest {
 public:
  explicit ZoneForTest(const char* zone) {
    const char* old = std::getenv("TZ");
    hadOld_ = old != nullptr;
    if (hadOld_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneForTest() {
    if (hadOld_) {
      setenv("TZ", old_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  bool hadOld_ = false;
  std::string old_;
};

TEST(OsFileTimeString, GivesTheLastWriteTimeInTheZoneOfTZ) {
  TempRoot root;
  ZoneForTest zone("XST-5:30");
  const std::string path = root.path() + "/t.txt";
  writeFile(path, "x");
  // 2026-12-08 15:11:57.123 UTC is 20:41:57.123 at +5:30.
  tm utc{};
  utc.tm_year = 126;
  utc.tm_mon = 11;
  utc.tm_mday = 8;
  utc.tm_hour = 15;
  utc.tm_min = 11;
  utc.tm_sec = 57;
  const timespec times[2] = {{timegm(&utc), 123000000}, {timegm(&utc), 123000000}};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

  char text[OS_FILE_TIME_STRING_SIZE];
  EXPECT_TRUE(osFileTimeString("C:\\t.txt", text, sizeof text));
  EXPECT_STREQ(text, "2026 Dec 08 20:41:57.123");
}

TEST(OsTimeZoneString, ShowsTheStandardOffsetOfTheZoneWithoutDaylightSaving) {
  const struct {
    const char* zone;
    const char* text;
  } zones[] = {{"XST-5:30", "+5:30"}, {"EST5EDT,M3.2.0,M11.1.0", "-5:0"}, {"UTC0", "+0:0"}, {"NST3:30NDT", "-3:30"},
             // Zone data: a winter marked as the daylight period, a southern summer, no saving at all.
             {"Europe/Dublin", "+0:0"}, {"Europe/Berlin", "+1:0"}, {"Australia/Sydney", "+10:0"},
             {"America/St_Johns", "-3:30"}, {"Asia/Kolkata", "+5:30"}};
  for (const auto& z : zones) {
    ZoneForTest zone(z.zone);
    char text[OS_TIME_ZONE_STRING_SIZE];
    osTimeZoneString(text, sizeof text);
    EXPECT_STREQ(text, z.text) << z.zone;
  }
}

TEST(OsLocalTimeString, IsTheTimeOfTheZoneOfTZ) {
  ZoneForTest zone("UTC0");
  char text[OS_LOCAL_TIME_STRING_SIZE];
  const time_t before = time(nullptr);
  osLocalTimeString(text, sizeof text);
  tm now{};
  gmtime_r(&before, &now);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &now);
  EXPECT_EQ(std::string(text, 10), date);
}

TEST(OsFile, MoveAcrossFileSystemsCopiesWhenAllowed) {
  // /dev/shm is a tmpfs of its own on Linux; the test root is not on it.
  if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm on this machine";
  TempRoot root;
  const std::string target = "/dev/shm/zemlink-move-" + std::to_string(getpid());
  writeFile(root.path() + "/m.txt", "moved");
  struct stat here, there;
  stat(root.path().c_str(), &here);
  stat("/dev/shm", &there);
  if (here.st_dev == there.st_dev) GTEST_SKIP() << "the test root is on /dev/shm";
  EXPECT_FALSE(osFileMove("C:\\m.txt", target.c_str()));
  EXPECT_TRUE(osFileMoveCopyAllowed("C:\\m.txt", target.c_str()));
  EXPECT_EQ(readFile(target), "moved");
  EXPECT_FALSE(osFileExists("C:\\m.txt"));
  unlink(target.c_str());
}

}  // namespace
