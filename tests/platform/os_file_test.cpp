// Files, directories and time texts of the OS layer. The path texts name
// folders below the test's root (support/path_texts.h).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "platform/os/os.h"
#include "support/path_texts.h"
#include "support/temp_root.h"
#include "support/text_files.h"

namespace fs = std::filesystem;

namespace {

using zem::test::kDrivesAreReal;
using zem::test::TempRoot;
using zem::test::readFile;
using zem::test::writeFile;

// The path text of a file or folder below the root, and its native path.
class RootFiles {
 public:
  std::string text(const std::string& relative) const { return zem::test::textBelowRoot(root_, relative); }
  std::string native(const std::string& relative) const { return zem::test::nativeBelowRoot(root_, relative); }
  const std::string& path() const { return root_.path(); }

 private:
  TempRoot root_;
};

TEST(OsDirectoryCreateTree, CreatesEveryMissingLevel) {
  RootFiles root;
  const struct {
    std::string path;
    const char* created;
  } cases[] = {
      {root.text("a\\b\\c"), "a\\b\\c"},
      {root.text("d\\e\\"), "d\\e"},    // a trailing separator changes nothing
      {root.text("f\\\\g"), "f\\g"},    // a doubled one is an empty component
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(osDirectoryCreateTree(c.path.c_str())) << c.path;
    EXPECT_TRUE(fs::is_directory(root.native(c.created))) << c.path;
  }
  if (!kDrivesAreReal) {
    // Rooted without a drive: below the data root too (on Windows, the current drive's root).
    EXPECT_TRUE(osDirectoryCreateTree("\\h\\i"));
    EXPECT_TRUE(fs::is_directory(root.native("h\\i")));
  }
  EXPECT_TRUE(osDirectoryCreateTree(root.text("a\\b\\c").c_str())) << "an existing tree";
  EXPECT_TRUE(osDirectoryCreateTree((root.path() + "/native/path").c_str()));
  EXPECT_TRUE(fs::is_directory(root.path() + "/native/path"));
}

TEST(OsDirectoryCreateTree, StopsAtAComponentThatCannotBeMade) {
  RootFiles root;
  writeFile(root.native("blocker"), "a file where a directory should be");
  EXPECT_FALSE(osDirectoryCreateTree(root.text("blocker\\x\\y").c_str()));
  EXPECT_FALSE(fs::exists(root.native("blocker\\x")));
  const std::string tooLong = root.text(std::string(600, 'z'));
  EXPECT_FALSE(osDirectoryCreateTree(tooLong.c_str()));
}

TEST(OsDirectoryCreate, MakesOneLevelOnly) {
  RootFiles root;
  EXPECT_EQ(osDirectoryCreate(root.text("one").c_str()), 0);
  EXPECT_EQ(osDirectoryCreate(root.text("one").c_str()), 0) << "an existing directory";
  EXPECT_EQ(osDirectoryCreate(root.text("two\\three").c_str()), -1) << "a missing parent";
  EXPECT_TRUE(fs::is_directory(root.native("one")));
}

TEST(OsFile, CreateEmptiesAndSizeReads) {
  RootFiles root;
  const std::string log = root.text("log.txt");
  const std::string missing = root.text("missing.txt");
  writeFile(root.native("log.txt"), "0123456789");
  uint32_t size = 0;
  EXPECT_TRUE(osGetFileSize(log.c_str(), &size));
  EXPECT_EQ(size, 10u);
  EXPECT_TRUE(osFileCreate(log.c_str()));
  EXPECT_TRUE(osGetFileSize(log.c_str(), &size));
  EXPECT_EQ(size, 0u);

  size = 77;
  EXPECT_FALSE(osGetFileSize(missing.c_str(), &size));
  EXPECT_EQ(size, 77u) << "untouched on failure";
  EXPECT_FALSE(osFileCreate(root.text("no\\such\\dir\\x.txt").c_str()));

  struct stat status;
  EXPECT_EQ(osFileStat(log.c_str(), &status), 0);
  EXPECT_EQ(osFileStat(missing.c_str(), &status), -1);
}

TEST(OsFile, CopyMoveDeleteExists) {
  RootFiles root;
  const std::string a = root.text("a.txt"), b = root.text("b.txt"), c = root.text("c.txt"), d = root.text("d.txt");
  writeFile(root.native("a.txt"), "first");
  writeFile(root.native("b.txt"), "second");

  EXPECT_TRUE(osFileCopy(a.c_str(), b.c_str())) << "copy overwrites";
  EXPECT_EQ(readFile(root.native("b.txt")), "first");
  writeFile(root.native("b.txt"), "second");
  EXPECT_FALSE(osFileMove(a.c_str(), b.c_str())) << "move refuses an existing target";
  EXPECT_FALSE(osFileMoveCopyAllowed(a.c_str(), b.c_str()));
  EXPECT_EQ(readFile(root.native("b.txt")), "second");

  EXPECT_TRUE(osFileMove(a.c_str(), c.c_str()));
  EXPECT_FALSE(osFileExists(a.c_str()));
  EXPECT_EQ(readFile(root.native("c.txt")), "first");
  EXPECT_TRUE(osFileMoveCopyAllowed(c.c_str(), d.c_str()));
  EXPECT_EQ(readFile(root.native("d.txt")), "first");

  EXPECT_TRUE(osFileExists(d.c_str()));
  EXPECT_TRUE(osFileExists(root.path().c_str())) << "a directory exists too";
  EXPECT_TRUE(osFileDelete(d.c_str()));
  EXPECT_FALSE(osFileDelete(d.c_str()));
  EXPECT_FALSE(osFileExists(d.c_str()));
}

// (The time itself, in a zone the test sets, is checked where TZ sets the
// zone: os_posix_only_test.cpp.)
TEST(OsFileTimeString, HasItsFormAndRefusesAMissingPathOrADirectory) {
  RootFiles root;
  writeFile(root.native("t.txt"), "x");
  char text[OS_FILE_TIME_STRING_SIZE];
  EXPECT_TRUE(osFileTimeString(root.text("t.txt").c_str(), text, sizeof text));
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4} [A-Z][a-z]{2} \d\d \d\d:\d\d:\d\d\.\d{3})"))) << text;

  fs::create_directory(root.native("folder"));
  for (const std::string& path : {root.text("missing.txt"), root.text("folder")}) {
    std::strcpy(text, "unchanged");
    EXPECT_FALSE(osFileTimeString(path.c_str(), text, sizeof text)) << path;
    EXPECT_STREQ(text, "unchanged") << path;
  }
}

