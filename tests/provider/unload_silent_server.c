/* Registers a provider through libzemlink.so, then waits for a line on
 * standard input; meanwhile the test stops the server, which then accepts
 * connections and never answers. Then it ends the registration the way
 * MODE says: "deinit" calls ZemlinkDeInit, "dlclose" unloads the library,
 * "exit" returns from main with the library loaded and the provider
 * registered. Each step is one line on standard output; the process must
 * end all the same.
 * Usage: unload_silent_server LIBRARY MODE */
#define _POSIX_C_SOURCE 200809L

#include <string.h>

#include "zemlink_loader.h"

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  const char* mode = argv[2];
  ZemlinkLibrary zemlink;
  if (loadZemlink(argv[1], &zemlink) != 0) return 1;
  if (zemlink.init(0, NULL, "127.0.0.1") != 10) return 3;
  if (zemlink.registerProvider(41) != 10) return 4;
  printf("registered\n");
  fflush(stdout);

  char line[16];
  if (fgets(line, sizeof line, stdin) == NULL) return 5;
  if (strcmp(mode, "deinit") == 0) {
    printf("deinit %d\n", zemlink.deInit());
  } else if (strcmp(mode, "dlclose") == 0) {
    printf("dlclose %d\n", dlclose(zemlink.handle));
  } else if (strcmp(mode, "exit") != 0) {
    return 2;
  }
  /* In "exit" mode the library's unload runs after this line, at exit. */
  printf("done\n");
  fflush(stdout);
  return 0;
}
