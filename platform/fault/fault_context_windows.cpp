#include "platform/fault/fault_context.h"

// The register lines of the report: the 32-bit ones of the library's own
// platform, and the 64-bit ones where the same source is built for x64.
#if defined(_M_IX86) || defined(__i386__)

uintptr_t faultInstructionAddress(const FaultContext& context) { return context.Eip; }

void appendFaultAddress(uintptr_t address, ReportText& text) {
  text.append("%08x", static_cast<unsigned>(address));
}

void appendFaultRegisters(const FaultContext& c, ReportText& text) {
  text.append("\tEax:%08lx Ebx:%08lx Ecx:%08lx Edx:%08lx\n", c.Eax, c.Ebx, c.Ecx, c.Edx);
  text.append("\tEsi:%08lx Edi:%08lx Esp:%08lx Ebp:%08lx\n", c.Esi, c.Edi, c.Esp, c.Ebp);
}

#else

uintptr_t faultInstructionAddress(const FaultContext& context) { return context.Rip; }

void appendFaultAddress(uintptr_t address, ReportText& text) {
  text.append("%016llx", static_cast<unsigned long long>(address));
}

void appendFaultRegisters(const FaultContext& c, ReportText& text) {
  text.append("\tRax:%016llx Rbx:%016llx Rcx:%016llx Rdx:%016llx\n", c.Rax, c.Rbx, c.Rcx, c.Rdx);
  text.append("\tRsi:%016llx Rdi:%016llx Rsp:%016llx Rbp:%016llx\n", c.Rsi, c.Rdi, c.Rsp, c.Rbp);
  text.append("\tR8 :%016llx R9 :%016llx R10:%016llx R11:%016llx\n", c.R8, c.R9, c.R10, c.R11);
  text.append("\tR12:%016llx R13:%016llx R14:%016llx R15:%016llx\n", c.R12, c.R13, c.R14, c.R15);
  text.append("\tRip:%016llx Flags:%08lx\n", c.Rip, c.EFlags);
}

#endif
