// The plain-text report of a fault, appended to a file per thread.
//
// The file is "c:\GLLExceptions_0x%08x.txt" with the thread's id, mapped to
// this machine by zem::nativePath (so it lands in the data root on POSIX
// systems, and on drive C on Windows). One report:
//
//   ************************* Exception Information Start *************************
//   Exception Timestamp : 2026-12-08 20:41:57.123
//   Thread Id           : 4242 (0x00001092)
//   <report text>
//   ************************** Exception Information End **************************
//
// The report text names the fault and its address, shows the twelve bytes of
// code there (or " Invalid Address"), the general registers and the stack
// trace.
#pragma once

#include <cstddef>
#include <string>

#include "platform/fault/fault_context.h"

// Size of the report text area, terminator included.
constexpr size_t kExceptionReportTextSize = 5000;

// The report file of the calling thread.
std::string exceptionReportPath();

// Fills the text area (kExceptionReportTextSize bytes) with the report text
// of the fault in `context`; strayCall as for appendStackTrace
// (stack_trace.h); nameArea is scratch room for symbol names.
void formatExceptionReport(const char* faultName, const FaultContext& context, bool strayCall, char* textArea,
                           char* nameArea, size_t nameAreaSize);

// Appends one report with the given text to the calling thread's file. When
// the file cannot be opened or closed, one line says so on standard output.
void writeExceptionReport(const char* text);
