#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/settings/settings_store.h"
#include "support/process.h"
#include "support/temp_root.h"

namespace {

using zem::test::ProcessResult;
using zem::test::runProcess;

ProcessResult zemreg(std::vector<std::string> args, const std::string& input = "") {
  args.insert(args.begin(), ZEMREG);
  return runProcess(args, input);
}

constexpr const char* kKey = "HKLM\\SOFTWARE\\Brasken\\Quorin\\Tarvo";

class Zemreg : public ::testing::Test {
 protected:
  zem::test::TempRoot root_;
};

TEST_F(Zemreg, AddThenQueryShowsTheValueAndTheFileReadsAsAnExport) {
  ProcessResult add = zemreg({"add", kKey, "/v", "IsLogTrace", "/t", "REG_DWORD", "/d", "1"});
  ASSERT_EQ(add.exitCode, 0) << add.err;
  EXPECT_EQ(add.out, "The operation completed successfully.\n");

  ProcessResult query = zemreg({"query", "HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin\\Tarvo", "/v", "IsLogTrace"});
  ASSERT_EQ(query.exitCode, 0) << query.err;
  EXPECT_EQ(query.out, "\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin\\Tarvo\n    IsLogTrace    REG_DWORD    0x1\n\n");

  std::ifstream file(zem::registryFilePath(zem::RootKey::LocalMachine));
  std::ostringstream text;
  text << file.rdbuf();
  EXPECT_EQ(text.str(),
            "Windows Registry Editor Version 5.00\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin]\n\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin\\Tarvo]\n"
            "\"IsLogTrace\"=dword:00000001\n\n");
}

TEST_F(Zemreg, AwkwardNamesAndDataSurviveExportAndImport) {
  const std::string name = "Wert \"mit\" \\ [Klammern] = ü";
  const std::string data = "C:\\Pfad \"x\" [y]=z — 日本";
  ASSERT_EQ(zemreg({"add", kKey, "/v", name, "/d", data, "/f"}).exitCode, 0);
  ASSERT_EQ(zemreg({"add", kKey + std::string("\\Sub"), "/v", "n", "/t", "REG_DWORD", "/d", "0xffffffff"}).exitCode, 0);

  const std::string exported = root_.path() + "/out.reg";
  ASSERT_EQ(zemreg({"export", "HKLM\\SOFTWARE\\Brasken", exported}).exitCode, 0);
  ASSERT_EQ(zemreg({"delete", "HKLM\\SOFTWARE\\Brasken", "/f"}).exitCode, 0);
  EXPECT_EQ(zemreg({"query", kKey}).exitCode, 1);
  ASSERT_EQ(zemreg({"import", exported}).exitCode, 0);

  ProcessResult query = zemreg({"query", kKey, "/v", name});
  ASSERT_EQ(query.exitCode, 0) << query.err;
  EXPECT_NE(query.out.find("    " + name + "    REG_SZ    " + data + "\n"), std::string::npos) << query.out;
  query = zemreg({"query", kKey});
  EXPECT_NE(query.out.find("HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin\\Tarvo\\Sub\n"), std::string::npos);
  query = zemreg({"query", kKey + std::string("\\Sub"), "/v", "N"});
  EXPECT_NE(query.out.find("    n    REG_DWORD    0xffffffff\n"), std::string::npos) << query.out;
}

struct FailureCase {
  std::vector<std::string> args;
  const char* message;
};

TEST_F(Zemreg, BadInputGetsAClearErrorAndStatusOne) {
  const FailureCase cases[] = {
      {{"add", kKey, "/v", "N", "/t", "REG_DWORD", "/d", "4294967296"}, "Invalid REG_DWORD data \"4294967296\""},
      {{"add", kKey, "/v", "N", "/t", "REG_DWORD", "/d", "-1"}, "Invalid REG_DWORD data"},
      {{"add", kKey, "/v", "N", "/t", "REG_DWORD", "/d", "12abc"}, "Invalid REG_DWORD data"},
      {{"add", kKey, "/v", "N", "/t", "REG_WORD", "/d", "1"}, "Invalid type \"REG_WORD\""},
      {{"query", "HKLM\\SOFTWARE\\Missing"}, "unable to find the specified registry key"},
      {{"query", "HKXX\\SOFTWARE"}, "Invalid key name"},
      {{"frobnicate", kKey}, "Invalid operation"},
      {{"add", kKey, "/v"}, "/v needs an argument"},
      {{"import", "/nonexistent/file.reg"}, "Cannot open /nonexistent/file.reg"},
  };
  for (const FailureCase& c : cases) {
    ProcessResult result = zemreg(c.args);
    EXPECT_EQ(result.exitCode, 1) << c.message;
    EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
  }
  EXPECT_EQ(zemreg({"query", kKey}).exitCode, 1);  // nothing was created by the failures
}

TEST_F(Zemreg, OverwritesAndDeletionsAskFirst) {
  ASSERT_EQ(zemreg({"add", kKey, "/v", "N", "/d", "one"}).exitCode, 0);
  ProcessResult refused = zemreg({"add", kKey, "/v", "N", "/d", "two"}, "no\n");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.out.find("Value N exists, overwrite(Yes/No)?"), std::string::npos);
  ASSERT_EQ(zemreg({"add", kKey, "/v", "N", "/d", "two"}, "yes\n").exitCode, 0);
  EXPECT_NE(zemreg({"query", kKey, "/v", "N"}).out.find("REG_SZ    two"), std::string::npos);

  EXPECT_EQ(zemreg({"delete", kKey, "/v", "N"}, "").exitCode, 1);
  ASSERT_EQ(zemreg({"delete", kKey, "/v", "N"}, "y\n").exitCode, 0);
  EXPECT_EQ(zemreg({"query", kKey, "/v", "N"}).exitCode, 1);
}

TEST_F(Zemreg, MalformedStoreFileIsNamedWithItsLine) {
  ASSERT_EQ(zemreg({"add", kKey, "/v", "A", "/t", "REG_DWORD", "/d", "1"}).exitCode, 0);
  const std::string file = zem::registryFilePath(zem::RootKey::LocalMachine);
  std::ofstream(file, std::ios::app) << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Cut]\n\"x\"=dwo";
  ProcessResult result = zemreg({"query", "HKLM\\SOFTWARE\\Cut"});
  EXPECT_EQ(result.exitCode, 1);
  EXPECT_NE(result.err.find(file + ":13:"), std::string::npos) << result.err;
  EXPECT_EQ(zemreg({"query", kKey, "/v", "A"}).exitCode, 0);
}

}  // namespace
