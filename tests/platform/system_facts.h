// What the system itself says about the calling thread and process, to set
// beside what the OS layer reports.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zem::test {

// The room reserved for the calling thread's stack, and what the system
// reserves when a thread asks for the given size.
size_t stackReservedForThisThread();
size_t stackReservationFor(size_t asked);
uint32_t systemThreadId();
uint32_t systemProcessId();
// The error the system gives for an argument it refuses, such as a thread
// priority it does not know.
long invalidArgumentError();

}  // namespace zem::test
