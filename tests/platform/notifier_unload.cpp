// Loads notifier_module with dlopen(), leaves a store notification pending
// and unloads it again, twice: the unloading must end the watcher thread and
// close its descriptors (counted in /proc/self), and free every byte the
// notifier held (checked by valgrind and the leak sanitizer around this
// program).
//
// Usage: notifier_unload PATH-TO-notifier_module.so
#include <dlfcn.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "support/temp_root.h"

namespace {

// The store's watcher threads of this process, found by their name.
int watcherThreads() {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/task", error), end; !error && it != end;
       it.increment(error)) {
    std::ifstream comm(it->path() / "comm");
    std::string name;
    if (std::getline(comm, name) && name == "store-watcher") ++count;
  }
  return count;
}

int openDescriptors() {
  std::error_code error;
  int count = 0;
  for (std::filesystem::directory_iterator it("/proc/self/fd", error), end; !error && it != end;
       it.increment(error)) {
    ++count;
  }
  return count;
}

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
  const int descriptorsBefore = openDescriptors();
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
    check(watcherThreads() == 1, round, "no watcher thread while a notification is pending");
    check(openDescriptors() == descriptorsBefore + 2, round, "the watcher does not hold its two descriptors");
    if (dlclose(module) != 0) {
      std::printf("dlclose: %s\n", dlerror());
      return 1;
    }
    check(watcherThreads() == 0, round, "the watcher thread outlived the unloading");
    check(openDescriptors() == descriptorsBefore, round, "descriptors left open after the unloading");
  }
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
