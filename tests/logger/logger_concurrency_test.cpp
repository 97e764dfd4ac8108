// Several threads logging while the settings change and the files rotate.
#include <regex>
#include <set>
#include <thread>

#include "logger_fixture.h"

namespace fs = std::filesystem;

namespace {

// Waits (at most 20 s) until the condition holds.
template <typename Condition>
bool waitUntil(Condition condition) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

TEST_F(LoggerTest, ConcurrentLoggingLosesAndTearsNoLine) {
  constexpr int kThreads = 4;
  constexpr int kMessages = 3000;
  const std::string first = directory;
  const std::string second = root.path() + "/second";
  auto logger = makeLogger("Trace.log", 2, 10, 25);
  ASSERT_TRUE(logger->startLogging());

  // Producers keep the pool from running dry, so that no entry is lost or
  // replaced and every one of them must reach a file. Every 600 messages they
  // also wait for the next directory move, so that at least four moves fall
  // in the middle of the logging however the threads are scheduled.
  std::atomic<int> producing{kThreads};
  std::atomic<int> moves{0};
  std::vector<std::thread> producers;
  for (int t = 0; t < kThreads; ++t) {
    producers.emplace_back([&, t] {
      for (int m = 0; m < kMessages; ++m) {
        logger->logMsg(1, "t%d m%d payload-%08d", t, m, m * 7 + t);
        if (m % 100 == 99) waitUntil([&] { return logger->poolStatistics().currentlyFree > 700; });
        if (m % 600 == 599 && m + 1 < kMessages) waitUntil([&] { return moves.load() >= (m + 1) / 600; });
      }
      --producing;
    });
  }
  // Meanwhile the settings change, and the set moves between two directories;
  // each move rotates the files at the next line.
  std::thread settings([&] {
    for (int round = 0; producing.load() > 0; ++round) {
      logger->setCurrentLogLevel(round % 2 == 0 ? 2 : 5);
      logger->setMaxLogFileSizeInMegs(round % 2 == 0 ? 10 : 11);
      logger->setMaxNumberOfLogFiles(round % 2 == 0 ? 24 : 25);
      logger->setLogToStdio(false);
      if (round % 20 == 19 && moves < 10) {
        char target[GenericLogger::kPathSize];
        std::snprintf(target, sizeof target, "%s", (moves % 2 == 0 ? second : first).c_str());
        EXPECT_FALSE(logger->setDirectoryPath(target));
        ++moves;
        const uint32_t logged = logger->messageCounts().logged;
        waitUntil([&] { return logger->messageCounts().logged > logged + 100 || producing.load() == 0; });
      }
      std::this_thread::yield();
    }
  });
  for (std::thread& producer : producers) producer.join();
  settings.join();
  ASSERT_TRUE(waitUntil([&] { return logger->poolStatistics().currentlyInUse == 0; }));
  logger->stopLogging();
  const GenericLogger::MessageCounts counts = logger->messageCounts();

  const std::regex whole(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \d+ *\tWARN \tt(\d) m(\d+) payload-(\d{8}))");
  std::set<std::pair<int, int>> seen;
  size_t duplicates = 0, torn = 0, files = 0;
  for (const std::string& dir : {first, second}) {
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("Trace_", 0) != 0 || name.find("FatalError") != std::string::npos) continue;
      ++files;
      for (const std::string& line : lines(entry.path().string())) {
        if (line.find("payload") == std::string::npos) continue;
        std::smatch m;
        if (!std::regex_match(line, m, whole) || std::stoi(m[3]) != std::stoi(m[2]) * 7 + std::stoi(m[1])) {
          ++torn;
          continue;
        }
        if (!seen.insert({std::stoi(m[1]), std::stoi(m[2])}).second) ++duplicates;
      }
    }
  }
  ASSERT_GE(moves.load(), 4) << "the moves overlapped the logging";
  EXPECT_GT(files, 2u) << "the set moved and rotated";
  EXPECT_EQ(torn, 0u);
  EXPECT_EQ(duplicates, 0u);
  EXPECT_EQ(counts.lost, 0u);
  EXPECT_EQ(counts.replaced, 0u);
  EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kMessages)) << "every entry is in a file";
  EXPECT_EQ(counts.perLevel[1], static_cast<uint32_t>(kThreads * kMessages));
  EXPECT_EQ(logger->errorCount(GenericLogger::WRITE_BUFFER), 0u);
}

}  // namespace
