#include "platform/fault/exception_translator.h"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <type_traits>

#include "platform/fault/exception_report.h"
#include "platform/fault/gll_se_exception.h"
#include "platform/fault/stack_trace.h"

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP};

// Working memory of one report: symbol names first, the report text after.
constexpr size_t kSymbolAreaSize = 10000;
constexpr size_t kWorkingBlockSize = kSymbolAreaSize + kExceptionReportTextSize;

// Room for the handler: building the report (walking the stack, reading
// symbol tables) and throwing happen on this stack.
constexpr size_t kAlternateStackSize = 256 * 1024;
// A fault this far below the lowest usable stack address still counts as a
// stack overflow: a large frame can step over the guard page.
constexpr uintptr_t kOverflowSlack = 64 * 1024;

// Set while a report is being built; a fault meanwhile is thrown bare.
std::atomic<uint32_t> reportBusy{0};

struct sigaction previousActions[NSIG];
bool handlersInstalled = false;
std::once_flag handlersOnce;

// What the handler needs of the faulting thread. Plain data with constant
// initialisation, so that reading it in the handler costs nothing.
struct TranslatorState {
  bool installed;
  uintptr_t stackLow;   // lowest usable address of the thread's stack
  uintptr_t guardSize;
};
thread_local TranslatorState translatorState = {false, 0, 0};

// The thread's alternate signal stack; release() puts back the one that was
// there before (a sanitizer may have its own). Plain data without a
// destructor: a thread-local object with one would keep an unloaded library
// mapped for as long as the thread lives.
class AlternateStack {
 public:
  bool install() {
    if (mapping_ != nullptr) return true;
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    void* mapping = mmap(nullptr, kAlternateStackSize + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                         -1, 0);
    if (mapping == MAP_FAILED) return false;
    mprotect(mapping, page, PROT_NONE);  // guard page below the stack
    stack_t stack{};
    stack.ss_sp = static_cast<char*>(mapping) + page;
    stack.ss_size = kAlternateStackSize;
    if (sigaltstack(&stack, &previous_) != 0) {
      munmap(mapping, kAlternateStackSize + page);
      return false;
    }
    mapping_ = mapping;
    mappingSize_ = kAlternateStackSize + page;
    return true;
  }
  void release() {
    if (mapping_ == nullptr) return;
    if (previous_.ss_flags & SS_DISABLE) {
      stack_t disabled{};
      disabled.ss_flags = SS_DISABLE;
      sigaltstack(&disabled, nullptr);
    } else {
      sigaltstack(&previous_, nullptr);
    }
    munmap(mapping_, mappingSize_);
    mapping_ = nullptr;
    mappingSize_ = 0;
  }

 private:
  void* mapping_ = nullptr;
  size_t mappingSize_ = 0;
  stack_t previous_{};
};
static_assert(std::is_trivially_destructible_v<AlternateStack>);
thread_local AlternateStack alternateStack;

bool raisedByInstruction(const siginfo_t& info) {
  // Kernel-generated signals carry a positive code; kill(), tgkill() and
  // sigqueue() give zero or a negative one.
  return info.si_code > 0;
}

bool isStackOverflow(const siginfo_t& info) {
  const TranslatorState& state = translatorState;
  if (state.stackLow == 0) return false;
  const uintptr_t address = reinterpret_cast<uintptr_t>(info.si_addr);
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  return address + kOverflowSlack >= state.stackLow && address < state.stackLow + state.guardSize + page;
}

uint32_t faultCode(int signal, const siginfo_t& info) {
  switch (signal) {
    case SIGSEGV:
      return isStackOverflow(info) ? GLL_SE_STACK_OVERFLOW : GLL_SE_ACCESS_VIOLATION;
    case SIGBUS:
      return info.si_code == BUS_ADRALN ? GLL_SE_DATATYPE_MISALIGNMENT : GLL_SE_IN_PAGE_ERROR;
    case SIGFPE:
      switch (info.si_code) {
        case FPE_INTDIV: return GLL_SE_INT_DIVIDE_BY_ZERO;
        case FPE_INTOVF: return GLL_SE_INT_OVERFLOW;
        case FPE_FLTDIV: return GLL_SE_FLT_DIVIDE_BY_ZERO;
        case FPE_FLTOVF: return GLL_SE_FLT_OVERFLOW;
        case FPE_FLTUND: return GLL_SE_FLT_UNDERFLOW;
        case FPE_FLTRES: return GLL_SE_FLT_INEXACT_RESULT;
        case FPE_FLTSUB: return GLL_SE_ARRAY_BOUNDS_EXCEEDED;
        default: return GLL_SE_FLT_INVALID_OPERATION;
      }
    case SIGILL:
      return info.si_code == ILL_PRVOPC || info.si_code == ILL_PRVREG ? GLL_SE_PRIV_INSTRUCTION
                                                                      : GLL_SE_ILLEGAL_INSTRUCTION;
    case SIGTRAP:
    default:
      return info.si_code == TRAP_TRACE ? GLL_SE_SINGLE_STEP : GLL_SE_BREAKPOINT;
  }
}

