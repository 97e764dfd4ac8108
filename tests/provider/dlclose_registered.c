/* Loads libzemlink.so, registers a provider, and unloads the library while
 * the provider is registered and its threads run. The process must go on
 * unharmed: it prints "unloaded", lives on a while, and exits 0.
 * Usage: dlclose_registered LIBRARY [ADDRESS] */
#define _POSIX_C_SOURCE 200809L

#include <time.h>

#include "zemlink_loader.h"

static void sleepMs(long ms) {
  struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&pause, NULL);
}

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const char* address = argc > 2 ? argv[2] : "127.0.0.1";
  for (int round = 0; round < 2; ++round) {
    ZemlinkLibrary zemlink;
    if (loadZemlink(argv[1], &zemlink) != 0) return 1;
    void* library = zemlink.handle;
    if (zemlink.init(0, NULL, address) != 10) return 3;
    if (zemlink.registerProvider(5 + (uint32_t)round) != 10) return 4;
    uint32_t event = 0;
    int registered = 0;
    for (int tries = 0; tries < 500 && !registered; ++tries) {
      registered = zemlink.getEvent(1, &event) == 10;
      if (!registered) sleepMs(10);
    }
    if (!registered) return 5;
    printf("registered %d\n", 5 + round);
    fflush(stdout);
    /* The pump is held in a fetch by now; unload under it. */
    sleepMs(100);
    if (dlclose(library) != 0) {
      fprintf(stderr, "dlclose: %s\n", dlerror());
      return 6;
    }
    /* Really gone: a library that stayed mapped would prove nothing. */
    void* still = dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD);
    if (still != NULL) {
      printf("still mapped\n");
      dlclose(still);
    } else {
      printf("unloaded\n");
    }
    fflush(stdout);
  }
  /* Threads left behind in the unmapped code would crash the process now. */
  sleepMs(300);
  printf("done\n");
  return 0;
}
