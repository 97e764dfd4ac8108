// Threads of the OS layer, with the process-wide helpers that go with them
// (sleeping, process id, tick count).
//
// A thread starts at once on a stack of 65536 bytes; its entry function
// runs once its priority is set. Priorities are the
// relative numbers the system's callers use: -15 idle, -2 lowest,
// -1 below normal, 0 normal, 1 above normal, 2 highest, 15 time-critical.
// Linux has no per-thread priority of that kind for ordinary threads; the
// nearest notion is the per-thread nice value. A priority moves a thread's
// nice value away from the process's own (that of its main thread, as
// `nice` started it): -2 is 10 above it, 0 is the process's value, and the
// result stays within 19 and -20, so lowering a thread never asks for more
// than an unprivileged process may have. Raising a thread above the process,
// or back up to it from a lower level, needs CAP_SYS_NICE; without it the
// priority is refused (EACCES). A new thread starts at its creator's level:
// priority 0 brings it to the process's level when the creator was elsewhere.
//
// A thread handle stays valid until osThreadClose, also after the thread has
// ended. All operations are safe from any thread.
#pragma once

#include <cstdint>

struct OsThread;  // opaque
using OsThreadHandle = OsThread*;
using OsThreadId = uint32_t;  // the kernel's thread id
using OsThreadEntry = uint32_t (*)(void* argument);

constexpr int OS_THREAD_PRIORITY_IDLE = -15;
constexpr int OS_THREAD_PRIORITY_LOWEST = -2;
constexpr int OS_THREAD_PRIORITY_NORMAL = 0;
constexpr int OS_THREAD_PRIORITY_TIME_CRITICAL = 15;
// What osThreadPriorityGet reports when it cannot read the priority.
constexpr int OS_THREAD_PRIORITY_ERROR = 0x7FFFFFFF;

// Starts entry(argument) on a new thread. A priority other than 0 is set
// afterwards; when that is refused the failure is printed and the result is
// still true, because the thread runs. id and handle may be null.
bool osThreadCreate(OsThreadEntry entry, void* argument, int priority, OsThreadId* id,
                    OsThreadHandle* handle);
bool osThreadPrioritySet(OsThreadHandle handle, int priority);
// What osThreadPriorityGet reports: the priority last set on the thread while
// its nice value is still the one set, otherwise the nearest priority.
bool osThreadPriorityGet(OsThreadHandle handle, int* priority);
// The nice value a priority gives in a process of the given nice value, and
// the priority nearest to a nice value (ties go to the one nearer normal).
int osNiceForPriority(int priority, int processNice);
int osPriorityForNice(int nice, int processNice);
OsThreadId osThreadSelf(OsThreadId* id);
// Ends the calling thread with exit code 0. The stack is unwound: objects
// with destructors on it are destroyed, and no handler may swallow the unwind.
[[noreturn]] void osThreadExit();
void osSleep(uint32_t milliseconds);
uint32_t osProcessSelf(uint32_t* id);
// Milliseconds since the system started, wrapping at 2^32.
uint32_t osTickCount();

// Waits up to timeoutMs (OS_WAIT_FOREVER from os_semaphore.h: no limit) for
// the thread to end; true when it has ended.
bool osThreadWait(OsThreadHandle handle, uint32_t timeoutMs);
// Gives up the handle. A thread that still runs goes on running on its own.
bool osThreadClose(OsThreadHandle handle);
