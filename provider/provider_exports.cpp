// The provider family of libzemlink.so: bind, register, take events and send
// completions. Each export works on the process's provider object and
// returns its result code; no exception leaves an export.
#include "provider/zemlink_provider.h"
#include "zemlink.h"

namespace {

// Runs the operation on the current provider; without one (before the
// library is loaded, or once its unload has begun) the library is not ready.
// The provider stays until the operation has returned.
template <typename Operation>
int32_t onProvider(int32_t failure, Operation operation) {
  const clZemlink::ExportCall provider;
  if (!provider) return ZEM_ERROR_NOT_READY;
  try {
    return operation(*provider);
  } catch (...) {
    return failure;
  }
}

}  // namespace

extern "C" {

int32_t ZemlinkInit(int32_t reserved, void* /*ignored*/, const char* serverAddress) {
  return onProvider(ZEM_ERROR_CONNECT, [&](clZemlink& p) { return p.initializeComm(reserved, serverAddress); });
}

int32_t ZemlinkDeInit(void) {
  return onProvider(ZEM_SUCCESS, [](clZemlink& p) { return p.deInitializeComm(); });
}

int32_t Zem_RegisterProvider(uint32_t providerId) {
  return onProvider(ZEM_ERROR_CONNECT, [&](clZemlink& p) { return p.registerProvider(providerId); });
}

int32_t Zem_DeRegisterProvider(void) {
  return onProvider(ZEM_ERROR_SERVER, [](clZemlink& p) { return p.deRegisterProvider(); });
}

int32_t Zem_GetEvent(int32_t mode, ZemContainerHandle* handleOut) {
  return onProvider(ZEM_NO_EVENT, [&](clZemlink& p) { return p.getEvent(mode, handleOut); });
}

int32_t Zem_SendServiceComplete(ZemContainerHandle* handleRef) {
  return onProvider(ZEM_ERROR_SERVER, [&](clZemlink& p) { return p.sendCompletion(handleRef); });
}

int32_t Zem_ResponseReceived(ZemContainerHandle* handleRef) {
  return onProvider(ZEM_ERROR_BAD_CONTAINER, [&](clZemlink& p) { return p.releaseContainer(handleRef); });
}

int32_t Zem_InfoReceived(ZemContainerHandle* handleRef) {
  return onProvider(ZEM_ERROR_BAD_CONTAINER, [&](clZemlink& p) { return p.releaseContainer(handleRef); });
}

}  // extern "C"
