// The process-wide objects of libzemlink.so are built when the library is
// loaded and destroyed when it is unloaded; each subsystem that owns such an
// object registers it here, in the order the others depend on it.
//
// One static object stands for the library's lifetime: its constructor runs
// when the library is loaded (before any export can be called) and its
// destructor when the library is unloaded or the process ends. Members are
// built in declaration order and destroyed in reverse.
#include "container/container_runtime.h"
#include "provider/zemlink_provider.h"

namespace {

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

LoadedLibrary loadedLibrary;

}  // namespace
