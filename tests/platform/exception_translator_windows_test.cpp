// Hardware faults under the Windows translator (a vectored exception
// handler): the exception the thread catches and the report it leaves in
// "c:\GLLExceptions_0x<thread id>.txt".
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "fault_run.h"
#include "platform/fault/exception_translator.h"
#include "platform/os/os.h"

namespace {

using namespace fault_run;

__attribute__((noinline)) void raiseUnknownCode() { RaiseException(0xE0000001, 0, 0, nullptr); }

std::string reportFile(OsThreadId threadId) {
  char name[64];
  std::snprintf(name, sizeof name, "c:\\GLLExceptions_0x%08x.txt", static_cast<unsigned>(threadId));
  return name;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);  // text mode: the report has the system's line ends
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Thread ids are reused: a file left by an earlier thread of the same id
// would add its reports.
void removeReportsOf(const FaultRun& run) { DeleteFileA(reportFile(run.threadId).c_str()); }

constexpr bool k32Bit = sizeof(void*) == 4;
const std::string kAddress = k32Bit ? "[0-9a-f]{8}" : "[0-9a-f]{16}";

TEST(ExceptionTranslatorWindows, ReadOfAddressZeroIsReportedAndCaughtByTheThread) {
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

  const std::string report = readFile(reportFile(run.threadId));
  removeReportsOf(run);
  char threadLine[80];
  std::snprintf(threadLine, sizeof threadLine, "Thread Id           : %d (0x%08x)\n", static_cast<int>(run.threadId),
                static_cast<unsigned>(run.threadId));
  EXPECT_EQ(report.rfind("************************* Exception Information Start *************************\n"
                         "Exception Timestamp : ",
                         0),
            0u)
      << report;
  EXPECT_NE(report.find(threadLine), std::string::npos) << report;
  EXPECT_TRUE(std::regex_search(report, std::regex("\nAccess Violation at " + kAddress + ":(?: [0-9a-f]{2}){12}\n")))
      << report;
  const std::string registers =
      k32Bit ? "\tEax:[0-9a-f]{8} Ebx:[0-9a-f]{8} Ecx:[0-9a-f]{8} Edx:[0-9a-f]{8}\n"
               "\tEsi:[0-9a-f]{8} Edi:[0-9a-f]{8} Esp:[0-9a-f]{8} Ebp:[0-9a-f]{8}\nStack Trace:\n"
             : "\tRax:[0-9a-f]{16} Rbx:[0-9a-f]{16} Rcx:[0-9a-f]{16} Rdx:[0-9a-f]{16}\n"
               "\tRsi:[0-9a-f]{16} Rdi:[0-9a-f]{16} Rsp:[0-9a-f]{16} Rbp:[0-9a-f]{16}\n";
  EXPECT_TRUE(std::regex_search(report, std::regex(registers))) << report;
  EXPECT_NE(report.find("\nStack Trace:\n"), std::string::npos) << report;
  // The faulting function by module and symbol, from the image-help library.
  EXPECT_TRUE(std::regex_search(report, std::regex("\n" + kAddress + ": \\S+ .*readAddressZero.*\\(\\) \\+ 0x[0-9a-f]+\n")))
      << report;
  EXPECT_NE(report.find("************************** Exception Information End **************************\n\n"),
            std::string::npos);
}

TEST(ExceptionTranslatorWindows, DivisionByZeroAndAnUnknownCodeAppendToTheSameFile) {
  const FaultRun run = runFaults({[] { divideByZero(); }, [] { raiseUnknownCode(); }});
  ASSERT_EQ(run.outcomes.size(), 2u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Translated);
  EXPECT_EQ(run.outcomes[0].code, 0xC0000094u);
  EXPECT_EQ(run.outcomes[0].description, "Int Divide By Zero");
  EXPECT_EQ(run.outcomes[1].kind, Outcome::Translated);
  EXPECT_EQ(run.outcomes[1].code, 0xE0000001u);
  EXPECT_EQ(run.outcomes[1].description, "Exception (-536870911, 0xe0000001) not known");

  const std::string report = readFile(reportFile(run.threadId));
  removeReportsOf(run);
  size_t reports = 0;
  for (size_t at = report.find("Exception Information Start"); at != std::string::npos;
       at = report.find("Exception Information Start", at + 1)) {
    ++reports;
  }
  EXPECT_EQ(reports, 2u) << report;
  EXPECT_NE(report.find("\nInt Divide By Zero at "), std::string::npos) << report;
  EXPECT_NE(report.find("\nException (-536870911, 0xe0000001) not known at "), std::string::npos) << report;
}

TEST(ExceptionTranslatorWindows, InstallingTwiceChangesNothing) {
  const FaultRun run = runFaults({[] { EXPECT_TRUE(installExceptionTranslator()); }, [] { readAddressZero(); }});
  ASSERT_EQ(run.outcomes.size(), 2u);
  EXPECT_EQ(run.outcomes[0].kind, Outcome::Nothing);
  EXPECT_EQ(run.outcomes[1].kind, Outcome::Translated);
  const std::string report = readFile(reportFile(run.threadId));
  removeReportsOf(run);
  EXPECT_EQ(report.find("Exception Information Start"), report.rfind("Exception Information Start")) << report;
  EXPECT_FALSE(isExceptionTranslatorInstalled()) << "the test's own thread installed nothing";
}

}  // namespace
