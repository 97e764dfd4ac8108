// A thread body for the thread tests: it notes its id and stack, may wait
// for a release, and may end itself early through osThreadExit.
#pragma once

#include "platform/os/os.h"
#include "system_facts.h"

struct ThreadProbe {
  OsThreadId seenId = 0;
  size_t stackSize = 0;
  OsSemaphoreHandle release = nullptr;  // when set, the thread waits for it
  bool exitEarly = false;
  bool destructorRan = false;
  bool pastExit = false;
};

struct SetOnDestroy {
  bool& flag;
  ~SetOnDestroy() { flag = true; }
};

inline uint32_t probeThread(void* argument) {
  ThreadProbe& probe = *static_cast<ThreadProbe*>(argument);
  osThreadSelf(&probe.seenId);
  probe.stackSize = zem::test::stackReservedForThisThread();
  if (probe.release != nullptr) osBinarySemaphoreTake(probe.release, OS_WAIT_FOREVER);
  if (probe.exitEarly) {
    SetOnDestroy marker{probe.destructorRan};
    osThreadExit();
  }
  probe.pastExit = true;
  return 7;
}
