// The exception object into which a hardware fault on a thread is translated
// (see exception_translator.h). It is thrown by pointer; whoever catches it
// owns it and deletes it.
#pragma once

#include <cstdint>

// Fault codes, the system's standard exception numbers.
constexpr uint32_t GLL_SE_GUARD_PAGE = 0x80000001;
constexpr uint32_t GLL_SE_DATATYPE_MISALIGNMENT = 0x80000002;
constexpr uint32_t GLL_SE_BREAKPOINT = 0x80000003;
constexpr uint32_t GLL_SE_SINGLE_STEP = 0x80000004;
constexpr uint32_t GLL_SE_ACCESS_VIOLATION = 0xC0000005;
constexpr uint32_t GLL_SE_IN_PAGE_ERROR = 0xC0000006;
constexpr uint32_t GLL_SE_INVALID_HANDLE = 0xC0000008;
constexpr uint32_t GLL_SE_ILLEGAL_INSTRUCTION = 0xC000001D;
constexpr uint32_t GLL_SE_NONCONTINUABLE_EXCEPTION = 0xC0000025;
constexpr uint32_t GLL_SE_INVALID_DISPOSITION = 0xC0000026;
constexpr uint32_t GLL_SE_ARRAY_BOUNDS_EXCEEDED = 0xC000008C;
constexpr uint32_t GLL_SE_FLT_DENORMAL_OPERAND = 0xC000008D;
constexpr uint32_t GLL_SE_FLT_DIVIDE_BY_ZERO = 0xC000008E;
constexpr uint32_t GLL_SE_FLT_INEXACT_RESULT = 0xC000008F;
constexpr uint32_t GLL_SE_FLT_INVALID_OPERATION = 0xC0000090;
constexpr uint32_t GLL_SE_FLT_OVERFLOW = 0xC0000091;
constexpr uint32_t GLL_SE_FLT_STACK_CHECK = 0xC0000092;
constexpr uint32_t GLL_SE_FLT_UNDERFLOW = 0xC0000093;
constexpr uint32_t GLL_SE_INT_DIVIDE_BY_ZERO = 0xC0000094;
constexpr uint32_t GLL_SE_INT_OVERFLOW = 0xC0000095;
constexpr uint32_t GLL_SE_PRIV_INSTRUCTION = 0xC0000096;
constexpr uint32_t GLL_SE_STACK_OVERFLOW = 0xC00000FD;

class GLL_SE_Exception {
 public:
  explicit GLL_SE_Exception(uint32_t code) : code(code) {}

  // Stores the description; true when it is not null.
  bool setDescription(const char* text) {
    description = text;
    return text != nullptr;
  }

  uint32_t code;
  const char* description = nullptr;
};

// The name of a fault code, such as "Access Violation". An unknown code gives
// "Exception (%d, 0x%x) not known", formatted into one buffer shared by the
// whole process, which the next unknown code overwrites.
const char* exceptionName(uint32_t code);
