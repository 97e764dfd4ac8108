// ContainerRuntime: the process-wide objects of the message containers: the
// class factory registrations of clBufferItem and clZem_Message_Data, the
// creation lock and the table of live containers.
//
// libzemlink.so builds one when it is loaded and destroys it when it is
// unloaded (lib/library_load.cpp); a test builds its own. While it lives it is
// the current runtime, which the container exports and the provider core
// reach through current(). Only one runtime is current at a time: one built
// while another is current has a lock and a table of its own but neither
// becomes current nor touches the factory.
//
// Destroying the runtime destroys the containers still in its table; no
// export may run at that moment.
//
// Provider core, typical use:
//   ContainerRuntime* runtime = ContainerRuntime::current();
//   ZemContainerHandle handle = runtime->table().insert(std::make_unique<clZem_Message_Data>());
//   if (auto container = runtime->table().acquire(handle)) container->setStatus(10);
//   runtime->table().destroy(handle);
#pragma once

#include "container/container_table.h"
#include "container/osprel_guard.h"
#include "zemlink.h"

namespace zem {

class ContainerRuntime {
 public:
  ContainerRuntime();
  ~ContainerRuntime();
  ContainerRuntime(const ContainerRuntime&) = delete;
  ContainerRuntime& operator=(const ContainerRuntime&) = delete;

  // The current runtime, or null before the first is built and after it is
  // gone.
  static ContainerRuntime* current();

  // The lock that serialises Zem_createDataContainer.
  Osprel_clGuard& creationLock() { return creationLock_; }
  ContainerTable& table() { return table_; }

  // Under the creation lock: allocates a container with its construction
  // values and enters it into the table. Throws std::bad_alloc when that
  // fails (the lock is left in any case).
  ZemContainerHandle createContainer();

 private:
  Osprel_clGuard creationLock_;
  ContainerTable table_;
};

}  // namespace zem
