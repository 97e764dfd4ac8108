// Entries on their way to the log file: levels, the line, truncation, the
// pool's limits, FATAL entries, start and stop.
#include <dirent.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <thread>

#include "logger_fixture.h"
#include "platform/os/os.h"
#include "support/open_files.h"

namespace {

using zem::test::isOpenInThisProcess;

// The columns before the text; the text is the rest of the line (matched
// apart, since a regex over a line of 5000 characters recurses that deep).
const std::regex kLineStart(R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\d+ *)\t([^\t]+)\t)");

struct Line {
  std::string time, delay, level, text;
};

// The lines of a log file that carry the time, delay, level and text columns.
std::vector<Line> entries(const std::vector<std::string>& fileLines) {
  std::vector<Line> result;
  for (const std::string& line : fileLines) {
    std::smatch m;
    if (std::regex_search(line, m, kLineStart, std::regex_constants::match_continuous)) {
      result.push_back({m[1], m[2], m[3], m.suffix()});
    }
  }
  return result;
}

std::vector<Line> entriesWith(const std::vector<std::string>& fileLines, const std::string& prefix) {
  std::vector<Line> result;
  for (const Line& line : entries(fileLines)) {
    if (line.text.rfind(prefix, 0) == 0) result.push_back(line);
  }
  return result;
}

TEST_F(LoggerTest, WritesLevelsUpToTheCurrentOneAndCountsEveryCall) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  for (uint32_t level = 0; level < 8; ++level) logger->logMsg(level, "level %u entry", level);
  logger->setCurrentLogLevel(9);
  logger->logMsg(9, "level nine");
  logger->logMsg(10, "level ten is above the setting");
  logger->setCurrentLogLevel(2);
  logger->stopLogging();
  const GenericLogger::MessageCounts counts = logger->messageCounts();

  const std::vector<std::string> all = lines(path("Trace_1.log"));
  const std::vector<Line> written = entriesWith(all, "level ");
  ASSERT_EQ(written.size(), 4u);
  const char* const expected[][2] = {
      {"FATAL", "level 0 entry"}, {"WARN ", "level 1 entry"}, {"INFO ", "level 2 entry"}, {"Unknown Type", "level nine"}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(written[i].level, expected[i][0]);
    EXPECT_EQ(written[i].text, expected[i][1]);
    EXPECT_GE(written[i].delay.size(), 4u) << "the delay is padded to four characters";
  }
  // Every call counts at its level, filtered or not; the stop adds its own INFO entry.
  for (uint32_t level = 0; level < 8; ++level) EXPECT_EQ(counts.perLevel[level], level == 2 ? 2u : 1u) << level;
  EXPECT_EQ(counts.requests, 5u);
  EXPECT_EQ(counts.logged, 5u) << "banners and the time-zone line are written directly and not counted";
}

TEST_F(LoggerTest, TheFileBeginsAndEndsWithItsBanners) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(2, "between");
  logger->stopLogging();
  // Direct lines carry the time without a delay column.
  const std::vector<std::string> raw = lines(path("Trace_1.log"));
  ASSERT_GE(raw.size(), 2u);
  EXPECT_TRUE(std::regex_match(raw[0], std::regex(R"(\S+ \S+\tINFO \tTime Zone = [+-]\d+:\d+)"))) << raw[0];
  EXPECT_TRUE(std::regex_match(raw[1], std::regex(R"(\S+ \S+\tINFO \t\*{14} Logging Started \*{14})"))) << raw[1];
  // The direct stop line may come before or after an entry still queued.
  const std::string content = read(path("Trace_1.log"));
  const size_t between = content.find("\tINFO \tbetween\n");
  const size_t called = content.find("\tINFO \tstopLogging: called ...\n");
  const size_t stopEntry = content.find("\tINFO \tstopLogging()\n");
  EXPECT_NE(between, std::string::npos);
  EXPECT_NE(called, std::string::npos);
  EXPECT_LT(between, stopEntry);
  EXPECT_LT(stopEntry, content.find("---------- Logger Usage Information Start ----------"));
  EXPECT_EQ(raw.back().substr(raw.back().find('\t')), "\tINFO \t*************** Logging Ended ***************");
}

