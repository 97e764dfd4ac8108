// Drives the settings store from a separate process for the store tests.
//   store_helper write KEY PREFIX COUNT   sets PREFIX0..PREFIX<COUNT-1> = 0..COUNT-1
//   store_helper wait KEY TIMEOUT_MS      prints "armed", then "signalled" or "timeout"
//   store_helper final-shutdown KEY       arms a request, shuts the notifier down for good,
//                                         prints "released" when that set the request's event,
//                                         then the error a new request gets
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/settings/registry_notifier.h"
#include "platform/settings/settings_store.h"

int main(int argc, char** argv) {
  if (argc < 3 || argc > 5) return 2;
  const std::string verb = argv[1];
  zem::RootKey root;
  std::string path;
  if (!zem::splitKeyName(argv[2], root, path)) return 2;
  zem::RegistryKey key;
  if (!zem::RegistryKey::create(root, path, key)) return 3;

  if (verb == "write" && argc == 5) {
    const int count = std::atoi(argv[4]);
    for (int i = 0; i < count; ++i) {
      const zem::RegStatus status = key.setDword(std::string(argv[3]) + std::to_string(i), static_cast<uint32_t>(i));
      if (!status) {
        std::fprintf(stderr, "%s\n", status.message.c_str());
        return 1;
      }
    }
    return 0;
  }
  if (verb == "wait" && argc == 4) {
    auto event = std::make_shared<zem::Event>();
    if (!key.notifyChange(true, event)) return 4;
    std::printf("armed\n");
    std::fflush(stdout);
    std::printf("%s\n", event->wait(std::atoi(argv[3])) ? "signalled" : "timeout");
    return 0;
  }
  if (verb == "final-shutdown" && argc == 3) {
    auto pending = std::make_shared<zem::Event>();
    if (!key.notifyChange(true, pending)) return 4;
    zem::RegistryNotifier::instance().shutdownForGood();
    if (pending->wait(0)) std::printf("released\n");
    const zem::RegStatus refused = key.notifyChange(true, std::make_shared<zem::Event>());
    std::printf("%s\n", refused ? "armed" : refused.message.c_str());
    return 0;
  }
  return 2;
}
