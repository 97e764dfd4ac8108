// Hardware faults on threads with and without the exception translator, and
// the report files they leave.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/fault/exception_translator.h"
#include "platform/fault/gll_se_exception.h"
#include "fault_run.h"
#include "platform/os/os.h"
#include "support/stdout_capture.h"
#include "support/temp_root.h"

namespace {

using namespace fault_run;
using zem::test::TempRoot;

// ---- Faults beyond those of fault_run.h: a call to an unmapped address and
// a stack overflow.

using Procedure = int (*)();
Procedure volatile strayTarget = reinterpret_cast<Procedure>(0x10);

__attribute__((noinline)) void callUnmapped() { sink = strayTarget(); }

int recurse(int depth);
int (*volatile recurseNext)(int) = recurse;
__attribute__((noinline)) int recurse(int depth) {
  volatile char frame[200];
  frame[0] = static_cast<char>(depth);
  return recurseNext(depth + 1) + frame[0];
}

std::string reportFile(const TempRoot& root, OsThreadId threadId) {
  char name[64];
  std::snprintf(name, sizeof name, "/GLLExceptions_0x%08x.txt", threadId);
  return root.path() + name;
}

// The report texts of a file, checking the frame around each.
std::vector<std::string> readReports(const std::string& path, OsThreadId threadId) {
  std::ifstream in(path);
  const std::string content(std::istreambuf_iterator<char>(in), {});
  const std::string start = "************************* Exception Information Start *************************\n";
  const std::string end = "\n************************** Exception Information End **************************\n\n";
  char threadLine[80];
  std::snprintf(threadLine, sizeof threadLine, "Thread Id           : %d \\(0x%08x\\)\n", static_cast<int>(threadId),
                threadId);
  const std::regex header("Exception Timestamp : \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\n" +
                          std::string(threadLine));
  std::vector<std::string> reports;
  size_t at = 0;
  while (at < content.size()) {
    EXPECT_EQ(content.compare(at, start.size(), start), 0) << "report start at " << at;
    at += start.size();
    const size_t headerEnd = content.find('\n', content.find('\n', at) + 1) + 1;
    EXPECT_TRUE(std::regex_match(content.substr(at, headerEnd - at), header)) << content.substr(at, headerEnd - at);
    const size_t close = content.find(end, headerEnd);
    if (close == std::string::npos) {
      ADD_FAILURE() << "report without its end banner";
      break;
    }
    reports.push_back(content.substr(headerEnd, close - headerEnd));
    at = close + end.size();
  }
  return reports;
}

// Checks the first line: the name, " at " and the address, then twelve
// bytes of code that match the memory there.
void expectFaultLine(const std::string& report, const std::string& name) {
  std::smatch match;
  const std::regex firstLine("^" + name + " at ([0-9a-f]{16}):((?: [0-9a-f]{2}){12})\n");
  ASSERT_TRUE(std::regex_search(report, match, firstLine)) << report.substr(0, 200);
  const auto* code = reinterpret_cast<const unsigned char*>(std::stoull(match[1].str(), nullptr, 16));
  char expected[64] = "";
  for (int i = 0; i < 12; ++i) std::snprintf(expected + 3 * i, 4, " %02x", code[i]);
  EXPECT_EQ(match[2].str(), expected);
}

void expectRegistersAndTrace(const std::string& report) {
  EXPECT_TRUE(std::regex_search(report, std::regex("\n\tRax:[0-9a-f]{16} Rbx:[0-9a-f]{16} Rcx:[0-9a-f]{16} "
                                                   "Rdx:[0-9a-f]{16}\n\tRsi:[0-9a-f]{16} Rdi:[0-9a-f]{16} "
                                                   "Rsp:[0-9a-f]{16} Rbp:[0-9a-f]{16}\n")))
      << report;
  EXPECT_NE(report.find("\nStack Trace:\n"), std::string::npos);
}

// ---- Tests

TEST(ExceptionTranslator, ReadOfAddressZeroIsAnAccessViolation) {
  TempRoot root;
  bool cleanedUp = false;
  const FaultRun run = runFaults({[&] {
    SetOnDestroy guard{cleanedUp};
    readAddressZero();
  }});
  ASSERT_TRUE(run.installed);
  ASSERT_EQ(run.outcomes.size(), 1u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Translated);
  EXPECT_EQ(run.outcomes[0].code, 0xC0000005u);
  EXPECT_EQ(run.outcomes[0].description, "Access Violation");
  EXPECT_TRUE(cleanedUp) << "destructors between the fault and the catch run";

  const std::vector<std::string> reports = readReports(reportFile(root, run.threadId), run.threadId);
  ASSERT_EQ(reports.size(), 1u);
  expectFaultLine(reports[0], "Access Violation");
  expectRegistersAndTrace(reports[0]);
  // The faulting function and the thread's own entry, by module and symbol.
  EXPECT_TRUE(std::regex_search(reports[0], std::regex("\n[0-9a-f]{16}: fault_tests .*readAddressZero\\(\\) \\+ "
                                                       "0x[0-9a-f]+\n")))
      << reports[0];
  EXPECT_TRUE(std::regex_search(reports[0], std::regex("\n[0-9a-f]{16}: fault_tests .*faultThread\\(\\) \\+ 0x")));
}

TEST(ExceptionTranslator, DivisionByZeroAndASecondFaultAppendToTheSameFile) {
  TempRoot root;
  const FaultRun run = runFaults({[] { divideByZero(); }, [] { readAddressZero(); }});
  ASSERT_EQ(run.outcomes.size(), 2u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Translated);
  EXPECT_EQ(run.outcomes[0].code, 0xC0000094u);
  EXPECT_EQ(run.outcomes[0].description, "Int Divide By Zero");
  EXPECT_EQ(run.outcomes[1].code, 0xC0000005u);

  const std::vector<std::string> reports = readReports(reportFile(root, run.threadId), run.threadId);
  ASSERT_EQ(reports.size(), 2u);
  expectFaultLine(reports[0], "Int Divide By Zero");
  EXPECT_NE(reports[0].find("divideByZero() + 0x"), std::string::npos) << reports[0];
  expectFaultLine(reports[1], "Access Violation");
}

TEST(ExceptionTranslator, AJumpToAnUnmappedAddressShowsInvalidAddress) {
  TempRoot root;
  const FaultRun run = runFaults({[] { callUnmapped(); }});
  ASSERT_EQ(run.outcomes.size(), 1u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Translated);
  EXPECT_EQ(run.outcomes[0].code, 0xC0000005u);

  const std::vector<std::string> reports = readReports(reportFile(root, run.threadId), run.threadId);
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("Access Violation at 0000000000000010: Invalid Address\n", 0), 0u) << reports[0];
  expectRegistersAndTrace(reports[0]);
  // The stray address has no module, so its caller follows on the same line.
  EXPECT_TRUE(std::regex_search(reports[0], std::regex("\n0000000000000010:[0-9a-f]{16}: fault_tests "
                                                       ".*callUnmapped\\(\\) \\+ 0x")))
      << reports[0];
}

