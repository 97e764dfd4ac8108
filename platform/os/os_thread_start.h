// What each platform's thread file gives osThreadCreate (os_thread.cpp), which
// checks the arguments, prints a failure and hands out the id and handle the
// same way on every platform. Only the OS layer's thread files include it.
#pragma once

#include "platform/os/os_thread.h"

// The system's error number for an argument it refuses.
extern const long kOsThreadInvalidArgument;

// Starts entry(argument) on a new thread at priority (a refused priority is
// printed, and the thread runs all the same) and gives its id. Null, with the
// system's error number in error, when no thread could be started.
OsThread* osThreadStart(OsThreadEntry entry, void* argument, int priority, OsThreadId& id, long& error);
