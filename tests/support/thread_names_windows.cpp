#include "support/thread_names.h"

#include <windows.h>
#include <tlhelp32.h>

namespace zem::test {

// Every thread of this process from a snapshot, with its description.
int threadsNamed(const std::string& name) {
  using GetDescription = HRESULT(WINAPI*)(HANDLE, PWSTR*);
  static const auto getDescription = reinterpret_cast<GetDescription>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "GetThreadDescription")));
  if (getDescription == nullptr) return -1;
  const std::wstring wanted(name.begin(), name.end());  // the names are ASCII
  const DWORD process = GetCurrentProcessId();
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int count = 0;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
    if (entry.th32OwnerProcessID != process) continue;
    HANDLE thread = OpenThread(THREAD_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ThreadID);
    if (thread == nullptr) continue;  // ended since the snapshot
    PWSTR description = nullptr;
    if (SUCCEEDED(getDescription(thread, &description)) && description != nullptr) {
      if (wanted == description) ++count;
      LocalFree(description);
    }
    CloseHandle(thread);
  }
  CloseHandle(snapshot);
  return count;
}

}  // namespace zem::test
