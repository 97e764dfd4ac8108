// The keep-alive thread: every cycle it refreshes the trace flag, and while
// a provider is registered and connected it follows the queue limit in the
// settings store and tells the server the provider is alive. A failure
// becomes one error event, after which the provider counts as disconnected.
// A mute server is one such failure: the keepAlive fails at its deadline.
#include <new>

#include "provider/provider_settings.h"
#include "provider/zemlink_provider.h"

void clZemlink::providerKeepAliveThread(ProviderThread& self) {
  while (self.sleepFor(timings_.keepAliveCycleMs)) {
    m_TraceOn = m_Trace.isLoggerRunning();
    const ProviderContext context = m_Context.get();
    if (m_ProviderId == -1 || context.isNull()) continue;
    if (!m_ServerConnected) {
      trace("providerKeepAliveThread - m_ServerConnected is false, not going send any more keep alive msg's.\n");
      continue;
    }

    followQueueLimit();
    followFetchBurst();
    const ExchangeResult result = m_Binding.keepAlive(context, &self.cancellation());
    if (self.stopRequested()) break;
    if (result.succeeded()) continue;
    // A call past its deadline (a server that keeps the connection and
    // says nothing) is a raised call like a broken connection.
    if (result.raised()) {
      traceOn("providerMsgThread Exception occurred on a call to the bridge..\n");
      if (reportConnectionLost(self, context)) traceOn("providerMsgThread Exception from HalcynBridge\n");
      continue;
    }

    traceOn("providerMsgThread - an error occured when sending the keepAlive Msg.. \n");
    if (result.value == TARVO_ERROR_PARAMETER) traceOn("providerMsgThread - RPC rewturn was TARVO_ERROR_PARAMETER.. \n");
    if (result.value == TARVO_ERROR_SERVER_CONNECT) {
      traceOn("providerMsgThread - RPC rewturn was TARVO_ERROR_SERVER_CONNECT.. \n");
    }
    if (reportConnectionLost(self, context)) traceOn("providerMsgThread Exception from HalcynServer\n");
  }
}

void clZemlink::followQueueLimit() {
  const std::optional<int32_t> stored = zem::readQueueLimit();
  const int32_t current = m_MaxQueue;
  if (!stored) {
    // Missing or unreadable: written back with the current limit; a
    // refused write is tried again next cycle.
    zem::writeQueueLimit(current);
    return;
  }
  if (*stored != current) {
    m_MaxQueue = *stored;
    trace("providerMsgThread - ProviderQueueSize has chanegd from %d to be %d\n", current, *stored);
  }
}

void clZemlink::followFetchBurst() {
  const zem::StoredFetchBurst stored = zem::readFetchBurst();
  const int32_t current = m_FetchBurst;
  if (!stored.present) {
    // Missing: the burst in force stays. The store is left alone while that
    // is the default, and shows any other value in force.
    if (current != zem::kDefaultFetchBurst) zem::writeFetchBurst(current);
    return;
  }
  if (!stored.usable) {
    // Refused (no number, 0, or past the largest burst): written back with
    // the value in force, so that the store shows what applies.
    trace("providerMsgThread - ProviderFetchBurst refused, %d stays\n", current);
    zem::writeFetchBurst(current);
    return;
  }
  const int32_t burst = static_cast<int32_t>(stored.value);
  if (burst != current) {
    m_FetchBurst = burst;
    trace("providerMsgThread - ProviderFetchBurst has changed from %d to be %d\n", current, burst);
  }
}
