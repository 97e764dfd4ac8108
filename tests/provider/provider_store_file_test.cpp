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

// The text the store gives for a fault at this line of its file.
std::string faultAt(const char* who, const std::string& file, size_t line) {
  return std::string(who) + ": IsLogTrace cannot be read, tracing stays as it is: " + file + ":" +
         std::to_string(line) + ":";
}

// The provider's key broken by hand: said on standard output, with the file
// and line, at ZemlinkInit (the key cannot be watched then, so the facade
// looks every 100 ms here), again when the fault moves, and after a repair
// again when the file breaks once more; a fault that stays is said once.
// Tracing stays as it was meanwhile, and the file is not rewritten.
TEST_F(ProviderTest, ABrokenStoreFileIsReportedAtZemlinkInitAndWheneverItBreaks) {
  ProviderTimings timings = shortTimings();
  timings.tracePollMs = 100;
  makeProvider(timings);
  const std::string file = registryFilePath(RootKey::LocalMachine);
  const std::string good = readFile(file);
  const std::string section = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Brasken\\Quorin\\Tarvo]\n";
  const size_t at = good.find(section);
  ASSERT_NE(at, std::string::npos) << good;
  const size_t body = at + section.size();
  const size_t line = 1 + static_cast<size_t>(std::count(good.begin(), good.begin() + static_cast<long>(body), '\n'));
  std::string broken = good;
  broken.insert(body, "\"IsLogTrace\"=dword:one\n");
  std::string moved = broken;  // the same fault, one line further down
  moved.insert(body, "\"Other\"=dword:00000001\n");
  replaceStoreFile(broken);
  startSimulator();

  const auto waitForWatchPasses = [&](uint32_t passes) {
    const uint32_t from = provider().traceFacade().watchPasses();
    eventually([&] { return provider().traceFacade().watchPasses() >= from + passes; });
  };
  const std::string printed = root_.path() + "/stdout.txt";
  bool atInit = false;
  bool sawMoved = false;
  bool repaired = false;
  bool brokenAgain = false;
  {
    StdoutToFile out(printed);
    if (ZemlinkInit(0, nullptr, "127.0.0.1") == ZEM_SUCCESS) {
      atInit = out.waitFor(faultAt("TraceDebug::Initialization()", file, line));
      waitForWatchPasses(3);
      replaceStoreFile(moved);
      sawMoved = out.waitFor(faultAt("RegistryThread()", file, line + 1));
      waitForWatchPasses(3);
      replaceStoreFile(good);
      repaired = eventually([&] { return provider().traceFacade().isTracing(); });
      replaceStoreFile(broken);
      brokenAgain = out.waitFor(faultAt("RegistryThread()", file, line));
    }
  }
  const std::string text = readFile(printed);
  EXPECT_TRUE(atInit) << text;
  EXPECT_TRUE(sawMoved) << text;
  EXPECT_TRUE(repaired);
  EXPECT_TRUE(brokenAgain) << text;
  // Polled many times while broken the same way, said once.
  EXPECT_EQ(TraceCapture::occurrences(text, faultAt("TraceDebug::Initialization()", file, line)), 1u) << text;
  EXPECT_EQ(TraceCapture::occurrences(text, faultAt("RegistryThread()", file, line + 1)), 1u) << text;
  EXPECT_EQ(TraceCapture::occurrences(text, faultAt("RegistryThread()", file, line)), 1u) << text;
  EXPECT_EQ(readFile(file), broken) << "the store file is not rewritten";
  EXPECT_TRUE(provider().traceFacade().isTracing()) << "tracing stays as it was";
}

}  // namespace
}  // namespace zem::test
