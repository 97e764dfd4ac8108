/* A program of another project: it knows libzemlink only through its
 * installed header and library. It fills a container, reads it back and
 * asks the provider family for something it must refuse; the exit status
 * says whether every answer was the expected one. */
#include <stdio.h>
#include <string.h>

#include <zemlink.h>

static int failures = 0;

static void expect(int condition, const char* what) {
  if (!condition) {
    fprintf(stderr, "consumer: %s\n", what);
    ++failures;
  }
}

int main(void) {
  ZemContainerHandle container = Zem_createDataContainer();
  expect(container != 0, "Zem_createDataContainer gave no container");
  expect(Zem_setMessageType(container, ZEM_MSG_COMPLETION) == ZEM_SUCCESS, "Zem_setMessageType failed");
  expect(Zem_setServerID(container, 4711) == ZEM_SUCCESS, "Zem_setServerID failed");
  expect(Zem_setFirstItem(container, "first") == ZEM_SUCCESS, "Zem_setFirstItem failed");
  expect(Zem_setNextItem(container, "second") == ZEM_SUCCESS, "Zem_setNextItem failed");

  expect(Zem_getMessageType(container) == ZEM_MSG_COMPLETION, "the message type did not come back");
  expect(Zem_getServerID(container) == 4711, "the server ID did not come back");
  const char* item = Zem_getFirstItem(container);
  expect(item != NULL && strcmp(item, "first") == 0, "the first item did not come back");
  item = Zem_getNextItem(container);
  expect(item != NULL && strcmp(item, "second") == 0, "the second item did not come back");
  expect(Zem_getNextItem(container) == NULL, "a third item appeared");

  expect(Zem_destroyDataContainer(container) == ZEM_SUCCESS, "Zem_destroyDataContainer failed");
  expect(Zem_destroyDataContainer(container) == ZEM_ERROR_BAD_CONTAINER, "a destroyed container was destroyed again");
  expect(ZemlinkInit(1, NULL, "127.0.0.1") == ZEM_ERROR_UNSUPPORTED, "ZemlinkInit accepted a reserved argument");

  if (failures == 0) puts("consumer: libzemlink answered as expected");
  return failures == 0 ? 0 : 1;
}
