// Thread creation as every platform does it; the system's part is
// osThreadStart in os_thread_posix.cpp and os_thread_windows.cpp.
#include "platform/os/os_thread.h"

#include <cstdio>

#include "platform/os/os_thread_start.h"

bool osThreadCreate(OsThreadEntry entry, void* argument, int priority, OsThreadId* id,
                    OsThreadHandle* handle) {
  long error = kOsThreadInvalidArgument;
  OsThreadId startedId = 0;
  OsThread* record = entry == nullptr ? nullptr : osThreadStart(entry, argument, priority, startedId, error);
  if (record == nullptr) {
    std::printf("osThreadCreate: _beginthreadex failed. Error = %ld.\n", error);
    return false;
  }
  if (id != nullptr) *id = startedId;
  if (handle != nullptr) {
    *handle = record;
  } else {
    osThreadClose(record);
  }
  return true;
}
