/* libzemlink.so loaded at run time by a test program, with the provider
 * exports such programs call. */
#pragma once

#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>

typedef int32_t (*ZemlinkInitFn)(int32_t, void*, const char*);
typedef int32_t (*ZemlinkRegisterFn)(uint32_t);
typedef int32_t (*ZemlinkGetEventFn)(int32_t, uint32_t*);
typedef int32_t (*ZemlinkDeInitFn)(void);
typedef int32_t (*ZemlinkDeRegisterFn)(void);
typedef int32_t (*ZemlinkSendCompleteFn)(uint32_t*);
typedef uint32_t (*ZemlinkCreateFn)(void);

typedef struct {
  void* handle;
  ZemlinkInitFn init;
  ZemlinkRegisterFn registerProvider;
  ZemlinkGetEventFn getEvent;
  ZemlinkDeInitFn deInit;
  ZemlinkDeRegisterFn deRegisterProvider;
  ZemlinkSendCompleteFn sendServiceComplete;
  ZemlinkCreateFn createDataContainer;
} ZemlinkLibrary;

/* 0 when the library and every export were found; the reason goes to
 * standard error otherwise. */
static inline int loadZemlink(const char* path, ZemlinkLibrary* library) {
  library->handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (library->handle == NULL) {
    fprintf(stderr, "dlopen: %s\n", dlerror());
    return -1;
  }
  library->init = (ZemlinkInitFn)dlsym(library->handle, "ZemlinkInit");
  library->registerProvider = (ZemlinkRegisterFn)dlsym(library->handle, "Zem_RegisterProvider");
  library->getEvent = (ZemlinkGetEventFn)dlsym(library->handle, "Zem_GetEvent");
  library->deInit = (ZemlinkDeInitFn)dlsym(library->handle, "ZemlinkDeInit");
  library->deRegisterProvider = (ZemlinkDeRegisterFn)dlsym(library->handle, "Zem_DeRegisterProvider");
  library->sendServiceComplete = (ZemlinkSendCompleteFn)dlsym(library->handle, "Zem_SendServiceComplete");
  library->createDataContainer = (ZemlinkCreateFn)dlsym(library->handle, "Zem_createDataContainer");
  if (library->init == NULL || library->registerProvider == NULL || library->getEvent == NULL || library->deInit == NULL ||
      library->deRegisterProvider == NULL || library->sendServiceComplete == NULL || library->createDataContainer == NULL) {
    fprintf(stderr, "dlsym: an export is missing\n");
    return -1;
  }
  return 0;
}
