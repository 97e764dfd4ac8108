/* A Windows application that finds the library at run time: it loads
 * zemlink.dll with LoadLibrary, takes the functions it needs by their plain
 * names with GetProcAddress, registers as provider 42 with the server named
 * by zemlink.ini in the current directory, answers the given number of
 * requests with ten items each, de-registers and unloads the library.
 *   load_library_provider <zemlink.dll> <requests>
 * Exits 0 when every request was answered and everything succeeded. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "zemlink.h"

typedef int32_t(__cdecl* InitFn)(int32_t, void*, const char*);
typedef int32_t(__cdecl* VoidFn)(void);
typedef int32_t(__cdecl* RegisterFn)(uint32_t);
typedef int32_t(__cdecl* GetEventFn)(int32_t, ZemContainerHandle*);
typedef int32_t(__cdecl* HandleRefFn)(ZemContainerHandle*);
typedef ZemContainerHandle(__cdecl* CreateFn)(void);
typedef int32_t(__cdecl* HandleFn)(ZemContainerHandle);
typedef int32_t(__cdecl* SetFn)(ZemContainerHandle, int32_t);
typedef int32_t(__cdecl* SetItemFn)(ZemContainerHandle, const char*);
typedef const char*(__cdecl* GetItemFn)(ZemContainerHandle);

static HMODULE library;

static FARPROC function(const char* name) {
  FARPROC found = GetProcAddress(library, name);
  if (found == NULL) {
    printf("GetProcAddress(%s) failed: %lu\n", name, GetLastError());
    exit(2);
  }
  return found;
}

#define CHECK(call, expected)                                                      \
  do {                                                                             \
    int32_t result_ = (call);                                                      \
    if (result_ != (expected)) {                                                   \
      printf("%s gave %ld, not %ld\n", #call, (long)result_, (long)(expected));    \
      return 1;                                                                    \
    }                                                                              \
  } while (0)

int main(int argc, char** argv) {
  if (argc != 3) {
    printf("usage: load_library_provider <zemlink.dll> <requests>\n");
    return 2;
  }
  const int wanted = atoi(argv[2]);
  library = LoadLibraryA(argv[1]);
  if (library == NULL) {
    printf("LoadLibrary(%s) failed: %lu\n", argv[1], GetLastError());
    return 2;
  }
  InitFn init = (InitFn)(void*)function("ZemlinkInit");
  VoidFn deInit = (VoidFn)(void*)function("ZemlinkDeInit");
  RegisterFn registerProvider = (RegisterFn)(void*)function("Zem_RegisterProvider");
  VoidFn deRegisterProvider = (VoidFn)(void*)function("Zem_DeRegisterProvider");
  GetEventFn getEvent = (GetEventFn)(void*)function("Zem_GetEvent");
  HandleRefFn sendComplete = (HandleRefFn)(void*)function("Zem_SendServiceComplete");
  HandleRefFn responseReceived = (HandleRefFn)(void*)function("Zem_ResponseReceived");
  HandleRefFn infoReceived = (HandleRefFn)(void*)function("Zem_InfoReceived");
  CreateFn create = (CreateFn)(void*)function("Zem_createDataContainer");
  HandleFn destroy = (HandleFn)(void*)function("Zem_destroyDataContainer");
  HandleFn getType = (HandleFn)(void*)function("Zem_getMessageType");
  HandleFn getStatus = (HandleFn)(void*)function("Zem_getStatus");
  HandleFn getServerId = (HandleFn)(void*)function("Zem_getServerID");
  HandleFn getCallId = (HandleFn)(void*)function("Zem_getCallID");
  SetFn setType = (SetFn)(void*)function("Zem_setMessageType");
  SetFn setServerId = (SetFn)(void*)function("Zem_setServerID");
  SetItemFn setFirstItem = (SetItemFn)(void*)function("Zem_setFirstItem");
  SetItemFn setNextItem = (SetItemFn)(void*)function("Zem_setNextItem");
  GetItemFn getFirstItem = (GetItemFn)(void*)function("Zem_getFirstItem");

  CHECK(init(0, NULL, "127.0.0.1"), ZEM_SUCCESS);
  CHECK(registerProvider(42), ZEM_SUCCESS);

  int answered = 0;
  int registered = 0;
  while (answered < wanted) {
    ZemContainerHandle event = 0;
    CHECK(getEvent(ZEM_EVENT_WAIT, &event), ZEM_SUCCESS);
    const int32_t type = getType(event);
    if (type == ZEM_MSG_PROVIDER_STATUS && getStatus(event) == ZEM_STATUS_REGISTERED) {
      registered = 1;
      printf("registered\n");
    } else if (type == ZEM_MSG_ERROR) {
      printf("error event, status %ld\n", (long)getStatus(event));
      return 1;
    } else if (type == ZEM_MSG_REQUEST) {
      const ZemContainerHandle answer = create();
      CHECK(setType(answer, ZEM_MSG_COMPLETION), ZEM_SUCCESS);
      CHECK(setServerId(answer, getServerId(event)), ZEM_SUCCESS);
      char text[ZEM_MAX_ITEM_LENGTH + 1];
      const char* first = getFirstItem(event);
      snprintf(text, sizeof text, "answer to %s", first != NULL ? first : "(none)");
      CHECK(setFirstItem(answer, text), ZEM_SUCCESS);
      for (int i = 2; i <= ZEM_MAX_ITEMS; ++i) {
        snprintf(text, sizeof text, "call %ld item %d", (long)getCallId(event), i);
        CHECK(setNextItem(answer, text), ZEM_SUCCESS);
      }
      ZemContainerHandle sent = answer;
      CHECK(sendComplete(&sent), ZEM_SUCCESS);
      CHECK(destroy(answer), ZEM_SUCCESS);
      ++answered;
      printf("answered %d\n", answered);
      fflush(stdout);
    }
    CHECK(type == ZEM_MSG_INFO ? infoReceived(&event) : responseReceived(&event), ZEM_SUCCESS);
  }
  if (!registered) {
    printf("requests came before the registered event\n");
    return 1;
  }
  CHECK(deRegisterProvider(), ZEM_SUCCESS);
  printf("de-registered\n");
  CHECK(deInit(), ZEM_SUCCESS);
  printf("de-initialised\n");
  fflush(stdout);
  if (!FreeLibrary(library)) {
    printf("FreeLibrary failed: %lu\n", GetLastError());
    return 1;
  }
  printf("served %d requests\n", answered);
  return 0;
}
