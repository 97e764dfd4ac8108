#include "platform/system_random.h"

#include <windows.h>
#include <bcrypt.h>

bool systemRandomBytes(uint8_t* buffer, size_t size) {
  // The system's preferred generator, without opening an algorithm handle.
  return BCryptGenRandom(nullptr, buffer, static_cast<ULONG>(size), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}
