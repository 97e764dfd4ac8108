#include "platform/settings/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/settings/settings_store.h"

namespace zem {
namespace {

RegStatus ioError(const std::string& what, const std::string& path, int error) {
  return RegStatus::error(RegError::IoError, what + " " + path + ": " + std::strerror(error));
}

// An open descriptor that closes itself.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

RegStatus writeAll(int fd, const std::string& text, const std::string& path) {
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioError("cannot write", path, errno);
    }
    written += static_cast<size_t>(n);
  }
  return RegStatus::ok();
}

RegStatus replaceFile(const std::string& path, const std::string& text) {
  static std::atomic<unsigned> sequence{0};
  const std::string temporary = path + ".tmp." + std::to_string(::getpid()) + "." + std::to_string(++sequence);
  {
    FileDescriptor fd(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (fd.get() < 0) return ioError("cannot create", temporary, errno);
    RegStatus status = writeAll(fd.get(), text, temporary);
    if (status && ::fsync(fd.get()) != 0) status = ioError("cannot flush", temporary, errno);
    if (!status) {
      ::unlink(temporary.c_str());
      return status;
    }
  }
  if (::rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temporary.c_str());
    return ioError("cannot replace", path, error);
  }
  return RegStatus::ok();
}

}  // namespace

RegStatus loadRegistryFile(RootKey root, RegistryDocument& document) {
  const std::string path = registryFilePath(root);
  FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.get() < 0) {
    if (errno == ENOENT) {
      document = RegistryDocument();
      return RegStatus::ok();
    }
    return ioError("cannot read", path, errno);
  }
  std::string text;
  char buffer[16384];
  while (true) {
    const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioError("cannot read", path, errno);
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  document = RegistryDocument::parse(text, path);
  return RegStatus::ok();
}

RegStatus updateRegistryFile(RootKey root,
                             const std::function<RegStatus(RegistryDocument&, bool& changed)>& change) {
  const std::string path = registryFilePath(root);
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);

  const std::string lockPath = path + ".lock";
  FileDescriptor lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
  if (lock.get() < 0) return ioError("cannot open", lockPath, errno);
  while (::flock(lock.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return ioError("cannot lock", lockPath, errno);
  }

  RegistryDocument document;
  RegStatus status = loadRegistryFile(root, document);
  if (!status) return status;
  if (!document.fileError().empty()) return RegStatus::error(RegError::Malformed, document.fileError());

  bool changed = false;
  status = change(document, changed);
  if (!status || !changed) return status;
  return replaceFile(path, document.serialize());
  // The lock is released when its descriptor closes.
}

}  // namespace zem
