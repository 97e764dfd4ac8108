// The provider's fixed timings, in milliseconds. The library runs with the
// defaults; tests build provider objects with shorter ones.
#pragma once

#include <cstdint>

struct ProviderTimings {
  int64_t pumpCycleMs = 30;        // sleep between two fetches of the message pump
  int64_t failurePauseMs = 2000;   // pause after a failed or raising fetch
  int64_t keepAliveCycleMs = 15000;
  int64_t initSettleMs = 10;       // wait in ZemlinkInit after starting the threads
  int64_t tracePollMs = 4000;      // the trace facade's look at "IsLogTrace" when it cannot watch the key
};
