// The provider's fixed timings, in milliseconds. The library runs with the
// defaults; tests build provider objects with shorter ones.
#pragma once

#include <cstdint>

#include "provider/exchange/exchange_client.h"

struct ProviderTimings {
  int64_t pumpCycleMs = 30;        // sleep between two fetches of the message pump
  int64_t failurePauseMs = 2000;   // pause after a failed or raising fetch
  int64_t keepAliveCycleMs = 15000;
  int64_t initSettleMs = 10;       // wait in ZemlinkInit after starting the threads
  // The longest wait for the server on paths that nobody may be held on
  // for ever: the de-registration of ZemlinkDeInit and of unloading (the
  // application's exit waits for it) and the pump's re-registration (it
  // holds the provider lock). As long as a connection may take to open: a
  // server that has not answered by then is treated like one that cannot
  // be reached, and it runs the registration down once the connections close.
  int boundedCallMs = 5000;
  // The deadline of each call to the server (see exchange_client.h).
  ExchangeDeadlines deadlines;

  int64_t tracePollMs = 4000;      // the trace facade's look at "IsLogTrace" when it cannot watch the key
};