TEST(OsTimeZoneString, WritesTheBiasAsSignedHoursAndMinutes) {
  const struct {
    int bias;
    const char* text;
  } cases[] = {{-330, "+5:30"}, {300, "-5:0"}, {0, "+0:0"}, {210, "-3:30"}, {-60, "+1:0"}, {-765, "+12:45"}};
  for (const auto& c : cases) {
    char text[OS_TIME_ZONE_STRING_SIZE];
    osTimeZoneStringForBias(c.bias, text, sizeof text);
    EXPECT_STREQ(text, c.text) << c.bias;
  }
}

TEST(OsLocalTimeString, HasTheLogLineFormAndStopsAtTheBuffer) {
  char text[OS_LOCAL_TIME_STRING_SIZE];
  osLocalTimeString(text, sizeof text);
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3})"))) << text;

  char tiny[5];
  osLocalTimeString(tiny, sizeof tiny);
  EXPECT_EQ(std::strlen(tiny), 4u) << "cut short, never past the buffer";
}

TEST(OsPaths, FullPathBackslashAndFreeSpace) {
  RootFiles root;
  char full[OS_FULL_PATH_SIZE];
  ASSERT_TRUE(osFullPathName("x\\..\\y.txt", full));
  EXPECT_EQ(std::string(full), (fs::current_path() / "y.txt").string());
  ASSERT_TRUE(osFullPathName(root.text("logs\\.\\a.log").c_str(), full));
  EXPECT_EQ(std::string(full), root.native("logs\\a.log"));
  const std::string tooLong = "/" + std::string(OS_FULL_PATH_SIZE, 'p');
  EXPECT_FALSE(osFullPathName(tooLong.c_str(), full));
  EXPECT_FALSE(osFullPathName("", full));

  const char* text = "D:\\Corvane\\Logs";
  EXPECT_EQ(osFindBackslash(text), text + 2);
  EXPECT_EQ(osFindBackslash("no separator"), nullptr);

  uint64_t freeBytes = 0;
  EXPECT_TRUE(osDiskFreeSpace(root.text("not\\made\\yet").c_str(), &freeBytes))
      << "measured on the nearest existing parent";
  EXPECT_GT(freeBytes, 0u);
}

}  // namespace
