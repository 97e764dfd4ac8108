#include "platform/fault/stack_trace.h"

#include <cxxabi.h>
#include <elfutils/libdwfl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/fault/process_memory.h"

#if !defined(__x86_64__)
#error "The fault report's register context is written for x86-64."
#endif

namespace {

constexpr char kNoMoreRoom[] = "No more room for trace\n";
// Frame lines end before this position, so that the marker still fits.
constexpr size_t kFrameLimit = kStackTraceRoomLimit + 1;
constexpr int kLongestSymbolShown = 900;

struct Walk {
  Dwfl* dwfl = nullptr;
  const ucontext_t* context = nullptr;
  pid_t threadId = 0;
  bool threadListed = false;
  ReportText* text = nullptr;
  char* nameArea = nullptr;
  size_t nameAreaSize = 0;
};

// Separate debug files are not looked for: the report is written in the
// middle of a fault, and must not go searching the disk or the network.
int noSeparateDebugInfo(Dwfl_Module*, void**, const char*, Dwarf_Addr, const char*, const char*, GElf_Word,
                        char**) {
  return -1;
}

char* noDebugInfoPath = nullptr;
const Dwfl_Callbacks kModuleCallbacks = {
    dwfl_linux_proc_find_elf,
    noSeparateDebugInfo,
    nullptr,
    &noDebugInfoPath,
};

pid_t nextThread(Dwfl*, void* argument, void** threadArgument) {
  Walk* walk = static_cast<Walk*>(argument);
  if (walk->threadListed) return 0;
  walk->threadListed = true;
  *threadArgument = walk;
  return walk->threadId;
}

bool getThread(Dwfl*, pid_t threadId, void* argument, void** threadArgument) {
  Walk* walk = static_cast<Walk*>(argument);
  if (threadId != walk->threadId) return false;
  *threadArgument = walk;
  return true;
}

bool readWord(Dwfl*, Dwarf_Addr address, Dwarf_Word* result, void*) {
  return readProcessMemory(static_cast<uintptr_t>(address), result, sizeof *result);
}

bool setInitialRegisters(Dwfl_Thread* thread, void* threadArgument) {
  const greg_t* r = static_cast<Walk*>(threadArgument)->context->uc_mcontext.gregs;
  // DWARF numbering of x86-64: rax rdx rcx rbx rsi rdi rbp rsp r8..r15, then the return address.
  const Dwarf_Word registers[17] = {
      Dwarf_Word(r[REG_RAX]), Dwarf_Word(r[REG_RDX]), Dwarf_Word(r[REG_RCX]), Dwarf_Word(r[REG_RBX]),
      Dwarf_Word(r[REG_RSI]), Dwarf_Word(r[REG_RDI]), Dwarf_Word(r[REG_RBP]), Dwarf_Word(r[REG_RSP]),
      Dwarf_Word(r[REG_R8]),  Dwarf_Word(r[REG_R9]),  Dwarf_Word(r[REG_R10]), Dwarf_Word(r[REG_R11]),
      Dwarf_Word(r[REG_R12]), Dwarf_Word(r[REG_R13]), Dwarf_Word(r[REG_R14]), Dwarf_Word(r[REG_R15]),
      Dwarf_Word(r[REG_RIP]),
  };
  return dwfl_thread_state_registers(thread, 0, 17, registers);
}

const Dwfl_Thread_Callbacks kThreadCallbacks = {
    nextThread, getThread, readWord, setInitialRegisters, nullptr, nullptr,
};

const char* baseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// "ns::Type::run(int) const [clone .isra.0]" -> "ns::Type::run": the report
// adds its own "()"; the compiler's clone suffixes say nothing to a reader.
void dropParameterList(char* name) {
  for (char* clone = std::strstr(name, " [clone "); clone != nullptr; clone = std::strstr(name, " [clone ")) {
    *clone = '\0';
  }
  char* close = std::strrchr(name, ')');
  if (close == nullptr) return;
  for (const char* rest = close + 1; *rest != '\0'; ++rest) {
    if (std::strchr(" &abcdefghijklmnopqrstuvwxyz", *rest) == nullptr) return;
  }
  int depth = 0;
  for (char* at = close; at >= name; --at) {
    if (*at == ')') ++depth;
    if (*at == '(' && --depth == 0) {
      if (at != name) *at = '\0';
      return;
    }
  }
}

// The readable name of a symbol, in the walk's name area.
const char* readableName(const char* symbol, Walk& walk) {
  int status = 0;
  char* demangled = abi::__cxa_demangle(symbol, nullptr, nullptr, &status);
  const char* source = status == 0 && demangled != nullptr ? demangled : symbol;
  std::strncpy(walk.nameArea, source, walk.nameAreaSize - 1);
  walk.nameArea[walk.nameAreaSize - 1] = '\0';
  std::free(demangled);
  dropParameterList(walk.nameArea);
  return walk.nameArea;
}

// Appends the line of one frame; false once the text is full.
bool appendFrame(Walk& walk, Dwarf_Addr pc, bool isActivation) {
  ReportText& text = *walk.text;
  if (text.position() > kStackTraceRoomLimit) {
    text.append("%s", kNoMoreRoom);
    return false;
  }

  // A return address points after its call; look up the call itself.
  const Dwarf_Addr lookup = isActivation ? pc : pc - 1;
  char line[1400];
  int length = std::snprintf(line, sizeof line, "%016lx:", static_cast<unsigned long>(pc));

  Dwfl_Module* module = dwfl_addrmodule(walk.dwfl, lookup);
  Dwarf_Addr moduleStart = 0;
  if (module != nullptr) {
    const char* moduleName = dwfl_module_info(module, nullptr, &moduleStart, nullptr, nullptr, nullptr, nullptr,
                                              nullptr);
    if (moduleName != nullptr) {
      length += std::snprintf(line + length, sizeof line - length, " %.255s", baseName(moduleName));
    }
    GElf_Off offset = 0;
    GElf_Sym symbol;
    const char* symbolName =
        dwfl_module_addrinfo(module, lookup, &offset, &symbol, nullptr, nullptr, nullptr);
    if (symbolName != nullptr) {
      std::snprintf(line + length, sizeof line - length, " %.*s() + 0x%lx\n", kLongestSymbolShown,
                    readableName(symbolName, walk), static_cast<unsigned long>(offset + (lookup != pc ? 1 : 0)));
    } else {
      std::snprintf(line + length, sizeof line - length, ": 0x%lx\n", static_cast<unsigned long>(pc - moduleStart));
    }
  }
  // With neither module nor symbol the next frame goes on on the same line.
  text.appendClipped(line, kFrameLimit);
  return true;
}

int onFrame(Dwfl_Frame* frame, void* argument) {
  Walk& walk = *static_cast<Walk*>(argument);
  Dwarf_Addr pc = 0;
  bool isActivation = false;
  if (!dwfl_frame_pc(frame, &pc, &isActivation)) return DWARF_CB_ABORT;
  return appendFrame(walk, pc, isActivation) ? DWARF_CB_OK : DWARF_CB_ABORT;
}

}  // namespace

