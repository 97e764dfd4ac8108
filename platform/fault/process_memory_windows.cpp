#include "platform/fault/process_memory.h"

#include <windows.h>

bool readProcessMemory(uintptr_t address, void* destination, size_t size) {
  // The system copies for us and fails where a plain load would fault.
  SIZE_T copied = 0;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(address), destination, size, &copied) &&
         copied == size;
}