TEST_F(LoggerTest, CutsLongTextsAndEndsEveryEntryWithOneNewline) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  const std::string at4999(4999, 'a');
  const std::string at5000(5000, 'b');
  logger->logMsg(2, "%s", at4999.c_str());
  logger->logMsg(2, "%s", at5000.c_str());
  logger->logMsg(2, "with newline\n");
  logger->logMsg(2, "without newline");
  logger->logText(2, "taken as given: 100% %d %s");
  logger->logText(2, at5000.c_str());
  logger->logRawText("raw %d|", 7);
  logger->logRawText("raw again\n");
  const GenericLogger::MessageCounts counts = logger->messageCounts();
  logger->stopLogging();

  const std::vector<Line> all = entries(lines(path("Trace_1.log")));
  std::vector<std::string> texts;
  for (const Line& line : all) texts.push_back(line.text);
  EXPECT_NE(std::find(texts.begin(), texts.end(), at4999), texts.end()) << "4999 characters are written whole";
  EXPECT_NE(std::find(texts.begin(), texts.end(), std::string(4980, 'b') + " .. Too Long .. "), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "with newline"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "without newline"), texts.end());
  EXPECT_NE(std::find(texts.begin(), texts.end(), "taken as given: 100% %d %s"), texts.end());
  EXPECT_EQ(counts.truncated, 2u) << "a plain text is cut the same way";
  EXPECT_EQ(counts.rawTexts, 2u);

  const std::string content = read(path("Trace_1.log"));
  EXPECT_NE(content.find("with newline\n2"), std::string::npos) << "no second newline";
  EXPECT_NE(content.find("\nraw 7|raw again\n"), std::string::npos) << "raw text has no time, level or newline";
}

TEST_F(LoggerTest, LowBuffersReplaceTheTextAndAnEmptyPoolLosesIt) {
  struct Case {
    uint32_t alreadyInUse;
    const char* written;  // null: nothing written
    uint32_t replaced, lost;
  };
  const Case cases[] = {
      {1493, "normal entry", 0, 0},
      {1494, "Warning: Log Buffers Low .. Log message lost ..", 1, 0},
      {1500, nullptr, 0, 1},
  };
  for (const Case& c : cases) {
    auto logger = makeLogger();
    ASSERT_TRUE(logger->startLogging());
    auto& pool = GenericLoggerTestAccess::pool(*logger);
    std::vector<LogBuffer*> held;
    for (uint32_t i = 0; i < c.alreadyInUse; ++i) held.push_back(pool.get());
    logger->logMsg(2, "normal entry");
    const GenericLogger::MessageCounts counts = logger->messageCounts();
    for (LogBuffer* record : held) pool.free(record);
    logger->stopLogging();

    const std::vector<Line> written = entriesWith(lines(path("Trace_1.log")), c.written ? c.written : "normal entry");
    EXPECT_EQ(written.size(), c.written ? 1u : 0u) << c.alreadyInUse;
    EXPECT_EQ(counts.replaced, c.replaced) << c.alreadyInUse;
    EXPECT_EQ(counts.lost, c.lost) << c.alreadyInUse;
    logger.reset();
    std::filesystem::remove_all(directory);
  }
}

TEST_F(LoggerTest, AFatalEntryReachesTheFatalErrorFileBeforeTheLog) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(0, "disk on fire %d", 1);
  // logMsg has returned: the fatal-error file has the entry already.
  const std::vector<std::string> fatal = lines(path("Trace_FatalError.log"));
  logger->stopLogging();

  ASSERT_EQ(fatal.size(), 2u);
  EXPECT_TRUE(std::regex_match(fatal[0], std::regex(R"(\S+ \S+\tFATAL\tTime Zone = [+-]\d+:\d+)"))) << fatal[0];
  std::smatch m;
  ASSERT_TRUE(std::regex_match(fatal[1], m, std::regex(R"((\S+ \S+)\tFATAL\tdisk on fire 1)"))) << fatal[1];
  const std::vector<Line> logged = entriesWith(lines(path("Trace_1.log")), "disk on fire 1");
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0].time, m[1].str()) << "the same entry, without the delay column";
  EXPECT_EQ(logged[0].level, "FATAL");
}

