#include "provider/provider_settings.h"

#include "platform/settings/settings_store.h"
#include "provider/profile_settings.h"

namespace zem {
namespace {

// Stores a REG_DWORD under the provider key, creating the key when needed.
bool writeProviderDword(const char* name, int32_t value) {
  RegistryKey key;
  if (!RegistryKey::create(RootKey::LocalMachine, kProviderKeyPath, key).isOk()) return false;
  return key.setDword(name, static_cast<uint32_t>(value)).isOk();
}

}  // namespace

std::optional<int32_t> readQueueLimit() {
  RegistryKey key;
  if (!RegistryKey::open(RootKey::LocalMachine, kProviderKeyPath, key).isOk()) return std::nullopt;
  uint32_t value = 0;
  if (!key.queryDword(kQueueSizeValue, value).isOk()) return std::nullopt;
  return static_cast<int32_t>(value);
}

bool writeQueueLimit(int32_t limit) { return writeProviderDword(kQueueSizeValue, limit); }

StoredFetchBurst readFetchBurst() {
  StoredFetchBurst stored;
  RegistryKey key;
  if (!RegistryKey::open(RootKey::LocalMachine, kProviderKeyPath, key).isOk()) return stored;
  const RegStatus status = key.queryDword(kFetchBurstValue, stored.value);
  stored.present = status.isOk() || status.code == RegError::WrongType;
  stored.usable = status.isOk() && stored.value >= 1 && stored.value <= static_cast<uint32_t>(kMaxFetchBurst);
  return stored;
}

bool writeFetchBurst(int32_t burst) { return writeProviderDword(kFetchBurstValue, burst); }

std::string readServerPort() {
  constexpr size_t kPortTextLimit = 1023;
  std::string port = readProfileString("zemlink.ini", "RPC", "PORT", "1550");
  if (port.size() > kPortTextLimit) port.resize(kPortTextLimit);
  return port;
}

}  // namespace zem
