#include "platform/settings/registry_notifier.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/settings/registry_document.h"
#include "platform/settings/registry_file.h"
#include "platform/settings/settings_store.h"

namespace zem {
namespace {

// What a watched key looks like now; any difference counts as a change.
std::string snapshotOf(RootKey root, const std::string& path, bool withSubkeys) {
  RegistryDocument document;
  const RegStatus status = loadRegistryFile(root, document);
  if (!status) return "!" + status.message;
  if (!document.fileError().empty()) return "!" + document.fileError();
  return document.exportText(root, path, withSubkeys);
}

}  // namespace

// The watcher thread with its inotify and wake-up descriptors and the pending
// requests. The notifier's mutex guards the requests and the watch table; the
// thread takes it for each batch of file events.
struct RegistryNotifier::Watcher {
  static constexpr const char* kThreadName = "store-watcher";

  struct Request {
    uint64_t owner;
    RootKey root;
    std::string path;
    bool withSubkeys;
    std::string file;
    std::string snapshot;
    std::shared_ptr<Event> event;
  };

  std::vector<Request> requests;
  std::map<int, std::string> watchedDirectories;  // inotify watch -> directory
  int inotifyFd = -1;
  int wakeFd = -1;
  std::thread thread;

  Watcher() = default;
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;
  ~Watcher() {
    if (inotifyFd >= 0) ::close(inotifyFd);
    if (wakeFd >= 0) ::close(wakeFd);
  }

  // Opens the descriptors and starts the thread; the error text when the
  // system refuses one of them.
  RegStatus start(std::mutex& mutex) {
    inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0) return failed("cannot watch the store: ", errno);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd < 0) return failed("cannot watch the store: ", errno);
    try {
      thread = std::thread([this, &mutex] { run(mutex); });
    } catch (const std::system_error& error) {
      return RegStatus::error(RegError::IoError, std::string("cannot start the store watcher: ") + error.what());
    }
    // Named before arm() returns, so it shows at once in ps, top and debuggers.
    pthread_setname_np(thread.native_handle(), kThreadName);
    return RegStatus::ok();
  }

  // Wakes the thread and waits for it to end. Afterwards the caller is the
  // only one to touch this watcher.
  void stop() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
    if (thread.joinable()) thread.join();
  }

  void run(std::mutex& mutex);

 private:
  static RegStatus failed(const char* what, int error) {
    return RegStatus::error(RegError::IoError, what + std::string(std::strerror(error)));
  }
};

void RegistryNotifier::Watcher::run(std::mutex& mutex) {
  pollfd fds[2] = {{inotifyFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
  alignas(inotify_event) char buffer[8192];
  while (true) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;

    std::set<std::string> changedFiles;
    std::lock_guard<std::mutex> lock(mutex);
    while (true) {
      const ssize_t length = ::read(inotifyFd, buffer, sizeof buffer);
      if (length <= 0) break;
      for (ssize_t offset = 0; offset < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if ((event->mask & IN_IGNORED) != 0) {
          watchedDirectories.erase(event->wd);
          continue;
        }
        auto directory = watchedDirectories.find(event->wd);
        if (directory == watchedDirectories.end() || event->len == 0) continue;
        const std::string name = event->name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".reg") == 0) {
          changedFiles.insert(directory->second + "/" + name);
        }
      }
    }
    if (changedFiles.empty()) continue;

    std::erase_if(requests, [&](const Request& request) {
      if (changedFiles.count(request.file) == 0) return false;
      if (snapshotOf(request.root, request.path, request.withSubkeys) == request.snapshot) return false;
      request.event->set();
      return true;
    });
  }
}

RegistryNotifier& RegistryNotifier::instance() {
  // Built at compile time and never destroyed, so a key handle closing during
  // static destruction (or after the end-of-process shutdown) still finds it.
  static constinit RegistryNotifier notifier;
  static_assert(std::is_trivially_destructible_v<RegistryNotifier>);
  return notifier;
}

namespace {
// Joins the watcher and frees what it holds when the process ends or the
// library is unloaded, before the code the thread runs can go away. Built
// before the ordinary static objects of the library, so that it ends after
// them: those that watch keys (the provider's trace) stop watching first.
struct ShutdownAtEnd {
  ~ShutdownAtEnd() { RegistryNotifier::instance().shutdownForGood(); }
} shutdownAtEnd __attribute__((init_priority(200)));
}  // namespace

RegStatus RegistryNotifier::arm(uint64_t owner, RootKey root, const std::string& path, bool withSubkeys,
                                std::shared_ptr<Event> event) {
  if (!event) return RegStatus::error(RegError::InvalidArgument, "no event to signal");
  const std::string file = registryFilePath(root);
  const std::string directory = std::filesystem::path(file).parent_path().string();
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);

  std::lock_guard<std::mutex> lock(mutex_);
  if (refusing_) return RegStatus::error(RegError::IoError, "store notifications have been shut down");
  if (watcher_ == nullptr) {
    auto watcher = std::make_unique<Watcher>();
    const RegStatus started = watcher->start(mutex_);
    if (!started) return started;
    watcher_ = watcher.release();
  }
  // The watch exists before the snapshot is taken, so no change can slip
  // between the two; the watcher compares under this same lock.
  const int watch = inotify_add_watch(watcher_->inotifyFd, directory.c_str(),
                                      IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
  if (watch < 0) {
    return RegStatus::error(RegError::IoError, "cannot watch " + directory + ": " + std::strerror(errno));
  }
  watcher_->watchedDirectories[watch] = directory;
  watcher_->requests.push_back(
      {owner, root, path, withSubkeys, file, snapshotOf(root, path, withSubkeys), std::move(event)});
  return RegStatus::ok();
}

void RegistryNotifier::cancel(uint64_t owner) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (watcher_ == nullptr) return;
  std::erase_if(watcher_->requests, [owner](const Watcher::Request& request) {
    if (request.owner != owner) return false;
    request.event->set();
    return true;
  });
}

void RegistryNotifier::shutdown() {
  std::unique_ptr<Watcher> watcher;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    watcher.reset(std::exchange(watcher_, nullptr));
  }
  if (!watcher) return;
  // From here on a request goes to a new watcher; this one is ours alone once
  // its thread has ended.
  watcher->stop();
  for (const Watcher::Request& request : watcher->requests) request.event->set();
}

void RegistryNotifier::shutdownForGood() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    refusing_ = true;
  }
  shutdown();
}

}  // namespace zem
