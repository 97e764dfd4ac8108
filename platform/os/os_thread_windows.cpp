#include "platform/os/os_thread.h"

#include <process.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <new>

#include "platform/os/os_semaphore.h"

struct OsThread {
  HANDLE handle = nullptr;
  OsThreadEntry entry = nullptr;
  void* argument = nullptr;
  // One reference for the handle, one for the running thread.
  std::atomic<int> references{2};

  void release() {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

namespace {

constexpr unsigned kThreadStackBytes = 65536;

// Thrown by osThreadExit and caught where the thread began, so that the
// stack is unwound on the way out (ending the thread in place would skip
// every destructor on it).
struct ThreadExit {};

unsigned __stdcall threadStart(void* argument) {
  OsThread* record = static_cast<OsThread*>(argument);
  unsigned result = 0;
  try {
    result = record->entry(record->argument);
  } catch (const ThreadExit&) {
  }
  record->release();
  return result;
}

}  // namespace

bool osThreadCreate(OsThreadEntry entry, void* argument, int priority, OsThreadId* id,
                    OsThreadHandle* handle) {
  OsThread* record = new (std::nothrow) OsThread;
  if (record == nullptr || entry == nullptr) {
    delete record;
    std::printf("osThreadCreate: _beginthreadex failed. Error = %ld.\n",
                static_cast<long>(entry == nullptr ? ERROR_INVALID_PARAMETER : ERROR_NOT_ENOUGH_MEMORY));
    return false;
  }
  record->entry = entry;
  record->argument = argument;
  unsigned threadId = 0;
  // Suspended until the record is complete, so the thread never sees it half made.
  const uintptr_t started = _beginthreadex(nullptr, kThreadStackBytes, threadStart, record,
                                           CREATE_SUSPENDED | STACK_SIZE_PARAM_IS_A_RESERVATION, &threadId);
  if (started == 0) {
    delete record;
    std::printf("osThreadCreate: _beginthreadex failed. Error = %ld.\n", static_cast<long>(GetLastError()));
    return false;
  }
  record->handle = reinterpret_cast<HANDLE>(started);
  if (priority != OS_THREAD_PRIORITY_NORMAL) osThreadPrioritySet(record, priority);
  ResumeThread(record->handle);
  if (id != nullptr) *id = threadId;
  if (handle != nullptr) {
    *handle = record;
  } else {
    osThreadClose(record);
  }
  return true;
}

bool osThreadPrioritySet(OsThreadHandle handle, int priority) {
  if (handle != nullptr && SetThreadPriority(handle->handle, priority)) return true;
  std::printf("osThreadPrioritySet: SetThreadPriority failed. Error = %ld.\n",
              static_cast<long>(handle == nullptr ? ERROR_INVALID_HANDLE : GetLastError()));
  return false;
}

bool osThreadPriorityGet(OsThreadHandle handle, int* priority) {
  const int value = handle != nullptr ? GetThreadPriority(handle->handle) : THREAD_PRIORITY_ERROR_RETURN;
  if (priority != nullptr) *priority = value;
  if (value != THREAD_PRIORITY_ERROR_RETURN && priority != nullptr) return true;
  std::printf("osThreadPriorityGet: GetThreadPriority failed. Error = %ld.\n",
              static_cast<long>(handle == nullptr ? ERROR_INVALID_HANDLE : GetLastError()));
  return false;
}

OsThreadId osThreadSelf(OsThreadId* id) {
  const OsThreadId self = GetCurrentThreadId();
  if (id != nullptr) *id = self;
  return self;
}

void osThreadExit() { throw ThreadExit{}; }

void osSleep(uint32_t milliseconds) { Sleep(milliseconds); }

uint32_t osProcessSelf(uint32_t* id) {
  const uint32_t self = GetCurrentProcessId();
  if (id != nullptr) *id = self;
  return self;
}

uint32_t osTickCount() { return GetTickCount(); }

bool osThreadWait(OsThreadHandle handle, uint32_t timeoutMs) {
  if (handle == nullptr) return false;
  return WaitForSingleObject(handle->handle, timeoutMs == OS_WAIT_FOREVER ? INFINITE : timeoutMs) == WAIT_OBJECT_0;
}

bool osThreadClose(OsThreadHandle handle) {
  if (handle == nullptr) return false;
  const bool closed = CloseHandle(handle->handle) != 0;
  handle->release();
  return closed;
}
