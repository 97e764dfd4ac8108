// The symbolic stack trace of a fault report.
//
// The walk starts at the faulting instruction, from the register context
// the system handed to the fault handler, and must never fault itself: it
// reads the stack through process_memory.h.
//
// POSIX (stack_trace_posix.cpp): elfutils' libdwfl follows the call frame
// information (.eh_frame) of every module and reads full symbol tables, not
// only exported names, from the process's own mappings.
// Windows (stack_trace_windows.cpp): the image-help library's StackWalk and
// symbol services, as the system's own debuggers use them.
#pragma once

#include <cstddef>

#include "platform/fault/fault_context.h"
#include "platform/fault/report_text.h"

// The report stops listing frames once the text passes this position.
constexpr size_t kStackTraceRoomLimit = 4975;

// Appends one line per frame to the text, then "No more room for trace\n"
// when the frames filled it. strayCall: the fault is the fetch of an
// instruction at an address without code (a call through a bad pointer), so
// the caller's frame is found from the return address on the stack. nameArea
// is scratch room for symbol names. Returns false, writing nothing, when the
// modules of the process cannot be read.
bool appendStackTrace(const FaultContext& context, bool strayCall, ReportText& text, char* nameArea,
                      size_t nameAreaSize);

// Turns the context of a call into nowhere into that of its caller just after
// the call: pops the return address into the instruction pointer. False when
// the stack cannot be read.
bool stepOutOfStrayCall(FaultContext& context);
