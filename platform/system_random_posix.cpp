#include "platform/system_random.h"

#include <sys/random.h>

#include <cerrno>

bool systemRandomBytes(uint8_t* buffer, size_t size) {
  size_t filled = 0;
  while (filled < size) {
    const ssize_t got = getrandom(buffer + filled, size - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    filled += static_cast<size_t>(got);
  }
  return true;
}
