// Change notification for the settings store.
//
// One watcher thread per process follows the store directories with inotify.
// A request remembers the text of the watched key (and its subkeys) as it was
// when the request was made; when a store file is replaced or written, by this
// process or any other, the watcher compares again and sets the request's
// event once when the text differs. A change elsewhere in the file therefore
// never signals.
//
// Lifetime: the notifier itself is a constant-initialised object without a
// destructor, so a key handle may still cancel its request while static
// objects are being destroyed. Everything it owns (the watcher thread, its
// descriptors, the pending requests) is made by the first request and
// released by shutdown(), which the process end and the unloading of the
// library both call. All operations are safe from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "platform/event.h"
#include "platform/settings/registry_types.h"

namespace zem {

class RegistryNotifier {
 public:
  // The process's notifier; its thread starts with the first request.
  static RegistryNotifier& instance();

  // Adds a one-shot request on behalf of the key handle `owner`.
  RegStatus arm(uint64_t owner, RootKey root, const std::string& path, bool withSubkeys,
                std::shared_ptr<Event> event);
  // Drops the owner's pending requests and sets their events.
  void cancel(uint64_t owner);

  // Stops and joins the watcher thread, sets the events of every pending
  // request (as closing their keys would) and releases all the notifier
  // holds. A later request starts a new watcher.
  void shutdown();
  // shutdown() at the end of the process or of the loaded library: from then
  // on a request is refused with an error, so that no thread can start in
  // code that is about to go away.
  void shutdownForGood();

 private:
  struct Watcher;
  constexpr RegistryNotifier() = default;

  std::mutex mutex_;
  Watcher* watcher_ = nullptr;  // owned; guarded by mutex_, as is everything in it
  bool refusing_ = false;
};

}  // namespace zem
