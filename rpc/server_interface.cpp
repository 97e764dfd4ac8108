#include "rpc/server_interface.h"

#include <utility>

#include "rpc/tcp_socket.h"

namespace rpc {

ContextHandle AssociationGroup::open(std::shared_ptr<ContextObject> object) {
  std::lock_guard lock(mutex_);
  ContextHandle handle;
  do {
    handle.uuid = Uuid::random();
  } while (contexts_.count(handle.uuid) != 0);
  object->handle_ = handle;
  contexts_[handle.uuid] = std::move(object);
  return handle;
}

std::shared_ptr<ContextObject> AssociationGroup::find(const ContextHandle& handle) const {
  std::lock_guard lock(mutex_);
  const auto found = contexts_.find(handle.uuid);
  return found == contexts_.end() ? nullptr : found->second;
}

std::shared_ptr<ContextObject> AssociationGroup::close(const ContextHandle& handle) {
  std::lock_guard lock(mutex_);
  const auto found = contexts_.find(handle.uuid);
  if (found == contexts_.end()) return nullptr;
  std::shared_ptr<ContextObject> object = std::move(found->second);
  contexts_.erase(found);
  return object;
}

std::map<Uuid, std::shared_ptr<ContextObject>> AssociationGroup::takeAll() {
  std::lock_guard lock(mutex_);
  return std::exchange(contexts_, {});
}

bool ServerCall::clientGone() const { return socket_.peerClosed(); }

}  // namespace rpc
