// The usage report and the settings dump, byte for byte.
#include <regex>

#include "logger_fixture.h"

namespace {

std::string delayBlock(const char* title, const char* underline, const char* countLine, unsigned calls) {
  std::string block = std::string("\n") + title + underline + countLine + std::to_string(calls) + "\n";
  const char* const buckets[] = {"Delay < 10ms          = ", "Delay 10 To 19ms      = ", "Delay 20 To 49ms      = ",
                                 "Delay 50 To 99ms      = ", "Delay 100 To 199ms    = ", "Delay 200 To 499ms    = ",
                                 "Delay 500 To 999ms    = ", "Delay 1000 To 1999ms  = ", "Delay 2000 To 4999ms  = ",
                                 "Delay 5000 To 9999ms  = ", "Delay >= 10000ms      = "};
  for (const char* bucket : buckets) block += std::string(bucket) + "0\n";
  return block + "maxLogMsgDelay        = 0 ms\nmaxLogMsgTimeStamp    = \n";
}

std::string reportOf(GenericLogger& logger) {
  FILE* stream = std::tmpfile();
  logger.writeUsageReport(stream);
  std::rewind(stream);
  std::string text;
  char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, stream)) > 0) text.append(chunk, n);
  std::fclose(stream);
  return text;
}

TEST_F(LoggerTest, UsageReportBeforeAnyMessage) {
  auto logger = makeLogger();
  std::string report = reportOf(*logger);
  report = std::regex_replace(report, std::regex("Time Taken To Log Usage Info : \\d+ ms\n"),
                              "Time Taken To Log Usage Info : N ms\n");

  std::string expected =
      "\n---------- Logger Usage Information Start ----------\n\n"
      "Message Counters\n----------------\n"
      "Logged Message Request Count     = 0\n"
      "Logged Raw Text Count            = 0\n"
      "Logged Messages Count            = 0\n"
      "Discarded/Lost Messages Count    = 0\n"
      "Replaced Messages Count          = 0\n"
      "Truncated Messages Count         = 0\n"
      "\n"
      "\nLog Buffer Pool Usage Stats\n---------------------------\n"
      "Pool not yet used ....... \n"
      "\nError Counters\n--------------\n"
      "No Errors encountered\n";
  expected += delayBlock("Log Message Delay Metrics -- Calling Thread\n", "-------------------------------------------\n",
                         "logMsgCallCnt         = ", 0);
  expected += delayBlock("Log Message To File Delay Metrics -- Logging Thread\n",
                         "---------------------------------------------------\n", "logMsgToFileCallCnt   = ", 0);
  expected += delayBlock("Log Raw Text Delay Metrics -- Calling Thread\n", "-------------------------------------------\n",
                         "logRawTextCallCnt     = ", 0);
  expected +=
      "\n********** GenericLogger Settings Start **********\n\n"
      "Logging Started     = NO\n"
      "Logging Mode        = CREATE_NEW\n"
      "Max Log File Size   = 10 Megs\n"
      "Max Number of Files = 5\n"
      "Current Log Level   = 2\n"
      "Log to stdio        = NO\n"
      "Log Caller ThreadId = NO\n"
      "Log Thread Name     = NO\n"
      "\nExternal Error Report Handler  = NO\n\n"
      "Log Levels\n----------\n"
      "0 ---- FATAL\n1 ---- WARN \n2 ---- INFO \n3 ---- DEBUG\n4 ---- TRACE\n5 ---- TRC_1\n6 ---- TRC_2\n7 ---- TRC_3\n"
      "\nLog Directories and Files\n-------------------------\n"
      "Log File Dir Name      = " + directory + "\n"
      "Log File Name          = " + path("Trace_1.log") + "\n"
      "Fatal Error File Name  = " + path("Trace_FatalError.log") + "\n"
      "\n*********** GenericLogger Settings End ***********\n\n"
      "Time Taken To Log Usage Info : N ms\n"
      "\n----------- Logger Usage Information End -----------\n\n";
  EXPECT_EQ(report, expected);
}

TEST_F(LoggerTest, UsageReportAfterSomeMessagesEndsTheLog) {
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->logMsg(0, "fatal one");
  logger->logMsg(1, "warning one");
  logger->logMsg(3, "filtered debug");
  // While running, the dump names the logging thread and its priority.
  const std::string running = reportOf(*logger);
  logger->stopLogging();

  EXPECT_TRUE(std::regex_search(running, std::regex("Logging Thread ID   = (\\d+) \\(0x[0-9a-f]+\\)\n"
                                                    "Log Thread Priority = -2\n")))
      << running;
  const std::string log = read(path("Trace_1.log"));
  const size_t start = log.find("\n---------- Logger Usage Information Start ----------\n");
  ASSERT_NE(start, std::string::npos);
  const std::string report = log.substr(start);
  for (const char* part : {
           "Logged Message Request Count     = 3\n",
           "Logged Messages Count            = 3\n",
           "Discarded/Lost Messages Count    = 0\n",
           "\nLevel Message Counters\n----------------------\n"
           "Level 0 [FATAL] Count = 1\nLevel 1 [WARN ] Count = 1\nLevel 2 [INFO ] Count = 1\n"
           "Level 3 [DEBUG] Count = 1\nLevel 4 [TRACE] Count = 0\nLevel 5 [TRC_1] Count = 0\n"
           "Level 6 [TRC_2] Count = 0\nLevel 7 [TRC_3] Count = 0\n",
           "Num in Pool          : 1500\nCurrently free       : 1500\nCurrently in use     : 0\n",
           "Get count            : 3\nFree count           : 3\n",
           "No Errors encountered\n",
           "logMsgCallCnt         = 3\n",
           "logMsgToFileCallCnt   = 3\n",
           "logRawTextCallCnt     = 0\n",
           "Logging Started     = NO\n",
       }) {
    EXPECT_NE(report.find(part), std::string::npos) << part;
  }
  EXPECT_TRUE(std::regex_search(report, std::regex("In use HI watermark  : [123]\n")));
  EXPECT_TRUE(std::regex_search(
      report, std::regex("----------- Logger Usage Information End -----------\n\n\\S+ \\S+\tINFO \t\\*{15} Logging Ended "
                         "\\*{15}\n$")));
}

TEST_F(LoggerTest, UsageReportListsOnlyTheErrorsThatHappened) {
  // A rotation over a gap in the numbers fails one move.
  std::filesystem::create_directories(directory);
  sparseFile(path("Trace_1.log"), 10 * 1048576);
  writeFile(path("Trace_3.log"), "three\n");
  auto logger = makeLogger();
  ASSERT_TRUE(logger->startLogging());
  logger->stopLogging();
  const std::string log = read(path("Trace_1.log"));
  const size_t errors = log.find("\nError Counters\n--------------\n");
  ASSERT_NE(errors, std::string::npos);
  const std::string expected =
      "\nError Counters\n--------------\nMove File Failure Count          = 1\n\nLog Message Delay Metrics";
  EXPECT_EQ(log.substr(errors, expected.size()), expected);
}

}  // namespace
