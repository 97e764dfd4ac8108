#include "platform/fault/process_memory.h"

#include <sys/uio.h>
#include <unistd.h>

bool readProcessMemory(uintptr_t address, void* destination, size_t size) {
  // The kernel copies for us and reports EFAULT where a plain load would fault.
  iovec local{destination, size};
  iovec remote{reinterpret_cast<void*>(address), size};
  return process_vm_readv(getpid(), &local, 1, &remote, 1, 0) == static_cast<ssize_t>(size);
}
