#include "platform/registry_notifier.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "platform/registry_document.h"
#include "platform/registry_file.h"
#include "platform/settings_store.h"

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

struct RegistryNotifier::State {
  struct Request {
    uint64_t owner;
    RootKey root;
    std::string path;
    bool withSubkeys;
    std::string file;
    std::string snapshot;
    std::shared_ptr<Event> event;
  };

  std::mutex mutex;
  std::vector<Request> requests;
  std::map<int, std::string> watchedDirectories;  // inotify watch -> directory
  int inotifyFd = -1;
  int wakeFd = -1;
  std::thread thread;
  bool stopped = false;
};

RegistryNotifier& RegistryNotifier::instance() {
  // Never destroyed: key handles may close after static destruction began.
  // shutdown() ends the thread; see the guard below.
  static RegistryNotifier* notifier = new RegistryNotifier();
  return *notifier;
}

namespace {
// Joins the watcher before the process ends or the library is unmapped.
struct NotifierShutdown {
  ~NotifierShutdown() { RegistryNotifier::instance().shutdown(); }
} notifierShutdown;
}  // namespace

RegistryNotifier::RegistryNotifier() : state_(std::make_unique<State>()) {}

RegStatus RegistryNotifier::arm(uint64_t owner, RootKey root, const std::string& path, bool withSubkeys,
                                std::shared_ptr<Event> event) {
  if (!event) return RegStatus::error(RegError::InvalidArgument, "no event to signal");
  const std::string file = registryFilePath(root);
  const std::string directory = std::filesystem::path(file).parent_path().string();
  std::error_code ignored;
  std::filesystem::create_directories(directory, ignored);

  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->stopped) return RegStatus::error(RegError::IoError, "store notifications have been shut down");
  if (state_->inotifyFd < 0) {
    state_->inotifyFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    state_->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (state_->inotifyFd < 0 || state_->wakeFd < 0) {
      const int error = errno;
      if (state_->inotifyFd >= 0) ::close(state_->inotifyFd);
      if (state_->wakeFd >= 0) ::close(state_->wakeFd);
      state_->inotifyFd = state_->wakeFd = -1;
      return RegStatus::error(RegError::IoError, std::string("cannot watch the store: ") + std::strerror(error));
    }
    state_->thread = std::thread([this] { run(); });
  }
  // The watch exists before the snapshot is taken, so no change can slip
  // between the two; the watcher compares under this same lock.
  const int watch = inotify_add_watch(state_->inotifyFd, directory.c_str(),
                                      IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE);
  if (watch < 0) {
    return RegStatus::error(RegError::IoError, "cannot watch " + directory + ": " + std::strerror(errno));
  }
  state_->watchedDirectories[watch] = directory;
  state_->requests.push_back(
      {owner, root, path, withSubkeys, file, snapshotOf(root, path, withSubkeys), std::move(event)});
  return RegStatus::ok();
}

void RegistryNotifier::cancel(uint64_t owner) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::erase_if(state_->requests, [owner](const State::Request& request) {
    if (request.owner != owner) return false;
    request.event->set();
    return true;
  });
}

void RegistryNotifier::shutdown() {
  std::thread thread;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (state_->stopped) return;
    state_->stopped = true;
    if (state_->wakeFd >= 0) {
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t n = ::write(state_->wakeFd, &one, sizeof one);
    }
    thread = std::move(state_->thread);
  }
  if (thread.joinable()) thread.join();
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (state_->inotifyFd >= 0) ::close(state_->inotifyFd);
  if (state_->wakeFd >= 0) ::close(state_->wakeFd);
  state_->inotifyFd = state_->wakeFd = -1;
}

void RegistryNotifier::run() {
  pollfd fds[2] = {{state_->inotifyFd, POLLIN, 0}, {state_->wakeFd, POLLIN, 0}};
  alignas(inotify_event) char buffer[8192];
  while (true) {
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLIN) == 0) continue;

    std::set<std::string> changedFiles;
    std::lock_guard<std::mutex> lock(state_->mutex);
    while (true) {
      const ssize_t length = ::read(state_->inotifyFd, buffer, sizeof buffer);
      if (length <= 0) break;
      for (ssize_t offset = 0; offset < length;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
        offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        if ((event->mask & IN_IGNORED) != 0) {
          state_->watchedDirectories.erase(event->wd);
          continue;
        }
        auto directory = state_->watchedDirectories.find(event->wd);
        if (directory == state_->watchedDirectories.end() || event->len == 0) continue;
        const std::string name = event->name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".reg") == 0) {
          changedFiles.insert(directory->second + "/" + name);
        }
      }
    }
    if (changedFiles.empty()) continue;

    std::erase_if(state_->requests, [&](const State::Request& request) {
      if (changedFiles.count(request.file) == 0) return false;
      if (snapshotOf(request.root, request.path, request.withSubkeys) == request.snapshot) return false;
      request.event->set();
      return true;
    });
  }
}

}  // namespace zem
