#include "provider/provider_settings.h"

#include "platform/settings/settings_store.h"
#include "provider/profile_settings.h"

namespace zem {

std::optional<int32_t> readQueueLimit() {
  RegistryKey key;
  if (!RegistryKey::open(RootKey::LocalMachine, kProviderKeyPath, key).isOk()) return std::nullopt;
  uint32_t value = 0;
  if (!key.queryDword(kQueueSizeValue, value).isOk()) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool writeQueueLimit(int32_t limit) {
  RegistryKey key;
  if (!RegistryKey::create(RootKey::LocalMachine, kProviderKeyPath, key).isOk()) return false;
  return key.setDword(kQueueSizeValue, static_cast<uint32_t>(limit)).isOk();
}

std::string readServerPort() {
  constexpr size_t kPortTextLimit = 1023;
  std::string port = readProfileString("zemlink.ini", "RPC", "PORT", "1550");
  if (port.size() > kPortTextLimit) port.resize(kPortTextLimit);
  return port;
}

}  // namespace zem
