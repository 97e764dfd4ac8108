// Windows lists no open handles of a process cheaply; an open that shares
// nothing fails with a sharing violation while any handle to the file is
// open. The tests that ask start no other process that opens their files,
// so a handle found that way is this process's.
#include "support/open_files.h"

#include <windows.h>

namespace zem::test {

bool isOpenInThisProcess(const std::string& file) {
  const HANDLE handle =
      CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return false;
  }
  return GetLastError() == ERROR_SHARING_VIOLATION;
}

}  // namespace zem::test