TEST_F(LoggerTest, NothingBeforeTheStartOrAfterTheStopReachesAFile) {
  auto logger = makeLogger();
  logger->logMsg(0, "too early");
  EXPECT_FALSE(logger->isLoggingStarted());
  ASSERT_TRUE(logger->startLogging());
  EXPECT_TRUE(logger->isLoggingStarted());
  EXPECT_FALSE(logger->startLogging()) << "already started";
  logger->stopLogging();
  logger->logMsg(0, "too late");
  logger->logRawText("too late");
  logger->stopLogging();  // a second stop does nothing

  const std::string log = read(path("Trace_1.log"));
  EXPECT_EQ(log.find("too early"), std::string::npos);
  EXPECT_EQ(log.find("too late"), std::string::npos);
  EXPECT_FALSE(exists(path("Trace_FatalError.log")));
  EXPECT_EQ(entriesWith(lines(path("Trace_1.log")), "stopLogging()").size(), 1u);
}

// With a write interval the logging thread collects lines while they keep
// coming: the first after a quiet spell is written at once, a burst larger
// than the early-wake mark loses nothing, and the stop writes the rest.
TEST_F(LoggerTest, AWriteIntervalCollectsLinesWithoutLosingAny) {
  LoggerOptions collecting = options();
  collecting.timings.writeIntervalMs = 100;
  auto logger = makeLogger("Trace.log", 2, 10, 5, collecting);
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(2, "first");
  ASSERT_TRUE(waitForLogged(*logger, 1));
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 1000; ++i) logger->logMsg(2, "round %d line %d", round, i);
    ASSERT_TRUE(waitForLogged(*logger, 1 + 1000u * (round + 1)));
  }
  logger->logMsg(2, "last");
  const GenericLogger::MessageCounts before = logger->messageCounts();
  logger->stopLogging();
  EXPECT_EQ(before.lost + before.replaced, 0u);
  const std::string content = read(path("Trace_1.log"));
  EXPECT_NE(content.find("round 2 line 999\n"), std::string::npos);
  const size_t last = content.find("\tlast\n");
  ASSERT_NE(last, std::string::npos);
  EXPECT_LT(last, content.find("Logging Ended")) << "the stop writes what was still collected";
}

TEST_F(LoggerTest, AnIdleLogIsClosedAndTheNextEntryReopensIt) {
  LoggerOptions quick = options();
  quick.timings.messageWaitMs = 20;
  auto logger = makeLogger("Trace.log", 2, 10, 5, quick);
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(2, "before the pause");
  EXPECT_TRUE(isOpenInThisProcess(path("Trace_1.log")));
  // Two empty waits close the file.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (isOpenInThisProcess(path("Trace_1.log")) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_FALSE(isOpenInThisProcess(path("Trace_1.log")));
  logger->stopLogging();

  const std::string content = read(path("Trace_1.log"));
  EXPECT_EQ(content.find("stopLogging: called"), std::string::npos) << "direct lines need an open file";
  EXPECT_NE(content.find("\tINFO \tstopLogging()\n"), std::string::npos) << "the queued entry reopens it";
  EXPECT_NE(content.find("before the pause"), std::string::npos);
  EXPECT_NE(content.find("Logger Usage Information End"), std::string::npos);
  EXPECT_NE(content.find("Logging Ended"), std::string::npos);
}

TEST_F(LoggerTest, ADelayAfterATickWrapShowsZero) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  // An entry stamped later than its write: the tick counter wrapped between.
  LogBuffer* record = GenericLoggerTestAccess::pool(*logger).get();
  std::snprintf(record->timeStamp, sizeof record->timeStamp, "2026-12-08 20:41:57.123");
  std::snprintf(record->levelName, sizeof record->levelName, "INFO ");
  std::snprintf(record->text, sizeof record->text, "stamped in the future\n");
  record->tickCount = osTickCount() + 100000;
  GenericLoggerTestAccess::enqueue(*logger, record);
  logger->stopLogging();
  EXPECT_NE(read(path("Trace_1.log")).find("2026-12-08 20:41:57.123 0   \tINFO \tstamped in the future\n"),
            std::string::npos);
}

}  // namespace
