// logException: the exception log of the container exports.
//
// Writes one line to "D:\Corvane\LogsPellor\TarvoCapi_Exception.Log" (mapped
// below the data root, platform/paths.h), but only while the value
// "IsLogTrace" exists under HKEY_LOCAL_MACHINE "SOFTWARE\Brasken\Quorin\Tarvo"
// in the settings store, whatever its type or number: the log is independent
// of whether tracing is on. The message is formatted printf-style and cut to
// 511 characters, then appended as "\n<local time with milliseconds> <message>".
// The file's directory is not created. The log says nothing about its own
// failures.
//
// Safe from any thread; each line is appended with a single write.
#pragma once

namespace zem {

extern const char* const kExceptionLogPath;
extern const char* const kExceptionLogKey;

void logException(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));

}  // namespace zem
