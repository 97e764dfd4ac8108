// The container family of libzemlink.so: create, destroy, read and write
// message containers through their handles.
//
// Every function looks its handle up in the current runtime's table
// (container_runtime.h); 0, numbers never issued and handles of destroyed
// containers get the bad-handle result of the function. The container stays
// pinned only while the function works on it, never while it writes output.
// The six functions that may meet an exception while working on a container
// report it in the exception log and return their failure value.
#include <cstdio>
#include <cstring>
#include <optional>

#include "container/container_runtime.h"
#include "container/exception_log.h"
#include "container/fail_points.h"
#include "zemlink.h"

namespace {

using zem::ContainerRuntime;
using zem::ContainerTable;
using zem::FailPoint;
using zem::clZem_Message_Data;
using zem::hitFailPoint;
using zem::logException;

ContainerTable::Ref find(ZemContainerHandle handle) {
  ContainerRuntime* runtime = ContainerRuntime::current();
  if (runtime == nullptr) return {};
  return runtime->table().acquire(handle);
}

// A field reader: the field of a live container, else the reader's fixed value.
template <typename Read>
int32_t readField(ZemContainerHandle handle, int32_t badHandleValue, Read read) {
  ContainerTable::Ref container = find(handle);
  return container ? read(*container) : badHandleValue;
}

// A field writer: ZEM_SUCCESS, or ZEM_ERROR_BAD_CONTAINER.
template <typename Write>
int32_t writeField(ZemContainerHandle handle, Write write) {
  ContainerTable::Ref container = find(handle);
  if (!container) return ZEM_ERROR_BAD_CONTAINER;
  write(*container);
  return ZEM_SUCCESS;
}

int32_t itemResult(bool stored, const clZem_Message_Data& container) {
  if (stored) return ZEM_SUCCESS;
  return container.getItemError() == ZEM_ERROR_ITEM_TOO_LONG ? ZEM_ERROR_ITEM_TOO_LONG : ZEM_ERROR_ITEM_REFUSED;
}

// The call-handle functions write one line per call; the line goes out at
// once, so that it stands in order with what the application writes.
void printLine(const char* line) {
  std::fputs(line, stdout);
  std::fflush(stdout);
}

void logItemException(const char* function, ZemContainerHandle handle, const char* text) {
  logException("An exception occured at %s", function);
  logException("hData: %u, Len(szData): %ld, szData: %s", handle,
               text == nullptr ? 0L : static_cast<long>(std::strlen(text)), text == nullptr ? "(null)" : text);
}

}  // namespace

