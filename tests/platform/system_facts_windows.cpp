#include "system_facts.h"

#include <windows.h>

namespace zem::test {

// The limits are those of the stack's whole reservation.
size_t stackReservedForThisThread() {
  ULONG_PTR low = 0;
  ULONG_PTR high = 0;
  GetCurrentThreadStackLimits(&low, &high);
  return static_cast<size_t>(high - low);
}

// Reservations come in units of the allocation granularity; Wine (which
// names itself by an export of ntdll) reserves at least 1 MiB for any thread.
size_t stackReservationFor(size_t asked) {
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  const size_t unit = system.dwAllocationGranularity;
  size_t reserved = (asked + unit - 1) / unit * unit;
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  if (ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr && reserved < (1u << 20)) {
    reserved = 1u << 20;
  }
  return reserved;
}

uint32_t systemThreadId() { return GetCurrentThreadId(); }
uint32_t systemProcessId() { return GetCurrentProcessId(); }
long invalidArgumentError() { return ERROR_INVALID_PARAMETER; }

}  // namespace zem::test
