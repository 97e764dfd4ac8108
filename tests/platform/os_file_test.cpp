// Files, directories and time texts of the OS layer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/os.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;

namespace {

using zem::test::TempRoot;

void writeFile(const std::string& path, const std::string& content) { std::ofstream(path) << content; }

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

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

TEST(OsDirectoryCreateTree, CreatesEveryMissingLevel) {
  TempRoot root;
  const struct {
    const char* path;
    const char* created;
  } cases[] = {
      {"C:\\a\\b\\c", "a/b/c"},
      {"C:\\d\\e\\", "d/e"},             // a trailing separator changes nothing
      {"C:\\f\\\\g", "f/g"},             // a doubled one is an empty component
      {"\\h\\i", "h/i"},
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(osDirectoryCreateTree(c.path)) << c.path;
    EXPECT_TRUE(fs::is_directory(root.path() + "/" + c.created)) << c.path;
  }
  EXPECT_TRUE(osDirectoryCreateTree("C:\\a\\b\\c")) << "an existing tree";
  EXPECT_TRUE(osDirectoryCreateTree((root.path() + "/native/path").c_str()));
  EXPECT_TRUE(fs::is_directory(root.path() + "/native/path"));
}

TEST(OsDirectoryCreateTree, StopsAtAComponentThatCannotBeMade) {
  TempRoot root;
  writeFile(root.path() + "/blocker", "a file where a directory should be");
  EXPECT_FALSE(osDirectoryCreateTree("C:\\blocker\\x\\y"));
  EXPECT_FALSE(fs::exists(root.path() + "/blocker/x"));
  const std::string tooLong = "C:\\" + std::string(600, 'z');
  EXPECT_FALSE(osDirectoryCreateTree(tooLong.c_str()));
}

TEST(OsDirectoryCreate, MakesOneLevelOnly) {
  TempRoot root;
  EXPECT_EQ(osDirectoryCreate("C:\\one"), 0);
  EXPECT_EQ(osDirectoryCreate("C:\\one"), 0) << "an existing directory";
  EXPECT_EQ(osDirectoryCreate("C:\\two\\three"), -1) << "a missing parent";
  EXPECT_TRUE(fs::is_directory(root.path() + "/one"));
}

TEST(OsFile, CreateEmptiesAndSizeReads) {
  TempRoot root;
  const std::string path = root.path() + "/log.txt";
  writeFile(path, "0123456789");
  uint32_t size = 0;
  EXPECT_TRUE(osGetFileSize("C:\\log.txt", &size));
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(osFileCreate("C:\\log.txt"));
  EXPECT_TRUE(osGetFileSize("C:\\log.txt", &size));
  EXPECT_EQ(size, 0u);

  size = 77;
  EXPECT_FALSE(osGetFileSize("C:\\missing.txt", &size));
  EXPECT_EQ(size, 77u) << "untouched on failure";
  EXPECT_FALSE(osFileCreate("C:\\no\\such\\dir\\x.txt"));

  struct stat status;
  EXPECT_EQ(osFileStat("C:\\log.txt", &status), 0);
  EXPECT_EQ(osFileStat("C:\\missing.txt", &status), -1);
}

TEST(OsFile, CopyMoveDeleteExists) {
  TempRoot root;
  const std::string a = root.path() + "/a.txt";
  const std::string b = root.path() + "/b.txt";
  writeFile(a, "first");
  writeFile(b, "second");

  EXPECT_TRUE(osFileCopy("C:\\a.txt", "C:\\b.txt")) << "copy overwrites";
  EXPECT_EQ(readFile(b), "first");
  writeFile(b, "second");
  EXPECT_FALSE(osFileMove("C:\\a.txt", "C:\\b.txt")) << "move refuses an existing target";
  EXPECT_FALSE(osFileMoveCopyAllowed("C:\\a.txt", "C:\\b.txt"));
  EXPECT_EQ(readFile(b), "second");

  EXPECT_TRUE(osFileMove("C:\\a.txt", "C:\\c.txt"));
  EXPECT_FALSE(osFileExists("C:\\a.txt"));
  EXPECT_EQ(readFile(root.path() + "/c.txt"), "first");
  EXPECT_TRUE(osFileMoveCopyAllowed("C:\\c.txt", "C:\\d.txt"));
  EXPECT_EQ(readFile(root.path() + "/d.txt"), "first");

  EXPECT_TRUE(osFileExists("C:\\d.txt"));
  EXPECT_TRUE(osFileExists(root.path().c_str())) << "a directory exists too";
  EXPECT_TRUE(osFileDelete("C:\\d.txt"));
  EXPECT_FALSE(osFileDelete("C:\\d.txt"));
  EXPECT_FALSE(osFileExists("C:\\d.txt"));
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

TEST(OsFileTimeString, GivesTheLastWriteTimeInLocalTime) {
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

  // A missing path and a directory are refused alike, the text untouched.
  fs::create_directory(root.path() + "/folder");
  for (const char* path : {"C:\\missing.txt", "C:\\folder"}) {
    std::strcpy(text, "unchanged");
    EXPECT_FALSE(osFileTimeString(path, text, sizeof text)) << path;
    EXPECT_STREQ(text, "unchanged") << path;
  }
}

TEST(OsTimeZoneString, ShowsTheStandardOffsetWithoutDaylightSaving) {
  const struct {
    int bias;
    const char* text;
  } cases[] = {{-330, "+5:30"}, {300, "-5:0"}, {0, "+0:0"}, {210, "-3:30"}, {-60, "+1:0"}, {-765, "+12:45"}};
  for (const auto& c : cases) {
    char text[OS_TIME_ZONE_STRING_SIZE];
    osTimeZoneStringForBias(c.bias, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.bias;
  }

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

TEST(OsLocalTimeString, HasTheLogLineForm) {
  ZoneForTest zone("UTC0");
  char text[OS_LOCAL_TIME_STRING_SIZE];
  const time_t before = time(nullptr);
  osLocalTimeString(text, sizeof text);
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})"))) << text;
  tm now{};
  gmtime_r(&before, &now);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d", &now);
  EXPECT_EQ(std::string(text, 10), date);

  char tiny[5];
  osLocalTimeString(tiny, sizeof tiny);
  EXPECT_EQ(std::strlen(tiny), 4u) << "cut short, never past the buffer";
}

TEST(OsPaths, FullPathBackslashAndFreeSpace) {
  TempRoot root;
  char full[OS_FULL_PATH_SIZE];
  ASSERT_TRUE(osFullPathName("x\\..\\y.txt", full));
  EXPECT_EQ(std::string(full), (fs::current_path() / "y.txt").string());
  ASSERT_TRUE(osFullPathName("C:\\logs\\.\\a.log", full));
  EXPECT_EQ(std::string(full), root.path() + "/logs/a.log");
  const std::string tooLong = "/" + std::string(OS_FULL_PATH_SIZE, 'p');
  EXPECT_FALSE(osFullPathName(tooLong.c_str(), full));
  EXPECT_FALSE(osFullPathName("", full));

  const char* text = "D:\\Corvane\\Logs";
  EXPECT_EQ(osFindBackslash(text), text + 2);
  EXPECT_EQ(osFindBackslash("no separator"), nullptr);

  uint64_t freeBytes = 0;
  EXPECT_TRUE(osDiskFreeSpace("C:\\not\\made\\yet", &freeBytes)) << "measured on the nearest existing parent";
  EXPECT_GT(freeBytes, 0u);
}

}  // namespace
