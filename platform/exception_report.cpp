#include "platform/exception_report.h"

#include <cstdint>
#include <cstdio>

#include "platform/os_file.h"
#include "platform/os_thread.h"
#include "platform/os_time.h"
#include "platform/paths.h"
#include "platform/process_memory.h"
#include "platform/report_text.h"
#include "platform/stack_trace.h"

namespace {

constexpr int kInstructionBytesShown = 12;

void appendInstructionBytes(uintptr_t address, ReportText& text) {
  for (int i = 0; i < kInstructionBytesShown; ++i) {
    unsigned char byte = 0;
    if (!readProcessMemory(address + i, &byte, 1)) {
      text.append(" Invalid Address");
      return;
    }
    text.append(" %02x", byte);
  }
}

void appendRegisters(const ucontext_t& context, ReportText& text) {
  const greg_t* r = context.uc_mcontext.gregs;
  const auto value = [r](int index) { return static_cast<unsigned long long>(r[index]); };
  text.append("\tRax:%016llx Rbx:%016llx Rcx:%016llx Rdx:%016llx\n", value(REG_RAX), value(REG_RBX), value(REG_RCX),
              value(REG_RDX));
  text.append("\tRsi:%016llx Rdi:%016llx Rsp:%016llx Rbp:%016llx\n", value(REG_RSI), value(REG_RDI), value(REG_RSP),
              value(REG_RBP));
  text.append("\tR8 :%016llx R9 :%016llx R10:%016llx R11:%016llx\n", value(REG_R8), value(REG_R9), value(REG_R10),
              value(REG_R11));
  text.append("\tR12:%016llx R13:%016llx R14:%016llx R15:%016llx\n", value(REG_R12), value(REG_R13), value(REG_R14),
              value(REG_R15));
  text.append("\tRip:%016llx Flags:%08llx\n", value(REG_RIP), value(REG_EFL));
}

}  // namespace

std::string exceptionReportPath() {
  char name[64];
  std::snprintf(name, sizeof name, "c:\\GLLExceptions_0x%08x.txt", osThreadSelf(nullptr));
  return zem::nativePath(name);
}

void formatExceptionReport(const char* faultName, const ucontext_t& context, bool strayCall, char* textArea,
                           char* nameArea, size_t nameAreaSize) {
  ReportText text(textArea, kExceptionReportTextSize);
  const uintptr_t address = static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_RIP]);
  text.append("%s at %016lx:", faultName, static_cast<unsigned long>(address));
  appendInstructionBytes(address, text);
  text.append("\n");
  appendRegisters(context, text);
  text.append("Stack Trace:\n");
  appendStackTrace(context, strayCall, text, nameArea, nameAreaSize);
}

void writeExceptionReport(const char* text) {
  const std::string path = exceptionReportPath();
  // The drive root always exists where these paths come from; the data root may not yet.
  osDirectoryCreateTree(zem::dataRoot().c_str());
  FILE* file = std::fopen(path.c_str(), "a+");
  if (file == nullptr) {
    std::printf("Couldn't open %s\n", path.c_str());
    return;
  }
  char timeStamp[OS_LOCAL_TIME_STRING_SIZE];
  osLocalTimeString(timeStamp, sizeof timeStamp);
  const OsThreadId threadId = osThreadSelf(nullptr);
  std::fprintf(file, "************************* Exception Information Start *************************\n");
  std::fprintf(file, "Exception Timestamp : %s\n", timeStamp);
  std::fprintf(file, "Thread Id           : %d (0x%08x)\n", static_cast<int>(threadId), threadId);
  std::fprintf(file, "%s\n", text);
  std::fprintf(file, "************************** Exception Information End **************************\n\n");
  if (std::fclose(file) != 0) std::printf("Couldn't close %s\n", path.c_str());
}
