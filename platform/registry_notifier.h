// Change notification for the settings store.
//
// One watcher thread per process follows the store directories with inotify.
// A request remembers the text of the watched key (and its subkeys) as it was
// when the request was made; when a store file is replaced or written, by this
// process or any other, the watcher compares again and sets the request's
// event once when the text differs. A change elsewhere in the file therefore
// never signals.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/event.h"
#include "platform/registry_types.h"

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
  // Stops and joins the watcher thread (at process end or library unload).
  void shutdown();

 private:
  struct State;
  RegistryNotifier();
  void run();

  std::unique_ptr<State> state_;
};

}  // namespace zem
