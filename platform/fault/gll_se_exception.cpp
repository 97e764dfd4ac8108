#include "platform/fault/gll_se_exception.h"

#include <cstdio>

namespace {

struct CodeName {
  uint32_t code;
  const char* name;
};

constexpr CodeName kNames[] = {
    {GLL_SE_GUARD_PAGE, "Guard Page"},
    {GLL_SE_DATATYPE_MISALIGNMENT, "Datatype Misalignment"},
    {GLL_SE_BREAKPOINT, "Breakpoint"},
    {GLL_SE_SINGLE_STEP, "Single Step"},
    {GLL_SE_ACCESS_VIOLATION, "Access Violation"},
    {GLL_SE_IN_PAGE_ERROR, "In Page Error"},
    {GLL_SE_INVALID_HANDLE, "Invalid Handle"},
    {GLL_SE_ILLEGAL_INSTRUCTION, "Illegal Instruction"},
    {GLL_SE_NONCONTINUABLE_EXCEPTION, "Noncontinuable Exception"},
    {GLL_SE_INVALID_DISPOSITION, "Invalid Disposition"},
    {GLL_SE_ARRAY_BOUNDS_EXCEEDED, "Array Bounds Exceeded"},
    {GLL_SE_FLT_DENORMAL_OPERAND, "Flt Denormal Operand"},
    {GLL_SE_FLT_DIVIDE_BY_ZERO, "Flt Divide By ZERO"},
    {GLL_SE_FLT_INEXACT_RESULT, "Flt Inexact Result"},
    {GLL_SE_FLT_INVALID_OPERATION, "Flt Invalid Operation"},
    {GLL_SE_FLT_OVERFLOW, "Flt Overflow"},
    {GLL_SE_FLT_STACK_CHECK, "Flt Stack Check"},
    {GLL_SE_FLT_UNDERFLOW, "Flt Underflow"},
    {GLL_SE_INT_DIVIDE_BY_ZERO, "Int Divide By Zero"},
    {GLL_SE_INT_OVERFLOW, "Int Overflow"},
    {GLL_SE_PRIV_INSTRUCTION, "Priv Instruction"},
    {GLL_SE_STACK_OVERFLOW, "Stack Overflow"},
};

char unknownCodeText[80];

}  // namespace

const char* exceptionName(uint32_t code) {
  for (const CodeName& entry : kNames) {
    if (entry.code == code) return entry.name;
  }
  std::snprintf(unknownCodeText, sizeof unknownCodeText, "Exception (%d, 0x%x) not known", static_cast<int>(code),
                code);
  return unknownCodeText;
}
