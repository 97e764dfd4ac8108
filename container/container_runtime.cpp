#include "container/container_runtime.h"

#include <atomic>
#include <mutex>

#include "container/buffer_item.h"
#include "container/class_factory.h"

namespace zem {
namespace {

std::atomic<ContainerRuntime*> currentRuntime{nullptr};

}  // namespace

ContainerRuntime::ContainerRuntime() {
  ContainerRuntime* none = nullptr;
  if (!currentRuntime.compare_exchange_strong(none, this, std::memory_order_acq_rel)) return;
  ClassFactory& factory = ClassFactory::instance();
  factory.add(&clBufferItem::create, clBufferItem::kClassId, clBufferItem::kFactoryName);
  factory.add(&clZem_Message_Data::create, clZem_Message_Data::kClassId, clZem_Message_Data::kFactoryName);
}

ContainerRuntime::~ContainerRuntime() {
  ContainerRuntime* self = this;
  if (!currentRuntime.compare_exchange_strong(self, nullptr, std::memory_order_acq_rel)) return;
  ClassFactory& factory = ClassFactory::instance();
  factory.remove(clBufferItem::kClassId);
  factory.remove(clBufferItem::kFactoryName);
  factory.remove(clZem_Message_Data::kClassId);
  factory.remove(clZem_Message_Data::kFactoryName);
}

ContainerRuntime* ContainerRuntime::current() { return currentRuntime.load(std::memory_order_acquire); }

ZemContainerHandle ContainerRuntime::createContainer() {
  std::lock_guard lock(creationLock_);
  return table_.insert(std::unique_ptr<clZem_Message_Data>(new clZem_Message_Data()));
}

}  // namespace zem
