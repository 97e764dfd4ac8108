#include "platform/fault/fault_context.h"

#if !defined(__x86_64__)
#error "The fault report's register context is written for x86-64."
#endif

uintptr_t faultInstructionAddress(const FaultContext& context) {
  return static_cast<uintptr_t>(context.uc_mcontext.gregs[REG_RIP]);
}

void appendFaultAddress(uintptr_t address, ReportText& text) {
  text.append("%016lx", static_cast<unsigned long>(address));
}

void appendFaultRegisters(const FaultContext& context, ReportText& text) {
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
