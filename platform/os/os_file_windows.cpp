#include "platform/os/os_file.h"

#include <direct.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/os/os_time.h"

namespace {

bool exists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

bool osFileCreate(const char* path) {
  const HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  return CloseHandle(file) != 0;
}

int osDirectoryCreate(const char* path) {
  if (exists(path)) return 0;
  return CreateDirectoryA(path, nullptr) ? 0 : -1;
}

bool osDirectoryCreateTree(const char* path) {
  constexpr size_t kWorkingSize = 520;
  if (path == nullptr) return false;
  const size_t length = std::strlen(path);
  if (length == 0 || length >= kWorkingSize) return false;

  char working[kWorkingSize];
  std::memcpy(working, path, length + 1);

  bool failed = false;
  size_t position = length >= 2 && working[1] == ':' ? 2 : 0;  // past a drive prefix
  for (;;) {
    // Windows takes '/' as a separator as well as '\\'.
    char* separator = std::strpbrk(working + position, "\\/");
    if (separator == nullptr) break;
    const char separatorChar = *separator;
    const size_t at = static_cast<size_t>(separator - working);
    const bool emptyComponent = at == position;  // a leading or doubled backslash
    position = at + 1;
    if (emptyComponent) continue;
    *separator = '\0';
    if (exists(working)) {
      failed = false;
    } else if (_mkdir(working) != 0) {
      failed = true;
    }
    *separator = separatorChar;
    if (failed) break;
  }
  if (!failed && !exists(working)) _mkdir(working);

  if (exists(path)) return true;
  return CreateDirectoryA(path, nullptr) != 0;
}

bool osFileCopy(const char* source, const char* target) { return CopyFileA(source, target, FALSE) != 0; }

bool osFileMove(const char* source, const char* target) { return MoveFileA(source, target) != 0; }

bool osFileMoveCopyAllowed(const char* source, const char* target) {
  return MoveFileExA(source, target, MOVEFILE_COPY_ALLOWED) != 0;
}

bool osFileDelete(const char* path) { return DeleteFileA(path) != 0; }

bool osFileExists(const char* path) { return path != nullptr && exists(path); }

int osFileStat(const char* path, struct stat* status) {
  if (path == nullptr || status == nullptr) return -1;
  return stat(path, status) == 0 ? 0 : -1;
}

bool osGetFileSize(const char* path, uint32_t* size) {
  struct stat status;
  if (size == nullptr || osFileStat(path, &status) != 0) return false;
  *size = static_cast<uint32_t>(status.st_size);
  return true;
}

bool osFileTimeString(const char* path, char* text, size_t size) {
  const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_NO_BUFFERING, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  FILETIME written{};
  SYSTEMTIME utc{};
  SYSTEMTIME local{};
  // The machine's current time-zone rules, daylight saving included.
  const bool converted = GetFileTime(file, nullptr, nullptr, &written) && FileTimeToSystemTime(&written, &utc) &&
                         SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local) && local.wMonth >= 1 &&
                         local.wMonth <= 12;
  const bool closed = CloseHandle(file) != 0;
  if (!converted || !closed || text == nullptr) return false;
  std::snprintf(text, size, "%4d %s %02d %02d:%02d:%02d.%03d", local.wYear, osMonthNames[local.wMonth], local.wDay,
                local.wHour, local.wMinute, local.wSecond, local.wMilliseconds);
  return true;
}

bool osFullPathName(const char* path, char* fullPath) {
  if (path == nullptr || fullPath == nullptr || *path == '\0') return false;
  const DWORD length = GetFullPathNameA(path, static_cast<DWORD>(OS_FULL_PATH_SIZE), fullPath, nullptr);
  return length != 0 && length < OS_FULL_PATH_SIZE;
}

const char* osFindBackslash(const char* text) { return text == nullptr ? nullptr : std::strchr(text, '\\'); }

bool osDiskFreeSpace(const char* path, uint64_t* freeBytes) {
  if (path == nullptr || freeBytes == nullptr) return false;
  char full[OS_FULL_PATH_SIZE];
  if (!osFullPathName(path, full)) return false;
  std::string directory = full;
  for (;;) {
    ULARGE_INTEGER available{};
    if (GetDiskFreeSpaceExA(directory.c_str(), &available, nullptr, nullptr)) {
      *freeBytes = available.QuadPart;
      return true;
    }
    // The nearest existing directory on the path.
    const size_t separator = directory.find_last_of("\\/");
    if (directory.size() <= 3 || separator == std::string::npos) return false;
    directory.erase(separator < 3 ? 3 : separator);  // "C:\a" goes on with "C:\"
  }
}