// The signal is not ours to translate: do what would have happened without us.
void passOn(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = previousActions[signal];
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction != nullptr) previous.sa_sigaction(signal, info, context);
    return;
  }
  if (previous.sa_handler == SIG_IGN && !raisedByInstruction(*info)) return;
  if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
    return;
  }
  // The default action (a fault cannot be ignored either). A faulting
  // instruction runs again on return and meets it; a trap has already
  // completed, and a sent signal has no instruction, so raise it again.
  struct sigaction fallback{};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
  if (!raisedByInstruction(*info) || signal == SIGTRAP) raise(signal);
}

// Fetching the instruction itself faulted: a call (or jump) through a bad
// pointer, to an address without code.
bool isStrayCall(int signal, const siginfo_t& info, const ucontext_t& context) {
  return signal == SIGSEGV && info.si_addr == reinterpret_cast<void*>(context.uc_mcontext.gregs[REG_RIP]);
}

// Nothing can unwind from an address without code, the exception included:
// make the fault look as if the call had returned and faulted on its last
// byte, so that the throw starts in the caller.
void throwFromCaller(ucontext_t& context) {
  if (stepOutOfStrayCall(context)) context.uc_mcontext.gregs[REG_RIP] -= 1;
}

void translateFault(int signal, siginfo_t* info, void* rawContext) {
  if (!translatorState.installed || !raisedByInstruction(*info)) {
    passOn(signal, info, rawContext);
    return;
  }
  ucontext_t& context = *static_cast<ucontext_t*>(rawContext);
  const uint32_t code = faultCode(signal, *info);
  const bool strayCall = isStrayCall(signal, *info, context);
  if (reportBusy.exchange(1) != 0) {
    if (strayCall) throwFromCaller(context);
    throw code;
  }

  GLL_SE_Exception* exception = new (std::nothrow) GLL_SE_Exception(code);
  char* block = exception != nullptr ? static_cast<char*>(std::malloc(kWorkingBlockSize)) : nullptr;
  if (block != nullptr) {
    exception->setDescription(exceptionName(code));
    char* textArea = block + kSymbolAreaSize;
    formatExceptionReport(exception->description, context, strayCall, textArea, block, kSymbolAreaSize);
    textArea[kExceptionReportTextSize - 1] = '\0';
    writeExceptionReport(textArea);
    std::free(block);
  } else if (exception != nullptr) {
    exception->setDescription(exceptionName(code));  // no memory for a report; the exception still goes
  }
  reportBusy = 0;
  if (strayCall) throwFromCaller(context);
  if (exception == nullptr) throw code;
  throw exception;
}

void installHandlers() {
  struct sigaction action{};
  action.sa_sigaction = translateFault;
  // On the alternate stack, so a stack overflow can be handled; not deferred,
  // because the handler is left by an exception and never unblocks by itself.
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  sigemptyset(&action.sa_mask);
  for (int signal : kFaultSignals) {
    if (sigaction(signal, &action, &previousActions[signal]) != 0) return;
  }
  handlersInstalled = true;
}

void recordStackBounds(TranslatorState& state) {
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return;
  void* low = nullptr;
  size_t size = 0;
  size_t guard = 0;
  if (pthread_attr_getstack(&attributes, &low, &size) == 0) state.stackLow = reinterpret_cast<uintptr_t>(low);
  if (pthread_attr_getguardsize(&attributes, &guard) == 0) state.guardSize = guard;
  pthread_attr_destroy(&attributes);
}

}  // namespace

bool installExceptionTranslator() {
  std::call_once(handlersOnce, installHandlers);
  if (!handlersInstalled) return false;
  if (translatorState.installed) return true;
  if (!alternateStack.install()) return false;
  recordStackBounds(translatorState);
  translatorState.installed = true;
  return true;
}

void removeExceptionTranslator() {
  translatorState.installed = false;
  alternateStack.release();
}

bool isExceptionTranslatorInstalled() { return translatorState.installed; }
