/*
 * Loads libzemlink.so with dlopen(), as an application written in C would,
 * and calls every container export through the pointers dlsym() gives:
 * results for live and bad handles, the item rules, the call-handle lines on
 * standard output, and unloading with containers still alive (they must not
 * leak) followed by a second load.
 *
 * Usage: dlopen_exports PATH-TO-libzemlink.so
 * Prints each failed check and exits with 1 when any failed.
 */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "zemlink.h"

#define CONTAINER_EXPORTS(X)                                                                            \
  X(Zem_createDataContainer) X(Zem_destroyDataContainer) X(Zem_getMessageType) X(Zem_setMessageType)   \
  X(Zem_getStatus) X(Zem_setStatus) X(Zem_getServerID) X(Zem_setServerID) X(Zem_getReferenceID)         \
  X(Zem_setReferenceID) X(Zem_getCallID) X(Zem_setCallID) X(Zem_getHeldCallID) X(Zem_setHeldCallID)     \
  X(Zem_getNetworkCallID) X(Zem_setNetworkCallID) X(Zem_getNodeID) X(Zem_setNodeID) X(Zem_getCallHandle) \
  X(Zem_setCallHandle) X(Zem_getFirstItem) X(Zem_getNextItem) X(Zem_setFirstItem) X(Zem_setNextItem)

/* One pointer per export, named like the export. */
static struct {
  void* library;
#define MEMBER(name) __typeof__(&name) name;
  CONTAINER_EXPORTS(MEMBER)
#undef MEMBER
} zem;

static int checks = 0;
static int failures = 0;

static void checkNumber(int line, const char* what, long long actual, long long expected) {
  ++checks;
  if (actual == expected) return;
  ++failures;
  printf("line %d: %s gave %lld, expected %lld\n", line, what, actual, expected);
}

static void checkText(int line, const char* what, const char* actual, const char* expected) {
  ++checks;
  if (actual == expected || (actual != NULL && expected != NULL && strcmp(actual, expected) == 0)) return;
  ++failures;
  printf("line %d: %s gave \"%s\", expected \"%s\"\n", line, what, actual ? actual : "(null)",
         expected ? expected : "(null)");
}

#define CHECK(call, expected) checkNumber(__LINE__, #call, (long long)(call), (long long)(expected))
#define CHECK_TEXT(call, expected) checkText(__LINE__, #call, (call), (expected))

