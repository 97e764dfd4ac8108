/* Registers a provider through libzemlink.so, then waits for a line on
 * standard input; meanwhile the test makes the server stop answering
 * (stopping it, so that it accepts connections and never answers, or
 * muting one procedure). With CALL, a second thread then enters that
 * export ("register", "deregister" or "complete") and stays there, held by
 * the server, while the program reads a second line. Then it ends the
 * registration the way MODE says: "deinit" calls ZemlinkDeInit, "dlclose"
 * unloads the library, "exit" returns from main with the library loaded
 * and the provider registered. Each step is one line on standard output;
 * the process must end all the same, within the library's bounds.
 * Usage: unload_silent_server LIBRARY MODE [CALL] */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <string.h>

#include "zemlink_loader.h"

static ZemlinkLibrary zemlink;
static const char* heldCall = NULL;

static void* enterHeldCall(void* unused) {
  (void)unused;
  int32_t result = -1;
  if (strcmp(heldCall, "register") == 0) {
    result = zemlink.registerProvider(42);
  } else if (strcmp(heldCall, "deregister") == 0) {
    result = zemlink.deRegisterProvider();
  } else {
    uint32_t completion = zemlink.createDataContainer();
    result = zemlink.sendServiceComplete(&completion);
  }
  /* Printed only while the process and the library are still there. */
  printf("%s returned %d\n", heldCall, result);
  fflush(stdout);
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) return 2;
  const char* mode = argv[2];
  if (argc == 4) heldCall = argv[3];
  if (loadZemlink(argv[1], &zemlink) != 0) return 1;
  if (zemlink.init(0, NULL, "127.0.0.1") != 10) return 3;
  if (zemlink.registerProvider(41) != 10) return 4;
  printf("registered\n");
  fflush(stdout);

  char line[16];
  if (fgets(line, sizeof line, stdin) == NULL) return 5;
  pthread_t thread;
  if (heldCall != NULL) {
    if (pthread_create(&thread, NULL, enterHeldCall, NULL) != 0) return 6;
    printf("calling %s\n", heldCall);
    fflush(stdout);
    if (fgets(line, sizeof line, stdin) == NULL) return 5;
  }
  if (strcmp(mode, "deinit") == 0) {
    printf("deinit %d\n", zemlink.deInit());
  } else if (strcmp(mode, "dlclose") == 0) {
    printf("dlclose %d\n", dlclose(zemlink.handle));
  } else if (strcmp(mode, "exit") != 0) {
    return 2;
  }
  fflush(stdout);
  /* Once the registration has ended, the held call has returned; at exit
   * the unload itself waits for it, so the thread is left to run. */
  if (heldCall != NULL) {
    if (strcmp(mode, "exit") == 0) {
      pthread_detach(thread);
    } else {
      pthread_join(thread, NULL);
    }
  }
  /* In "exit" mode the library's unload runs after this line, at exit. */
  printf("done\n");
  fflush(stdout);
  return 0;
}