extern "C" {

ZemContainerHandle Zem_createDataContainer(void) {
  ContainerRuntime* runtime = ContainerRuntime::current();
  if (runtime == nullptr) return 0;
  try {
    return runtime->createContainer();
  } catch (...) {
    logException("An exception occured at Zem_createDataContainer");
    return 0;
  }
}

int32_t Zem_destroyDataContainer(ZemContainerHandle hData) {
  ContainerRuntime* runtime = ContainerRuntime::current();
  if (hData == 0 || runtime == nullptr) return ZEM_ERROR_BAD_CONTAINER;
  return runtime->table().destroy(hData) ? ZEM_SUCCESS : ZEM_ERROR_BAD_CONTAINER;
}

int32_t Zem_getMessageType(ZemContainerHandle hData) {
  return readField(hData, ZEM_MSG_NONE, [](const clZem_Message_Data& c) { return c.getMessageType(); });
}

int32_t Zem_setMessageType(ZemContainerHandle hData, int32_t eMsgType) {
  try {
    ContainerTable::Ref container = find(hData);
    if (!container) return ZEM_ERROR_BAD_CONTAINER;
    hitFailPoint(FailPoint::ContainerAccess);
    container->setMessageType(eMsgType);
    return ZEM_SUCCESS;
  } catch (...) {
    logException("An exception occured at Zem_setMessageType");
    logException("hData: %u, eMsgType: %d", hData, eMsgType);
    return ZEM_ERROR_BAD_CONTAINER;
  }
}

int32_t Zem_getStatus(ZemContainerHandle hData) {
  return readField(hData, ZEM_ERROR_BAD_CONTAINER, [](const clZem_Message_Data& c) { return c.getStatus(); });
}

int32_t Zem_setStatus(ZemContainerHandle hData, int32_t status) {
  return writeField(hData, [status](clZem_Message_Data& c) { c.setStatus(status); });
}

int32_t Zem_getServerID(ZemContainerHandle hData) {
  // A bad handle gives 8, the value of ZEM_MSG_NONE, not 0.
  return readField(hData, ZEM_MSG_NONE, [](const clZem_Message_Data& c) { return c.getServerID(); });
}

int32_t Zem_setServerID(ZemContainerHandle hData, int32_t serverId) {
  return writeField(hData, [serverId](clZem_Message_Data& c) { c.setServerID(serverId); });
}

int32_t Zem_getReferenceID(ZemContainerHandle hData) {
  return readField(hData, 0, [](const clZem_Message_Data& c) { return c.getReferenceID(); });
}

int32_t Zem_setReferenceID(ZemContainerHandle hData, int32_t referenceId) {
  return writeField(hData, [referenceId](clZem_Message_Data& c) { c.setReferenceID(referenceId); });
}

int32_t Zem_getCallID(ZemContainerHandle hData) {
  return readField(hData, 0, [](const clZem_Message_Data& c) { return c.getCallID(); });
}

int32_t Zem_setCallID(ZemContainerHandle hData, int32_t callId) {
  return writeField(hData, [callId](clZem_Message_Data& c) { c.setCallID(callId); });
}

int32_t Zem_getHeldCallID(ZemContainerHandle hData) {
  return readField(hData, 0, [](const clZem_Message_Data& c) { return c.getHeldCallID(); });
}

int32_t Zem_setHeldCallID(ZemContainerHandle hData, int32_t heldCallId) {
  return writeField(hData, [heldCallId](clZem_Message_Data& c) { c.setHeldCallID(heldCallId); });
}

int32_t Zem_getNetworkCallID(ZemContainerHandle hData) {
  return readField(hData, 0, [](const clZem_Message_Data& c) { return c.getNetworkCallID(); });
}

int32_t Zem_setNetworkCallID(ZemContainerHandle hData, int32_t networkCallId) {
  return writeField(hData, [networkCallId](clZem_Message_Data& c) { c.setNetworkCallID(networkCallId); });
}

int32_t Zem_getNodeID(ZemContainerHandle hData) {
  return readField(hData, 0, [](const clZem_Message_Data& c) { return c.getNodeID(); });
}

int32_t Zem_setNodeID(ZemContainerHandle hData, int32_t nodeId) {
  return writeField(hData, [nodeId](clZem_Message_Data& c) { c.setNodeID(nodeId); });
}

int32_t Zem_getCallHandle(ZemContainerHandle hData) {
  std::optional<int32_t> callHandle;
  if (ContainerTable::Ref container = find(hData)) callHandle = container->getCallHandle();
  if (!callHandle) {
    printLine("Zem_getCallHandle - Bad container\n");
    return 0;
  }
  std::printf("Zem_getCallHandle - CallHandle=%d\n", *callHandle);
  std::fflush(stdout);
  return *callHandle;
}

int32_t Zem_setCallHandle(ZemContainerHandle hData, int32_t callHandle) {
  const int32_t result = writeField(hData, [callHandle](clZem_Message_Data& c) { c.setCallHandle(callHandle); });
  if (result == ZEM_SUCCESS) {
    std::printf("Zem_setCallHandle(): CallHandle=%d\n", callHandle);
    std::fflush(stdout);
  } else {
    printLine("Zem_setCallHandle(): Bad container\n");
  }
  return result;
}

const char* Zem_getFirstItem(ZemContainerHandle hData) {
  try {
    ContainerTable::Ref container = find(hData);
    if (!container) return nullptr;
    hitFailPoint(FailPoint::ContainerAccess);
    return container->getFirstItem();
  } catch (...) {
    logException("An exception occured at Zem_getFirstItem");
    logException("hData: %u", hData);
    return nullptr;
  }
}

const char* Zem_getNextItem(ZemContainerHandle hData) {
  try {
    ContainerTable::Ref container = find(hData);
    if (!container) return nullptr;
    hitFailPoint(FailPoint::ContainerAccess);
    return container->getNextItem();
  } catch (...) {
    logException("An exception occured at Zem_getNextItem");
    logException("hData: %u", hData);
    return nullptr;
  }
}

int32_t Zem_setFirstItem(ZemContainerHandle hData, const char* szData) {
  if (hData == 0) return ZEM_ERROR_BAD_CONTAINER;
  try {
    ContainerTable::Ref container = find(hData);
    if (!container) return ZEM_ERROR_BAD_CONTAINER;
    hitFailPoint(FailPoint::ContainerAccess);
    return itemResult(container->setFirstItem(szData), *container);
  } catch (...) {
    logItemException("Zem_setFirstItem", hData, szData);
    return ZEM_ERROR_BAD_CONTAINER;
  }
}

int32_t Zem_setNextItem(ZemContainerHandle hData, const char* szData) {
  if (hData == 0) return ZEM_ERROR_BAD_CONTAINER;
  try {
    ContainerTable::Ref container = find(hData);
    if (!container) return ZEM_ERROR_BAD_CONTAINER;
    hitFailPoint(FailPoint::ContainerAccess);
    return itemResult(container->setNextItem(szData), *container);
  } catch (...) {
    logItemException("Zem_setNextItem", hData, szData);
    return ZEM_ERROR_BAD_CONTAINER;
  }
}

}  // extern "C"
