// Critical sections of the OS layer: a lock that the owning thread may take
// again (recursive), one to one with the platform's own critical sections.
#pragma once

#include <pthread.h>

struct OsCriticalSection {
  pthread_mutex_t mutex;
};

void osCriticalSectionInit(OsCriticalSection* section);
void osCriticalSectionDelete(OsCriticalSection* section);
void osCriticalSectionEnter(OsCriticalSection* section);
void osCriticalSectionLeave(OsCriticalSection* section);