bool stepOutOfStrayCall(ucontext_t& context) {
  greg_t* registers = context.uc_mcontext.gregs;
  uint64_t returnAddress = 0;
  if (!readProcessMemory(static_cast<uintptr_t>(registers[REG_RSP]), &returnAddress, sizeof returnAddress)) {
    return false;
  }
  registers[REG_RIP] = static_cast<greg_t>(returnAddress);
  registers[REG_RSP] += sizeof returnAddress;
  return true;
}

bool appendStackTrace(const ucontext_t& context, bool strayCall, ReportText& text, char* nameArea,
                      size_t nameAreaSize) {
  Dwfl* dwfl = dwfl_begin(&kModuleCallbacks);
  if (dwfl == nullptr) return false;
  // After a call into nowhere there is no unwind information for the
  // faulting address: list it, then walk on from the caller.
  ucontext_t walkContext = context;
  Walk walk;
  walk.dwfl = dwfl;
  walk.context = &walkContext;
  walk.threadId = static_cast<pid_t>(gettid());
  walk.text = &text;
  walk.nameArea = nameArea;
  walk.nameAreaSize = nameAreaSize;

  dwfl_report_begin(dwfl);
  const bool modulesRead = dwfl_linux_proc_report(dwfl, getpid()) == 0 && dwfl_report_end(dwfl, nullptr, nullptr) == 0;
  bool walkOn = modulesRead;
  if (walkOn && strayCall) {
    walkOn = appendFrame(walk, static_cast<Dwarf_Addr>(context.uc_mcontext.gregs[REG_RIP]), true) &&
             stepOutOfStrayCall(walkContext);
  }
  if (walkOn && dwfl_attach_state(dwfl, nullptr, getpid(), &kThreadCallbacks, &walk)) {
    // The walk ends at the outermost frame, at a frame it cannot unwind, or
    // when the text is full; each is a normal end of the trace.
    dwfl_getthread_frames(dwfl, walk.threadId, onFrame, &walk);
  }
  dwfl_end(dwfl);
  return modulesRead;
}
