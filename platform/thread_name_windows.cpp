#include "platform/thread_name.h"

#include <windows.h>

#include <string>

namespace zem {

// SetThreadDescription came with Windows 10 1607: looked up, so that the
// library still loads on older systems, where threads stay unnamed.
void nameCurrentThread(const char* name) {
  using SetDescription = HRESULT(WINAPI*)(HANDLE, PCWSTR);
  static const auto setDescription = reinterpret_cast<SetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetThreadDescription")));
  if (setDescription == nullptr) return;
  const std::wstring wide(name, name + std::char_traits<char>::length(name));  // the names are ASCII
  setDescription(GetCurrentThread(), wide.c_str());
}

}  // namespace zem
