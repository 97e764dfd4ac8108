// The process-wide objects of the library, built when it is loaded; each
// subsystem that owns such an object registers it here, in the order the
// others depend on it. Members are built in declaration order and destroyed
// in reverse. When the one object of this class is made and whether it is
// ever destroyed is the platform's matter: library_load_posix.cpp and
// library_load_windows.cpp.
#pragma once

#include "container/container_runtime.h"
#include "provider/zemlink_provider.h"

class LoadedLibrary {
 public:
  LoadedLibrary() = default;

 private:
  // The factory registrations of the container classes, the creation lock
  // and the table of live containers.
  zem::ContainerRuntime containers_;
  // The one provider object. It goes first at unload: it de-registers and
  // stops and joins its threads, which must not outlive the library's code.
  clZemlink provider_{containers_};
};
