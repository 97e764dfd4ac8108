#include "platform/fault/stack_trace.h"

// windows.h first: dbghelp.h builds on it.
#include <windows.h>
#include <dbghelp.h>

#include <cstdint>
#include <cstring>

#include "platform/fault/process_memory.h"

namespace {

constexpr char kNoMoreRoom[] = "No more room for trace\n";
// Frame lines end before this position, so that the marker still fits.
constexpr size_t kFrameLimit = kStackTraceRoomLimit + 1;
constexpr int kLongestSymbolShown = 900;

#if defined(_M_IX86) || defined(__i386__)
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_I386;  // 332
// The walk follows the frame pointer chain, which ends with 0.
constexpr bool kFramePointerEndsWalk = true;
void startFrame(const CONTEXT& context, STACKFRAME64& frame) {
  frame.AddrPC.Offset = context.Eip;
  frame.AddrFrame.Offset = context.Ebp;
  frame.AddrStack.Offset = context.Esp;
}
#else
constexpr DWORD kMachine = IMAGE_FILE_MACHINE_AMD64;
// Frames are found from unwind codes; the frame pointer is any register.
constexpr bool kFramePointerEndsWalk = false;
void startFrame(const CONTEXT& context, STACKFRAME64& frame) {
  frame.AddrPC.Offset = context.Rip;
  frame.AddrFrame.Offset = context.Rbp;
  frame.AddrStack.Offset = context.Rsp;
}
#endif

// Appends the line of one frame; false once the text is full.
bool appendFrame(HANDLE process, DWORD64 pc, ReportText& text, char* nameArea, size_t nameAreaSize) {
  if (text.position() > kStackTraceRoomLimit) {
    text.append("%s", kNoMoreRoom);
    return false;
  }
  char line[1400];
  ReportText frameText(line, sizeof line);
  appendFaultAddress(static_cast<uintptr_t>(pc), frameText);
  frameText.append(":");

  const DWORD64 moduleBase = SymGetModuleBase64(process, pc);
  IMAGEHLP_MODULE64 module{};
  module.SizeOfStruct = sizeof module;
  if (moduleBase != 0 && SymGetModuleInfo64(process, pc, &module)) frameText.append(" %.255s", module.ModuleName);

  // The symbol record and its name share the symbol area of the working block.
  auto* symbol = reinterpret_cast<IMAGEHLP_SYMBOL64*>(nameArea);
  std::memset(symbol, 0, sizeof *symbol);
  symbol->SizeOfStruct = sizeof *symbol;
  symbol->MaxNameLength = static_cast<DWORD>(nameAreaSize - sizeof *symbol);
  DWORD64 displacement = 0;
  if (SymGetSymFromAddr64(process, pc, &displacement, symbol)) {
    frameText.append(" %.*s() + 0x%lx\n", kLongestSymbolShown, symbol->Name, static_cast<unsigned long>(displacement));
  } else if (moduleBase != 0) {
    frameText.append(": 0x%lx\n", static_cast<unsigned long>(pc - moduleBase));
  }
  // With neither module nor symbol the next frame goes on on the same line.
  text.appendClipped(line, kFrameLimit);
  return true;
}

}  // namespace

bool stepOutOfStrayCall(FaultContext& context) {
#if defined(_M_IX86) || defined(__i386__)
  DWORD returnAddress = 0;
  if (!readProcessMemory(context.Esp, &returnAddress, sizeof returnAddress)) return false;
  context.Eip = returnAddress;
  context.Esp += sizeof returnAddress;
#else
  DWORD64 returnAddress = 0;
  if (!readProcessMemory(context.Rsp, &returnAddress, sizeof returnAddress)) return false;
  context.Rip = returnAddress;
  context.Rsp += sizeof returnAddress;
#endif
  return true;
}

bool appendStackTrace(const FaultContext& context, bool strayCall, ReportText& text, char* nameArea,
                      size_t nameAreaSize) {
  const HANDLE process = GetCurrentProcess();
  SymSetOptions(SymGetOptions() | SYMOPT_UNDNAME | SYMOPT_DEFERRED_LOADS);
  if (!SymInitialize(process, nullptr, TRUE)) return false;

  // After a call into nowhere there is no unwind information for the
  // faulting address: list it, then walk on from the caller.
  CONTEXT walkContext = context;
  bool walkOn = true;
  if (strayCall) {
    walkOn = appendFrame(process, faultInstructionAddress(context), text, nameArea, nameAreaSize) &&
             stepOutOfStrayCall(walkContext);
  }
  STACKFRAME64 frame{};
  startFrame(walkContext, frame);
  frame.AddrPC.Mode = AddrModeFlat;
  frame.AddrFrame.Mode = AddrModeFlat;
  frame.AddrStack.Mode = AddrModeFlat;
  const HANDLE thread = GetCurrentThread();
  while (walkOn && StackWalk64(kMachine, process, thread, &frame, &walkContext, nullptr, SymFunctionTableAccess64,
                               SymGetModuleBase64, nullptr)) {
    if (frame.AddrPC.Offset == 0 || (kFramePointerEndsWalk && frame.AddrFrame.Offset == 0)) break;
    walkOn = appendFrame(process, frame.AddrPC.Offset, text, nameArea, nameAreaSize);
  }
  SymCleanup(process);
  return true;
}
