#include "container/exception_log.h"

#include <sys/time.h>

#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <string>

#include "platform/paths.h"
#include "platform/settings/settings_store.h"

namespace zem {

const char* const kExceptionLogPath = "D:\\Corvane\\LogsPellor\\TarvoCapi_Exception.Log";
const char* const kExceptionLogKey = "SOFTWARE\\Brasken\\Quorin\\Tarvo";

namespace {

constexpr size_t kMaxMessageLength = 511;

bool exceptionLogWanted() {
  RegistryKey key;
  if (!RegistryKey::open(RootKey::LocalMachine, kExceptionLogKey, key)) return false;
  RegValue value;
  return key.queryValue("IsLogTrace", value).isOk();
}

}  // namespace

void logException(const char* format, ...) noexcept {
  // Called from exception handlers: nothing may leave this function.
  try {
    if (!exceptionLogWanted()) return;
  } catch (...) {
    return;
  }

  char message[kMaxMessageLength + 1];
  va_list arguments;
  va_start(arguments, format);
  std::vsnprintf(message, sizeof message, format, arguments);
  va_end(arguments);

  timeval now{};
  gettimeofday(&now, nullptr);
  std::tm local{};
  const std::time_t seconds = now.tv_sec;  // timeval's field is narrower than time_t on some systems
  localtime_r(&seconds, &local);

  // One formatted line, one fputs: lines of different threads do not mix.
  char line[sizeof message + 64];
  std::snprintf(line, sizeof line, "\n%d-%02d-%02d %02d:%02d:%02d:%03d %s", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_usec / 1000),
                message);

  std::string path;
  try {
    path = nativePath(kExceptionLogPath);
  } catch (...) {
    return;
  }
  std::FILE* file = std::fopen(path.c_str(), "a");
  if (file == nullptr) return;
  std::fputs(line, file);
  std::fclose(file);
}

}  // namespace zem
