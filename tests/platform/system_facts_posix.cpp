#include "system_facts.h"

#include <pthread.h>
#include <unistd.h>

#include <cerrno>

namespace zem::test {

size_t stackReservedForThisThread() {
  size_t size = 0;
  pthread_attr_t attributes;
  if (pthread_getattr_np(pthread_self(), &attributes) != 0) return 0;
  pthread_attr_getstacksize(&attributes, &size);
  pthread_attr_destroy(&attributes);
  return size;
}

size_t stackReservationFor(size_t asked) { return asked; }

uint32_t systemThreadId() { return static_cast<uint32_t>(gettid()); }
uint32_t systemProcessId() { return static_cast<uint32_t>(getpid()); }
long invalidArgumentError() { return EINVAL; }

}  // namespace zem::test
