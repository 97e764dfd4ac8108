#include "platform/fault/exception_translator.h"

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>

#include "platform/fault/exception_report.h"
#include "platform/fault/gll_se_exception.h"
#include "platform/fault/stack_trace.h"

// A vectored exception handler sees every exception of the process first.
// On a thread that installed the translator it writes the report and then
// sends the faulting thread, as if the faulting instruction had called it,
// into a function that throws: the thread's own handlers and the
// destructors on the way are reached by the ordinary C++ unwinder.

namespace {

// Working memory of one report: symbol names first, the report text after.
constexpr size_t kSymbolAreaSize = 10000;
constexpr size_t kWorkingBlockSize = kSymbolAreaSize + kExceptionReportTextSize;

// The compiler runtimes' own exceptions (C++ throws of GCC's and Microsoft's
// runtimes) and the debugger's notices are not faults.
constexpr DWORD kGccException = 0x20474343;
constexpr DWORD kMsvcException = 0xE06D7363;
constexpr DWORD kSetThreadName = 0x406D1388;

// Set while a report is being built; a fault meanwhile is thrown bare.
std::atomic<uint32_t> reportBusy{0};

std::once_flag handlerOnce;
void* handler = nullptr;

// What the faulting thread throws once it runs again.
struct PendingFault {
  bool installed;
  bool bare;
  uint32_t code;
  GLL_SE_Exception* exception;
};
thread_local PendingFault pending = {false, false, 0, nullptr};

}  // namespace

// Where a faulting thread resumes: throws what the handler left for it.
extern "C" [[noreturn]] __attribute__((noinline, used)) void zemlinkThrowPendingFault() {
  if (pending.bare || pending.exception == nullptr) throw static_cast<unsigned int>(pending.code);
  GLL_SE_Exception* exception = pending.exception;
  pending.exception = nullptr;
  throw exception;
}

#if defined(__x86_64__)
// On x64 the system unwinds by the unwind codes of each function and wants
// the stack 16-byte aligned with 32 bytes of home space at every call. The
// faulting instruction may leave it either way aligned, so the thread
// resumes inside one of two small frames of 40 or 48 bytes, each described
// by its own unwind codes, which then call the throwing function. The
// return address below the frame leads the unwinder back to the faulting
// function.
extern "C" void zemlinkFaultFrame40Entry();
extern "C" void zemlinkFaultFrame48Entry();
asm(R"(
    .text
    .def zemlinkFaultFrame40; .scl 3; .type 32; .endef
    .seh_proc zemlinkFaultFrame40
zemlinkFaultFrame40:
    subq $40, %rsp
    .seh_stackalloc 40
    .seh_endprologue
    .globl zemlinkFaultFrame40Entry
zemlinkFaultFrame40Entry:
    call zemlinkThrowPendingFault
    nop
    .seh_endproc

    .def zemlinkFaultFrame48; .scl 3; .type 32; .endef
    .seh_proc zemlinkFaultFrame48
zemlinkFaultFrame48:
    subq $48, %rsp
    .seh_stackalloc 48
    .seh_endprologue
    .globl zemlinkFaultFrame48Entry
zemlinkFaultFrame48Entry:
    call zemlinkThrowPendingFault
    nop
    .seh_endproc
)");
#endif

namespace {

bool isFault(DWORD code) {
  // Errors and warnings by the system's severity bits; informational codes
  // and the runtimes' own exceptions go on to their handlers.
  return (code & 0x80000000u) != 0 && code != kMsvcException && code != kSetThreadName &&
         code != static_cast<DWORD>(DBG_PRINTEXCEPTION_C);
}

// Fetching the instruction itself faulted: a call through a bad pointer.
bool isStrayCall(const EXCEPTION_RECORD& record, const CONTEXT& context) {
  return record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION && record.NumberParameters >= 2 &&
         record.ExceptionInformation[0] == EXCEPTION_EXECUTE_FAULT &&
         record.ExceptionInformation[1] == faultInstructionAddress(context);
}

// Makes the faulting thread continue in zemlinkThrowPendingFault, with the
// faulting instruction as its caller. The return address points one byte
// past the instruction, since an unwinder looks up the byte before a return
// address; after a stray call the real return address of the call is used.
void redirectToThrow(CONTEXT& context, bool strayCall) {
  uintptr_t returnAddress = faultInstructionAddress(context) + 1;
  if (strayCall && stepOutOfStrayCall(context)) returnAddress = faultInstructionAddress(context);
#if defined(_M_IX86) || defined(__i386__)
  context.Esp -= sizeof(DWORD);
  *reinterpret_cast<DWORD*>(context.Esp) = static_cast<DWORD>(returnAddress);
  context.Eip = reinterpret_cast<DWORD>(&zemlinkThrowPendingFault);
#else
  context.Rsp -= sizeof(DWORD64);
  *reinterpret_cast<DWORD64*>(context.Rsp) = returnAddress;
  const bool aligned = context.Rsp % 16 == 0;
  context.Rsp -= aligned ? 48 : 40;
  context.Rip = reinterpret_cast<DWORD64>(aligned ? &zemlinkFaultFrame48Entry : &zemlinkFaultFrame40Entry);
#endif
}

LONG CALLBACK translateFault(EXCEPTION_POINTERS* pointers) {
  const EXCEPTION_RECORD& record = *pointers->ExceptionRecord;
  if (!pending.installed || !isFault(record.ExceptionCode) || record.ExceptionCode == kGccException) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  CONTEXT& context = *pointers->ContextRecord;
  const uint32_t code = record.ExceptionCode;
  const bool strayCall = isStrayCall(record, context);
  pending.code = code;
  pending.bare = reportBusy.exchange(1) != 0;
  if (pending.bare) {
    redirectToThrow(context, strayCall);
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  GLL_SE_Exception* exception = new (std::nothrow) GLL_SE_Exception(code);
  char* block = exception != nullptr ? static_cast<char*>(std::malloc(kWorkingBlockSize)) : nullptr;
  if (exception != nullptr) exception->setDescription(exceptionName(code));
  if (block != nullptr) {
    char* textArea = block + kSymbolAreaSize;
    formatExceptionReport(exception->description, context, strayCall, textArea, block, kSymbolAreaSize);
    textArea[kExceptionReportTextSize - 1] = '\0';
    writeExceptionReport(textArea);
    std::free(block);
  }
  reportBusy = 0;
  pending.exception = exception;
  pending.bare = exception == nullptr;
  redirectToThrow(context, strayCall);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

bool installExceptionTranslator() {
  std::call_once(handlerOnce, [] { handler = AddVectoredExceptionHandler(1, translateFault); });
  if (handler == nullptr) return false;
  pending.installed = true;
  return true;
}

void removeExceptionTranslator() { pending.installed = false; }

bool isExceptionTranslatorInstalled() { return pending.installed; }
