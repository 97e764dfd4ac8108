// Threads of the OS layer, with the process-wide helpers that go with them
// (sleeping, process id, tick count).
//
// A thread starts at once on a stack of 65536 bytes. Priorities are the
// relative numbers the system's callers use: -15 idle, -2 lowest,
// -1 below normal, 0 normal, 1 above normal, 2 highest, 15 time-critical.
// Linux has no per-thread priority of that kind for ordinary threads; the
// nearest notion is the per-thread nice value, so a priority is mapped to a
// nice value (see kNiceForPriority in os_thread.cpp) and set with
// setpriority() on the thread's kernel id. Raising a thread above normal
// needs CAP_SYS_NICE; without it the priority is refused (EACCES).
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
bool osThreadPriorityGet(OsThreadHandle handle, int* priority);
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