TEST(ExceptionTranslator, StackOverflowIsReportedUntilTheTraceIsFull) {
  TempRoot root;
  const FaultRun run = runFaults({[] { recurse(0); }, [] { recurse(0); }});
  ASSERT_EQ(run.outcomes.size(), 2u);
  for (const Outcome& outcome : run.outcomes) {
    EXPECT_EQ(outcome.kind, Outcome::Translated);
    EXPECT_EQ(outcome.code, 0xC00000FDu);
    EXPECT_EQ(outcome.description, "Stack Overflow");
  }

  const std::vector<std::string> reports = readReports(reportFile(root, run.threadId), run.threadId);
  ASSERT_EQ(reports.size(), 2u) << "the thread's stack is usable again after an overflow";
  for (const std::string& report : reports) {
    expectFaultLine(report, "Stack Overflow");
    const std::string marker = "No more room for trace\n";
    ASSERT_GE(report.size(), marker.size());
    EXPECT_EQ(report.substr(report.size() - marker.size()), marker);
    EXPECT_LT(report.size(), 5000u);
    size_t frames = 0;
    for (size_t at = report.find("recurse() + 0x"); at != std::string::npos; at = report.find("recurse() + 0x", at + 1)) {
      ++frames;
    }
    EXPECT_GT(frames, 20u) << report;
  }
}

