// The provider's trace over a settings store file broken by hand (the file
// of the Linux store; the Windows registry cannot be broken this way).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "provider_fixture.h"
#include "support/text_files.h"

namespace zem::test {
namespace {

// Standard output into a file while the object lives, so that a test can
// wait for what a thread of the library prints.
class StdoutToFile {
 public:
  explicit StdoutToFile(std::string path) : path_(std::move(path)) {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int file = open(path_.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    dup2(file, STDOUT_FILENO);
    close(file);
  }
  ~StdoutToFile() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    close(saved_);
  }
  // Waits until `text` has been printed `count` times.
  bool waitFor(const std::string& text, size_t count = 1) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    do {
      std::fflush(stdout);
      if (TraceCapture::occurrences(readFile(path_), text) >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
  }

 private:
  const std::string path_;
  int saved_ = -1;
};

// Replaces the store file at once, as an editor that saves by renaming does.
void replaceStoreFile(const std::string& text) {
  const std::string file = registryFilePath(RootKey::LocalMachine);
  writeFile(file + ".edit", text);
  std::filesystem::rename(file + ".edit", file);
}

// The provider's key broken by hand: said on standard output, with the file
// and line, at ZemlinkInit and at each change of the file; tracing stays as
// it was until the file is repaired.
TEST_F(ProviderTest, ABrokenStoreFileIsReportedAtZemlinkInitAndAtEachChange) {
  const std::string file = registryFilePath(RootKey::LocalMachine);
  const std::string good = readFile(file);
  const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin\\Tarvo]\n";
  const size_t at = good.find(section);
  ASSERT_NE(at, std::string::npos) << good;
  std::string broken = good;
  broken.insert(at + section.size(), "\"IsLogTrace\"=dword:one\n");
  const size_t line = 1 + static_cast<size_t>(std::count(broken.begin(), broken.begin() + at + section.size(), '\n'));
  const std::string reported = "TraceDebug::Initialization(): IsLogTrace cannot be read, tracing stays as it is: " +
                               file + ":" + std::to_string(line) + ":";
  const std::string reportedAgain = "RegistryThread(): IsLogTrace cannot be read, tracing stays as it is: " + file +
                                    ":" + std::to_string(line) + ":";
  replaceStoreFile(broken);
  startSimulator();

  bool atInit = false;
  bool atChange = false;
  bool atSecondChange = false;
  {
    StdoutToFile out(root_.path() + "/stdout.txt");
    ASSERT_EQ(ZemlinkInit(0, nullptr, "127.0.0.1"), ZEM_SUCCESS);
    atInit = out.waitFor(reported);
    replaceStoreFile(broken + "; touched\n");
    atChange = out.waitFor(reportedAgain);
    replaceStoreFile(broken + "; touched again\n");
    atSecondChange = out.waitFor(reportedAgain, 2);
  }
  EXPECT_TRUE(atInit) << readFile(root_.path() + "/stdout.txt");
  EXPECT_TRUE(atChange);
  EXPECT_TRUE(atSecondChange);
  EXPECT_EQ(provider().traceFacade().logger(), nullptr);
  EXPECT_EQ(readFile(file), broken + "; touched again\n") << "the store file is not rewritten";

  // Repaired: the trace follows the key again.
  replaceStoreFile(good);
  EXPECT_TRUE(eventually([&] { return provider().traceFacade().isTracing(); }));
}

}  // namespace
}  // namespace zem::test
