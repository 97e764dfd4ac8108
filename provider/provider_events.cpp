// Handing messages to the application and taking its answers: getEvent,
// sendCompletion and the release of a container it has finished with.
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <string>

#include "provider/exchange/exchange_text.h"
#include "provider/zemlink_provider.h"

int32_t clZemlink::getEvent(int32_t mode, ZemContainerHandle* handleOut) {
  // The caller's variable is cleared before anything else; a null pointer
  // cannot take a handle and counts as a bad argument.
  if (handleOut == nullptr) return ZEM_ERROR_PARAMETER;
  *handleOut = 0;
  if (mode != ZEM_EVENT_WAIT && mode != ZEM_EVENT_POLL) return ZEM_ERROR_PARAMETER;

  std::unique_lock<zem::Osprel_clGuard> guard(m_Guard);
  if (!m_Initialized) return ZEM_ERROR_NOT_READY;
  zem::ContainerTable& table = containers_.table();

  const ZemContainerHandle handle = m_Queue.take(0);
  if (handle != 0) {
    zem::ContainerTable::Ref container = table.acquire(handle);
    const int32_t type = container ? container->getMessageType() : ZEM_MSG_NONE;
    const int32_t status = container ? container->getStatus() : 0;
    // Status events of a registration's start and end reach the
    // application whether a provider is registered or not.
    if (type == ZEM_MSG_PROVIDER_STATUS && (status == ZEM_STATUS_REGISTERED || status == ZEM_STATUS_DEREGISTERED)) {
      traceOn(status == ZEM_STATUS_REGISTERED ? "- RegisterProvider Completed\n" : "- DeregisterProvider Completed\n");
      *handleOut = handle;
      return ZEM_SUCCESS;
    }
    if (m_ProviderId == -1) {
      container = {};
      table.destroy(handle);
      return ZEM_NO_EVENT;
    }
    *handleOut = handle;
    if (m_TraceOn && container) {
      traceOn("API Call getEvent \n");
      traceOn(
          "\tServerID(MsgReferenceId) %d, MsgProviderId %d, CallId %d, NetworkCallId %d, NodeId %d, HeldCallId %d, "
          "ReservedCallReference %d, MsgType %d - MsgCounter %d\n\n",
          container->getServerID(), container->getProviderID(), container->getCallID(),
          container->getNetworkCallID(), container->getNodeID(), container->getHeldCallID(),
          container->getCallHandle(), type, m_Queue.count());
    }
    return ZEM_SUCCESS;
  }

  if (mode == ZEM_EVENT_POLL) return ZEM_NO_EVENT;

  // Waiting: the provider lock is given up meanwhile, so that the other
  // exports go on. A queue reset ends the wait with nothing, also one that
  // comes between giving up the lock and the start of the wait.
  const uint64_t resets = m_Queue.resetCount();
  guard.unlock();
  const ZemContainerHandle waited = m_Queue.take(RequestQueue::kInfinite, resets);
  guard.lock();
  if (m_ProviderId == -1) {
    if (waited != 0) table.destroy(waited);
    return ZEM_NO_EVENT;
  }
  *handleOut = waited;
  return ZEM_SUCCESS;
}

int32_t clZemlink::sendCompletion(const ZemContainerHandle* handleRef) {
  std::lock_guard<zem::Osprel_clGuard> guard(m_Guard);
  if (!m_Initialized) return ZEM_ERROR_NOT_READY;
  if (handleRef == nullptr) return ZEM_ERROR_BAD_CONTAINER;

  MessageRecord record{};
  MessageData data{};
  {
    zem::ContainerTable::Ref container = containers_.table().acquire(*handleRef);
    if (!container) return ZEM_ERROR_BAD_CONTAINER;
    record.MsgReferenceId = container->getServerID();
    traceOn("sendCompletion - Send Response to request\n");
    traceOn("\tMsgReferenceId %d\n", record.MsgReferenceId);
    for (int i = 0; i < kStringCount; ++i) {
      const char* item = i == 0 ? container->getFirstItem() : container->getNextItem();
      if (item == nullptr) break;
      traceOn("\t (Message %d, %s) \n", i, item);
      narrowToWireString(item, data.Strings[i]);
    }
    traceOn("\n");
  }

  const ExchangeResult result = m_Binding.sendCompletion(m_Context.get(), record, data);
  if (result.raised()) {
    traceOn("sendCompletion Exception HalcynBridge Return\n");
    return ZEM_ERROR_SERVER;
  }
  if (result.value != 0) {
    traceOn("sendCompletion Exception HalcynServer Return\n");
    return ZEM_ERROR_SERVER;
  }
  return ZEM_SUCCESS;
}

int32_t clZemlink::releaseContainer(ZemContainerHandle* handleRef) {
  if (handleRef == nullptr || *handleRef == 0) return ZEM_ERROR_BAD_CONTAINER;
  if (!containers_.table().destroy(*handleRef)) return ZEM_ERROR_BAD_CONTAINER;
  *handleRef = 0;
  return ZEM_SUCCESS;
}