static int load(const char* path) {
  zem.library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (zem.library == NULL) {
    printf("dlopen(%s): %s\n", path, dlerror());
    return 0;
  }
#define LOAD(name)                                                \
  *(void**)&zem.name = dlsym(zem.library, #name);                 \
  if (zem.name == NULL) {                                         \
    printf("dlsym(%s): %s\n", #name, dlerror());                  \
    return 0;                                                     \
  }
  CONTAINER_EXPORTS(LOAD)
#undef LOAD
  return 1;
}

/* Standard output of the process, captured into a temporary file. */
static int savedStdout = -1;
static FILE* captured = NULL;

static void captureStdout(void) {
  fflush(stdout);
  captured = tmpfile();
  savedStdout = dup(1);
  dup2(fileno(captured), 1);
}

static void endCapture(char* text, size_t size) {
  size_t length;
  fflush(stdout);
  dup2(savedStdout, 1);
  close(savedStdout);
  rewind(captured);
  length = fread(text, 1, size - 1, captured);
  text[length] = '\0';
  fclose(captured);
}

static void badHandles(void) {
  const ZemContainerHandle live = zem.Zem_createDataContainer();
  const ZemContainerHandle destroyed = zem.Zem_createDataContainer();
  const ZemContainerHandle bad[] = {0, destroyed, 0x00ABCDEFu, 0xFFFFFFFFu};
  size_t i;
  char lines[512];
  CHECK(zem.Zem_destroyDataContainer(destroyed), 10);

  captureStdout();
  for (i = 0; i < sizeof bad / sizeof bad[0]; ++i) {
    const ZemContainerHandle h = bad[i];
    CHECK(zem.Zem_destroyDataContainer(h), 17);
    CHECK(zem.Zem_getMessageType(h), 8);
    CHECK(zem.Zem_setMessageType(h, 3), 17);
    CHECK(zem.Zem_getStatus(h), 17);
    CHECK(zem.Zem_setStatus(h, 1), 17);
    CHECK(zem.Zem_getServerID(h), 8);
    CHECK(zem.Zem_setServerID(h, 1), 17);
    CHECK(zem.Zem_getReferenceID(h), 0);
    CHECK(zem.Zem_setReferenceID(h, 1), 17);
    CHECK(zem.Zem_getCallID(h), 0);
    CHECK(zem.Zem_setCallID(h, 1), 17);
    CHECK(zem.Zem_getHeldCallID(h), 0);
    CHECK(zem.Zem_setHeldCallID(h, 1), 17);
    CHECK(zem.Zem_getNetworkCallID(h), 0);
    CHECK(zem.Zem_setNetworkCallID(h, 1), 17);
    CHECK(zem.Zem_getNodeID(h), 0);
    CHECK(zem.Zem_setNodeID(h, 1), 17);
    CHECK(zem.Zem_getCallHandle(h), 0);
    CHECK(zem.Zem_setCallHandle(h, 1), 17);
    CHECK_TEXT(zem.Zem_getFirstItem(h), NULL);
    CHECK_TEXT(zem.Zem_getNextItem(h), NULL);
    CHECK(zem.Zem_setFirstItem(h, "x"), 17);
    CHECK(zem.Zem_setNextItem(h, "x"), 17);
  }
  endCapture(lines, sizeof lines);
  CHECK_TEXT(lines,
             "Zem_getCallHandle - Bad container\nZem_setCallHandle(): Bad container\n"
             "Zem_getCallHandle - Bad container\nZem_setCallHandle(): Bad container\n"
             "Zem_getCallHandle - Bad container\nZem_setCallHandle(): Bad container\n"
             "Zem_getCallHandle - Bad container\nZem_setCallHandle(): Bad container\n");

  CHECK(zem.Zem_getStatus(live), 9);
  CHECK(zem.Zem_destroyDataContainer(live), 10);
}

static void fields(void) {
  const ZemContainerHandle h = zem.Zem_createDataContainer();
  char lines[512];
  CHECK(h != 0, 1);
  CHECK(zem.Zem_getMessageType(h), 8);
  CHECK(zem.Zem_getStatus(h), 9);
  CHECK(zem.Zem_getServerID(h), 0);
  CHECK(zem.Zem_getReferenceID(h), 0);
  CHECK(zem.Zem_getCallID(h), 0);
  CHECK(zem.Zem_getHeldCallID(h), 0);
  CHECK(zem.Zem_getNetworkCallID(h), 0);
  CHECK(zem.Zem_getNodeID(h), 0);
  CHECK_TEXT(zem.Zem_getFirstItem(h), NULL);

  CHECK(zem.Zem_setMessageType(h, 7), 10);
  CHECK(zem.Zem_getMessageType(h), 7);
  CHECK(zem.Zem_setStatus(h, 30), 10);
  CHECK(zem.Zem_getStatus(h), 30);
  CHECK(zem.Zem_setServerID(h, -2), 10);
  CHECK(zem.Zem_getServerID(h), -2);
  CHECK(zem.Zem_setReferenceID(h, 3), 10);
  CHECK(zem.Zem_getReferenceID(h), 3);
  CHECK(zem.Zem_setCallID(h, 4), 10);
  CHECK(zem.Zem_getCallID(h), 4);
  CHECK(zem.Zem_setHeldCallID(h, 5), 10);
  CHECK(zem.Zem_getHeldCallID(h), 5);
  CHECK(zem.Zem_setNetworkCallID(h, 6), 10);
  CHECK(zem.Zem_getNetworkCallID(h), 6);
  CHECK(zem.Zem_setNodeID(h, 2147483647), 10);
  CHECK(zem.Zem_getNodeID(h), 2147483647);

  captureStdout();
  CHECK(zem.Zem_setCallHandle(h, 77), 10);
  CHECK(zem.Zem_getCallHandle(h), 77);
  endCapture(lines, sizeof lines);
  CHECK_TEXT(lines, "Zem_setCallHandle(): CallHandle=77\nZem_getCallHandle - CallHandle=77\n");
  CHECK(zem.Zem_destroyDataContainer(h), 10);
}

static void items(void) {
  const ZemContainerHandle h = zem.Zem_createDataContainer();
  char text80[81], text81[82], number[16];
  const char* item;
  int i, count;
  memset(text80, 'a', 80);
  text80[80] = '\0';
  memset(text81, 'b', 81);
  text81[81] = '\0';

  CHECK(zem.Zem_setFirstItem(h, "x"), 9); /* type 8 takes no items */
  CHECK(zem.Zem_setMessageType(h, 1), 10);
  CHECK(zem.Zem_setFirstItem(h, "0"), 10);
  for (i = 1; i <= 11; ++i) {
    snprintf(number, sizeof number, "%d", i);
    CHECK(zem.Zem_setNextItem(h, number), i <= 9 ? 10 : 9);
  }
  CHECK_TEXT(zem.Zem_getNextItem(h), "0"); /* reading starts at the first */
  CHECK_TEXT(zem.Zem_getFirstItem(h), "0");
  for (count = 1; (item = zem.Zem_getNextItem(h)) != NULL; ++count) {
    snprintf(number, sizeof number, "%d", count);
    CHECK_TEXT(item, number);
  }
  CHECK(count, 10);

  CHECK(zem.Zem_setFirstItem(h, text80), 10);
  CHECK_TEXT(zem.Zem_getNextItem(h), NULL); /* the cursor stayed behind the old items */
  CHECK_TEXT(zem.Zem_getFirstItem(h), text80);
  CHECK(zem.Zem_setNextItem(h, text81), 29);
  CHECK_TEXT(zem.Zem_getFirstItem(h), text80);
  CHECK(zem.Zem_setMessageType(h, 8), 10);
  CHECK(zem.Zem_setNextItem(h, "short"), 29);

  CHECK(zem.Zem_setMessageType(h, 3), 10);
  CHECK(zem.Zem_setFirstItem(h, "a"), 10);
  CHECK(zem.Zem_setMessageType(h, 5), 10);
  CHECK_TEXT(zem.Zem_getFirstItem(h), NULL);
  CHECK(zem.Zem_setMessageType(h, 3), 10);
  CHECK_TEXT(zem.Zem_getFirstItem(h), NULL);
  CHECK(zem.Zem_getMessageType(h), 8);
  CHECK(zem.Zem_destroyDataContainer(h), 10);

  /* setNextItem before any setFirstItem clears the type. */
  {
    const ZemContainerHandle c = zem.Zem_createDataContainer();
    CHECK(zem.Zem_setMessageType(c, 3), 10);
    CHECK(zem.Zem_setNextItem(c, "x"), 9);
    CHECK(zem.Zem_getMessageType(c), 8);
    CHECK(zem.Zem_setFirstItem(c, "x"), 9);
    CHECK(zem.Zem_destroyDataContainer(c), 10);
  }
}

/* Containers left alive when the library is unloaded. */
static void leaveSomeAlive(void) {
  int i;
  for (i = 0; i < 100; ++i) {
    const ZemContainerHandle h = zem.Zem_createDataContainer();
    CHECK(zem.Zem_setMessageType(h, 2), 10);
    CHECK(zem.Zem_setFirstItem(h, "left behind"), 10);
  }
}

int main(int argc, char** argv) {
  int round;
  if (argc != 2) {
    fprintf(stderr, "usage: %s PATH-TO-libzemlink.so\n", argv[0]);
    return 2;
  }
  for (round = 1; round <= 2; ++round) {
    if (!load(argv[1])) return 1;
    badHandles();
    fields();
    items();
    leaveSomeAlive();
    if (dlclose(zem.library) != 0) {
      printf("dlclose: %s\n", dlerror());
      return 1;
    }
  }
  printf("%d checks, %d failed\n", checks, failures);
  return failures == 0 ? 0 : 1;
}
