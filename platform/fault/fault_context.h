// The machine state of a faulting thread, as the system hands it to the
// fault handler: a signal's ucontext_t on POSIX, the exception's CONTEXT
// record on Windows. The fault report reads it through these functions.
#pragma once

#include <cstdint>

#include "platform/fault/report_text.h"

#if defined(_WIN32)
#include <windows.h>
using FaultContext = CONTEXT;
#else
#include <ucontext.h>
using FaultContext = ucontext_t;
#endif

// The address of the faulting instruction.
uintptr_t faultInstructionAddress(const FaultContext& context);
// Text of an address as the report writes it: as wide as the machine's addresses.
void appendFaultAddress(uintptr_t address, ReportText& text);
// The general registers, one tab-indented line per four registers.
void appendFaultRegisters(const FaultContext& context, ReportText& text);
