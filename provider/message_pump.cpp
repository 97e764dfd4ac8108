// The message pump: fetches messages from the server while a provider is
// registered and connected, turns each into a container and queues it for
// the application; re-registers when the server reports the connection lost.
#include <new>

#include "provider/exchange/exchange_text.h"
#include "provider/zemlink_provider.h"

void clZemlink::providerMsgThread(ProviderThread& self) {
  while (self.sleepFor(timings_.pumpCycleMs)) {
    const ProviderContext context = m_Context.get();
    if (m_ProviderId == -1 || context.isNull()) continue;
    if (!m_ServerConnected) {
      trace("providerMsgThread - m_ServerConnected is false, not going to get any messages.\n");
      continue;
    }

    MessageRecord record{};
    MessageData data{};
    const ExchangeResult result = m_Binding.Zem_GetMessageBridge(context, 0, &record, &data, &self.cancellation());
    // A pump stopped while its fetch was under way publishes nothing.
    if (self.stopRequested()) break;
    if (result.raised()) {
      trace("WINAPI clZemlink::providerMsgThread() - caught exception");
      self.sleepFor(timings_.failurePauseMs);
      continue;
    }
    if (result.value == TARVO_ERROR_CONNECTION_LOST) {
      reRegister(self);
      continue;
    }
    if (result.value != TARVO_SUCCESS) {
      trace("WINAPI clZemlink::providerMsgThread() - Zem_GetMessageBridge() return %d\n", result.value);
      self.sleepFor(timings_.failurePauseMs);
      continue;
    }
    handleFetchedMessage(self, record, data);
  }
}

void clZemlink::reRegister(ProviderThread& self) {
  const int32_t providerId = m_ProviderId;
  trace("providerMsgThread - Lost connection to Tarvo, try to re-connect using ID %d\n", providerId);
  int32_t result = ZEM_ERROR_NOT_REGISTERED;
  {
    std::lock_guard<zem::Osprel_clGuard> guard(m_Guard);
    // The application may have de-registered (and so stopped this pump)
    // while the lock was taken; then there is nothing to restore.
    if (!self.stopRequested() && providerId != -1 && m_ProviderId == providerId) {
      // The server calls are bounded: they hold the lock every export needs.
      result = registerLocked(static_cast<uint32_t>(providerId), &self.cancellation(), timings_.boundedCallMs);
      if (result != ZEM_SUCCESS && m_ProviderId == -1 && !self.stopRequested()) {
        // Left unregistered without a word, the application would wait for
        // messages for ever. The provider stays registered but disconnected,
        // and the application gets the error event that tells it to
        // register again, as after a failed keep-alive.
        m_ProviderId = providerId;
        publish(makeEvent(ZEM_MSG_ERROR, ZEM_ERROR_SERVER), &self);
      }
    }
  }
  if (result == ZEM_SUCCESS) {
    trace("********Re-Registering of provider SUCCESSFUL*********\n");
  } else {
    trace("********Re-Registering of provider FAILED*********\n");
  }
}

void clZemlink::handleFetchedMessage(ProviderThread& self, const MessageRecord& record, const MessageData& data) {
  const int32_t queued = m_Queue.count();
  const int32_t limit = m_MaxQueue;
  if (queued > limit) {
    // The queue is full: the fetched message is dropped, the application
    // gets an error event in its place, and fetching stops until it
    // registers again. Without a container the message is simply lost.
    if (!publish(makeEvent(ZEM_MSG_ERROR, ZEM_ERROR_SERVER), &self)) return;
    m_ServerConnected = false;
    traceOn("providerMsg - Queue exceeds the MAX QUEUE REQUEST(%d)\n", limit);
    return;
  }

  zem::ContainerTable& table = containers_.table();
  ZemContainerHandle handle = 0;
  try {
    handle = containers_.createContainer();
  } catch (const std::bad_alloc&) {
    return;  // the message is lost
  }

  // The container is filled before it enters the queue, so that no other
  // thread sees it half filled.
  if (zem::ContainerTable::Ref container = table.acquire(handle)) {
    container->setCallID(record.Call.CallId);
    container->setNetworkCallID(record.Call.NetworkCallId);
    container->setNodeID(record.Call.NodeId);
    container->setHeldCallID(record.Call.HeldCallId);
    container->setCallHandle(record.Call.ReservedCallReference);
    container->setServerID(record.MsgReferenceId);
    container->setReferenceID(record.MsgReferenceId);
    container->setProviderID(record.MsgProviderId);
    container->setMessageType(record.MsgType != 0 ? ZEM_MSG_REQUEST : ZEM_MSG_INFO);
    container->setStatus(ZEM_SUCCESS);

    traceOn("Zem_GetMessageBridge\n");
    traceOn(
        "\tMsgReferenceId %d, MsgProviderId %d, CallId %d, NetworkCallId %d, NodeId %d, HeldCallId %d, "
        "ReservedCallReference %d, MsgType %d - MsgCounter %d\n",
        record.MsgReferenceId, record.MsgProviderId, record.Call.CallId, record.Call.NetworkCallId, record.Call.NodeId,
        record.Call.HeldCallId, record.Call.ReservedCallReference, record.MsgType, queued);
    try {
      for (int i = 0; i < kStringCount; ++i) {
        const std::string text = wireStringToNarrow(data.Strings[i]);
        if (text.empty()) {
          traceOn("\t (Message %d, NULL) \n", i);
        } else {
          traceOn("\t (Message %d, %s) \n", i, text.c_str());
        }
        if (i == 0) {
          // The type takes items and a text that fits is refused only when
          // the item store cannot be had: the message cannot be handed on.
          if (!container->setFirstItem(text.c_str()) && text.size() <= zem::clZem_Message_Data::kMaxItemLength) {
            container = {};
            table.destroy(handle);
            return;
          }
        } else {
          container->setNextItem(text.c_str());
        }
      }
    } catch (const std::bad_alloc&) {
      // A text that cannot be converted: the message is lost.
      container = {};
      table.destroy(handle);
      return;
    }
    traceOn("\n");
  }

  publish(handle, &self);
}
