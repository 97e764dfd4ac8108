#include "platform/os/os_semaphore.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <new>

struct OsBinarySemaphore {
  std::mutex mutex;
  std::condition_variable freed;
  int count = 0;
};

bool osBinarySemaphoreCreate(OsSemaphoreHandle* handle, int initialState) {
  if (initialState != 0 && initialState != 1) {
    std::printf("osBinarySemaphoreCreate: Invalid initial state (%d)\n", initialState);
    return false;
  }
  OsBinarySemaphore* semaphore = new (std::nothrow) OsBinarySemaphore;
  if (semaphore == nullptr || handle == nullptr) {
    delete semaphore;
    std::printf("osBinarySemaphoreCreate: CreateSemaphore failed. Error = %ld\n",
                static_cast<long>(semaphore == nullptr ? ENOMEM : EINVAL));
    return false;
  }
  semaphore->count = initialState;
  *handle = semaphore;
  return true;
}

bool osBinarySemaphoreTake(OsSemaphoreHandle handle, uint32_t timeoutMs) {
  if (handle == nullptr) {
    std::printf("osBinarySemaphoreTake: WAIT_FAILED. Error = %ld\n", static_cast<long>(EINVAL));
    return false;
  }
  std::unique_lock<std::mutex> lock(handle->mutex);
  const auto isFree = [handle] { return handle->count > 0; };
  if (timeoutMs == OS_WAIT_FOREVER) {
    handle->freed.wait(lock, isFree);
  } else if (!handle->freed.wait_for(lock, std::chrono::milliseconds(timeoutMs), isFree)) {
    std::printf("osBinarySemaphoreTake: WAIT_TIMEOUT\n");
    return false;
  }
  handle->count = 0;
  return true;
}

bool osBinarySemaphoreGive(OsSemaphoreHandle handle) {
  int error = EINVAL;
  if (handle != nullptr) {
    std::lock_guard<std::mutex> lock(handle->mutex);
    if (handle->count == 0) {
      handle->count = 1;
      handle->freed.notify_one();
      return true;
    }
    error = EOVERFLOW;  // already free: the count would pass its maximum
  }
  std::printf("osBinarySemaphoreGive: ReleaseSemaphore failed. Error = %ld\n", static_cast<long>(error));
  return false;
}

bool osBinarySemaphoreDestroy(OsSemaphoreHandle handle) {
  if (handle == nullptr) return false;
  delete handle;
  return true;
}
