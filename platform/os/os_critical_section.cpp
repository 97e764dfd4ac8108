#include "platform/os/os_critical_section.h"

void osCriticalSectionInit(OsCriticalSection* section) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&section->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void osCriticalSectionDelete(OsCriticalSection* section) { pthread_mutex_destroy(&section->mutex); }

void osCriticalSectionEnter(OsCriticalSection* section) { pthread_mutex_lock(&section->mutex); }

void osCriticalSectionLeave(OsCriticalSection* section) { pthread_mutex_unlock(&section->mutex); }
