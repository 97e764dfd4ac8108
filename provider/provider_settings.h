// Where the provider keeps its settings: the registry key below
// HKEY_LOCAL_MACHINE that also configures its trace, the queue limit in it,
// and the profile file that names the server's port.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zem {

inline constexpr const char* kProviderKeyPath = "SOFTWARE\\Brasken\\Quorin\\Tarvo";
inline constexpr const char* kQueueSizeValue = "ProviderQueueSize";
inline constexpr int32_t kDefaultQueueLimit = 200;
inline constexpr const char* kFetchBurstValue = "ProviderFetchBurst";
inline constexpr int32_t kDefaultFetchBurst = 1;
inline constexpr int32_t kMaxFetchBurst = 1000;

// "ProviderQueueSize" as a signed number (no range check), or nothing when
// it cannot be read: the key does not open, the value is missing, or it is
// not a REG_DWORD.
std::optional<int32_t> readQueueLimit();
// Stores the limit as the REG_DWORD "ProviderQueueSize", creating the key
// when needed; false when the store refused.
bool writeQueueLimit(int32_t limit);

// "ProviderFetchBurst" as the store holds it.
struct StoredFetchBurst {
  bool present = false;  // the key opens and the value exists
  bool usable = false;   // present, a REG_DWORD from 1 to kMaxFetchBurst
  uint32_t value = 0;    // the number, when it is a REG_DWORD
};
StoredFetchBurst readFetchBurst();
// Stores the burst as the REG_DWORD "ProviderFetchBurst", creating the key
// when needed; false when the store refused.
bool writeFetchBurst(int32_t burst);

// The port text of "zemlink.ini" in the current directory (section "RPC",
// key "PORT", default "1550"), at most 1023 characters.
std::string readServerPort();

}  // namespace zem
