// A loadable module built from the platform code, as libzemlink.so is. Its one
// export leaves a store notification pending that no key handle can cancel, so
// only the notifier's own shutdown at unloading can release it. Loaded and
// unloaded by notifier_unload.
#include <memory>

#include "platform/settings/registry_notifier.h"

extern "C" __attribute__((visibility("default"))) int zemTestArmNotification(void) {
  const zem::RegStatus armed = zem::RegistryNotifier::instance().arm(
      1, zem::RootKey::LocalMachine, "SOFTWARE\\Unload", true, std::make_shared<zem::Event>());
  return armed ? 0 : 1;
}