TEST(ExceptionTranslator, InstallingTwiceChangesNothing) {
  TempRoot root;
  const FaultRun run = runFaults({[] { EXPECT_TRUE(installExceptionTranslator()); }, [] { readAddressZero(); }});
  ASSERT_EQ(run.outcomes.size(), 2u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Nothing);
  EXPECT_EQ(run.outcomes[1].kind, Outcome::Translated);
  EXPECT_EQ(readReports(reportFile(root, run.threadId), run.threadId).size(), 1u);
  EXPECT_FALSE(isExceptionTranslatorInstalled()) << "the test's own thread installed nothing";
}

TEST(ExceptionTranslator, AnUnwritableReportIsNamedOnStandardOutputAndTheFaultStillThrown) {
  TempRoot root;
  setenv("ZEMLINK_ROOT", "/proc/zemlink-cannot-exist", 1);
  FaultRun run;
  const std::string printed = zem::test::capturedStdout([&] { run = runFaults({[] { readAddressZero(); }}); });
  setenv("ZEMLINK_ROOT", root.path().c_str(), 1);
  ASSERT_EQ(run.outcomes.size(), 1u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Translated);
  char expected[128];
  std::snprintf(expected, sizeof expected, "Couldn't open /proc/zemlink-cannot-exist/GLLExceptions_0x%08x.txt\n",
                run.threadId);
  EXPECT_EQ(printed, expected);
}

TEST(ExceptionName, NamesKnownCodesAndFormatsOthers) {
  const struct {
    uint32_t code;
    const char* name;
  } cases[] = {
      {0xC0000005, "Access Violation"},  {0xC0000094, "Int Divide By Zero"},
      {0xC00000FD, "Stack Overflow"},    {0xC000008E, "Flt Divide By ZERO"},
      {0x80000003, "Breakpoint"},        {0xC000001D, "Illegal Instruction"},
      {0xE0000001, "Exception (-536870911, 0xe0000001) not known"},
      {0x00000007, "Exception (7, 0x7) not known"},
  };
  for (const auto& c : cases) EXPECT_STREQ(exceptionName(c.code), c.name) << std::hex << c.code;

  GLL_SE_Exception exception(0xC0000005);
  EXPECT_EQ(exception.description, nullptr);
  EXPECT_FALSE(exception.setDescription(nullptr));
  EXPECT_TRUE(exception.setDescription("Access Violation"));
}

class ExceptionTranslatorDeathTest : public testing::Test {
 protected:
  // A fresh process per death test, so that what earlier tests installed
  // does not carry over.
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ExceptionTranslatorDeathTest, AThreadWithoutTheTranslatorFaultsAsItWouldWithoutTheLibrary) {
  const auto faultOnPlainThread = [] {
    installExceptionTranslator();  // the process-wide handlers are in place
    std::thread([] {
      try {
        readAddressZero();
      } catch (...) {
        std::_Exit(3);  // a translated fault would land here
      }
    }).join();
    std::_Exit(0);
  };
#if defined(__SANITIZE_ADDRESS__)
  // Without the library, the address sanitizer's own handler reports the fault.
  EXPECT_EXIT(faultOnPlainThread(), testing::ExitedWithCode(1), "AddressSanitizer: SEGV");
#else
  EXPECT_EXIT(faultOnPlainThread(), testing::KilledBySignal(SIGSEGV), "");
#endif
}

volatile sig_atomic_t earlierHandlerCalls = 0;
void earlierHandler(int) { earlierHandlerCalls = earlierHandlerCalls + 1; }

TEST_F(ExceptionTranslatorDeathTest, ASentSignalGoesToTheEarlierHandler) {
  const auto sendTrapToTranslatorThread = [] {
    struct sigaction action{};
    action.sa_handler = earlierHandler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTRAP, &action, nullptr);
    if (!installExceptionTranslator()) std::_Exit(4);
    try {
      pthread_kill(pthread_self(), SIGTRAP);
    } catch (...) {
      std::_Exit(3);
    }
    std::_Exit(earlierHandlerCalls == 1 ? 0 : 5);
  };
  EXPECT_EXIT(sendTrapToTranslatorThread(), testing::ExitedWithCode(0), "");
}

}  // namespace
