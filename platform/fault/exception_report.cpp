#include "platform/fault/exception_report.h"

#include <cstdint>
#include <cstdio>

#include "platform/fault/process_memory.h"
#include "platform/fault/report_text.h"
#include "platform/fault/stack_trace.h"
#include "platform/os/os_file.h"
#include "platform/os/os_thread.h"
#include "platform/os/os_time.h"
#include "platform/paths.h"

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

}  // namespace

std::string exceptionReportPath() {
  char name[64];
  std::snprintf(name, sizeof name, "c:\\GLLExceptions_0x%08x.txt", osThreadSelf(nullptr));
  return zem::nativePath(name);
}

void formatExceptionReport(const char* faultName, const FaultContext& context, bool strayCall, char* textArea,
                           char* nameArea, size_t nameAreaSize) {
  ReportText text(textArea, kExceptionReportTextSize);
  const uintptr_t address = faultInstructionAddress(context);
  text.append("%s at ", faultName);
  appendFaultAddress(address, text);
  text.append(":");
  appendInstructionBytes(address, text);
  text.append("\n");
  appendFaultRegisters(context, text);
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
