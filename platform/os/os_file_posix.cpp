#include "platform/os/os_file.h"

#include <fcntl.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/os/os_time.h"
#include "platform/paths.h"

namespace fs = std::filesystem;

namespace {

std::string native(const char* path) { return zem::nativePath(path != nullptr ? path : ""); }

bool exists(const char* nativePath) {
  struct stat status;
  return stat(nativePath, &status) == 0;
}

// rename() that refuses to replace an existing target.
int renameNoReplace(const std::string& source, const std::string& target) {
  if (renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return -1;
  // The file system cannot refuse by itself; look first.
  if (exists(target.c_str())) {
    errno = EEXIST;
    return -1;
  }
  return rename(source.c_str(), target.c_str());
}

}  // namespace

bool osFileCreate(const char* path) {
  const int fd = open(native(path).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_SYNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  return close(fd) == 0;
}

int osDirectoryCreate(const char* path) {
  const std::string directory = native(path);
  if (exists(directory.c_str())) return 0;
  return mkdir(directory.c_str(), 0755) == 0 ? 0 : -1;
}

bool osDirectoryCreateTree(const char* path) {
  constexpr size_t kWorkingSize = 520;
  const std::string full = native(path);
  if (full.empty() || full.size() >= kWorkingSize) return false;

  char working[kWorkingSize];
  std::memcpy(working, full.c_str(), full.size() + 1);

  bool failed = false;
  size_t position = 0;
  for (;;) {
    char* separator = std::strchr(working + position, '/');
    if (separator == nullptr) break;
    const size_t at = static_cast<size_t>(separator - working);
    position = at + 1;
    if (at == 0 || working[at - 1] == '/') continue;  // empty component: leading or doubled separator
    *separator = '\0';
    if (exists(working)) {
      failed = false;
    } else if (mkdir(working, 0755) != 0) {
      failed = true;
    }
    *separator = '/';
    if (failed) break;
  }
  if (!failed && !exists(working)) mkdir(working, 0755);

  if (exists(full.c_str())) return true;
  return mkdir(full.c_str(), 0755) == 0;
}

bool osFileCopy(const char* source, const char* target) {
  std::error_code error;
  return fs::copy_file(native(source), native(target), fs::copy_options::overwrite_existing, error);
}

bool osFileMove(const char* source, const char* target) {
  return renameNoReplace(native(source), native(target)) == 0;
}

bool osFileMoveCopyAllowed(const char* source, const char* target) {
  const std::string from = native(source);
  const std::string to = native(target);
  if (renameNoReplace(from, to) == 0) return true;
  if (errno != EXDEV) return false;
  std::error_code error;
  if (!fs::copy_file(from, to, fs::copy_options::none, error)) return false;
  if (unlink(from.c_str()) != 0) {
    unlink(to.c_str());
    return false;
  }
  return true;
}

bool osFileDelete(const char* path) { return unlink(native(path).c_str()) == 0; }

bool osFileExists(const char* path) { return exists(native(path).c_str()); }

int osFileStat(const char* path, struct stat* status) {
  if (status == nullptr) return -1;
  return stat(native(path).c_str(), status) == 0 ? 0 : -1;
}

bool osGetFileSize(const char* path, uint32_t* size) {
  struct stat status;
  if (size == nullptr || osFileStat(path, &status) != 0) return false;
  *size = static_cast<uint32_t>(status.st_size);
  return true;
}

bool osFileTimeString(const char* path, char* text, size_t size) {
  // Only a file will do: a directory opens for reading here but is refused,
  // and a pipe must not block the open.
  const int fd = open(native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat status;
  tm local{};
  const bool converted = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) &&
                         localtime_r(&status.st_mtim.tv_sec, &local) != nullptr && local.tm_mon >= 0 &&
                         local.tm_mon < 12;
  const bool closed = close(fd) == 0;
  if (!converted || !closed || text == nullptr) return false;
  std::snprintf(text, size, "%4d %s %02d %02d:%02d:%02d.%03d", local.tm_year + 1900, osMonthNames[local.tm_mon + 1],
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(status.st_mtim.tv_nsec / 1000000));
  return true;
}

bool osFullPathName(const char* path, char* fullPath) {
  if (path == nullptr || fullPath == nullptr || *path == '\0') return false;
  std::error_code error;
  const std::string absolute = fs::absolute(native(path), error).lexically_normal().string();
  if (error || absolute.size() >= OS_FULL_PATH_SIZE) return false;
  std::memcpy(fullPath, absolute.c_str(), absolute.size() + 1);
  return true;
}

const char* osFindBackslash(const char* text) { return text == nullptr ? nullptr : std::strchr(text, '\\'); }

bool osDiskFreeSpace(const char* path, uint64_t* freeBytes) {
  if (freeBytes == nullptr) return false;
  std::error_code error;
  fs::path directory = fs::absolute(native(path), error);
  if (error) return false;
  for (;;) {
    struct statvfs status;
    if (statvfs(directory.c_str(), &status) == 0) {
      *freeBytes = static_cast<uint64_t>(status.f_bavail) * status.f_frsize;
      return true;
    }
    if (errno != ENOENT && errno != ENOTDIR) return false;
    if (!directory.has_relative_path()) return false;
    directory = directory.parent_path();
  }
}
