// Binary semaphores of the OS layer: a count of 1 means free, 0 means taken.
//
// A semaphore is not owned by a thread: any thread may give what another took.
// Giving a semaphore that is already free fails, because the count would pass
// its maximum of 1. Every operation is safe from any thread; failures print one
// line on standard output, naming the operation and the native error number.
#pragma once

#include <cstdint>

struct OsBinarySemaphore;  // opaque
using OsSemaphoreHandle = OsBinarySemaphore*;

// The time-out that waits without limit.
constexpr uint32_t OS_WAIT_FOREVER = 0xFFFFFFFFu;

// Creates a semaphore, free (1) or taken (0).
bool osBinarySemaphoreCreate(OsSemaphoreHandle* handle, int initialState);
// Waits up to timeoutMs (or OS_WAIT_FOREVER) for the semaphore and takes it.
bool osBinarySemaphoreTake(OsSemaphoreHandle handle, uint32_t timeoutMs);
bool osBinarySemaphoreGive(OsSemaphoreHandle handle);
// Releases the semaphore; nobody may wait on it any more.
bool osBinarySemaphoreDestroy(OsSemaphoreHandle handle);
