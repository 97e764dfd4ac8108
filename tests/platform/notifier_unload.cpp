// Loads notifier_module with dlopen(), leaves a store notification pending
// and unloads it again, twice: the unloading must end the watcher thread and
// close its descriptors (counted in /proc/self), and free every byte the
// notifier held (checked by valgrind and the leak sanitizer around this
// program).
//
// Usage: notifier_unload PATH-TO-notifier_module.so
#include <dlfcn.h>

#include <cstdio>

#include "support/proc_self.h"
#include "support/temp_root.h"

namespace {

constexpr const char* kWatcher = "store-watcher";  // the store's watcher thread

int failures = 0;

void check(bool ok, int round, const char* what) {
  if (ok) return;
  ++failures;
  std::printf("round %d: %s\n", round, what);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s PATH-TO-notifier_module.so\n", argv[0]);
    return 2;
  }
  zem::test::TempRoot root;
  const int descriptorsBefore = zem::test::openDescriptors();
  for (int round = 1; round <= 2; ++round) {
    void* module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
      std::printf("dlopen: %s\n", dlerror());
      return 1;
    }
    auto arm = reinterpret_cast<int (*)()>(dlsym(module, "zemTestArmNotification"));
    if (arm == nullptr) {
      std::printf("dlsym: %s\n", dlerror());
      return 1;
    }
    check(arm() == 0, round, "the notification was not armed");
    check(zem::test::threadsNamed(kWatcher) == 1, round, "no watcher thread while a notification is pending");
    check(zem::test::openDescriptors() == descriptorsBefore + 2, round, "the watcher does not hold its two descriptors");
    if (dlclose(module) != 0) {
      std::printf("dlclose: %s\n", dlerror());
      return 1;
    }
    check(zem::test::threadsNamedDropTo(kWatcher, 0), round, "the watcher thread outlived the unloading");
    check(zem::test::openDescriptors() == descriptorsBefore, round, "descriptors left open after the unloading");
  }
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
