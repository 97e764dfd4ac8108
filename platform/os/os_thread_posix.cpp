#include "platform/os/os_thread.h"

#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <new>
#include <thread>

#include "platform/os/os_semaphore.h"

namespace {

constexpr size_t kThreadStackBytes = 65536;

struct PriorityOffset {
  int priority;
  int niceOffset;  // added to the process's own nice value
};

// The relative priorities and how far each moves a thread's nice value from
// the process's; nice runs from 19 (least favoured) to -20.
constexpr PriorityOffset kPriorityOffsets[] = {
    {-15, 19}, {-2, 10}, {-1, 5}, {0, 0}, {1, -5}, {2, -10}, {15, -20},
};
constexpr int kLeastFavouredNice = 19;
constexpr int kMostFavouredNice = -20;

bool offsetForPriority(int priority, int& offset) {
  for (const PriorityOffset& entry : kPriorityOffsets) {
    if (entry.priority == priority) {
      offset = entry.niceOffset;
      return true;
    }
  }
  return false;
}

// The process's own nice value: that of its main thread, which is what
// `nice` and `renice` of the process set.
int processNice() {
  errno = 0;
  const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
  return errno == 0 ? nice : 0;
}

}  // namespace

int osNiceForPriority(int priority, int processNice) {
  int offset = 0;
  if (!offsetForPriority(priority, offset)) return processNice;
  const int nice = processNice + offset;
  return nice > kLeastFavouredNice ? kLeastFavouredNice : nice < kMostFavouredNice ? kMostFavouredNice : nice;
}

int osPriorityForNice(int nice, int processNice) {
  int best = 0;
  int bestDistance = 1000;
  for (const PriorityOffset& entry : kPriorityOffsets) {
    const int candidate = osNiceForPriority(entry.priority, processNice);
    const int distance = candidate > nice ? candidate - nice : nice - candidate;
    // Ties go to the priority nearer to normal.
    const int magnitude = entry.priority < 0 ? -entry.priority : entry.priority;
    const int bestMagnitude = best < 0 ? -best : best;
    if (distance < bestDistance || (distance == bestDistance && magnitude < bestMagnitude)) {
      best = entry.priority;
      bestDistance = distance;
    }
  }
  return best;
}

namespace {

// The kernel id of the calling thread. Asking the kernel costs a system call
// each time, so every thread remembers its id; a child process made by fork()
// forgets it, because its one thread has a new id.
thread_local pid_t cachedKernelId = 0;

void forgetKernelIdInChild() { cachedKernelId = 0; }

pid_t currentKernelId() {
  if (cachedKernelId == 0) {
    static const int registered = pthread_atfork(nullptr, nullptr, forgetKernelIdInChild);
    (void)registered;
    cachedKernelId = static_cast<pid_t>(gettid());
  }
  return cachedKernelId;
}

}  // namespace

struct OsThread {
  OsThreadEntry entry = nullptr;
  void* argument = nullptr;
  pthread_t thread{};

  std::mutex mutex;
  std::condition_variable changed;
  pid_t kernelId = 0;  // known once the thread runs
  bool started = false;  // the entry may run: the thread has its priority
  // The priority last set and the nice value it gave, so that reading it
  // back gives what was set while nobody else has changed the thread.
  int priority = 0;
  int nice = 0;
  bool prioritySet = false;
  bool finished = false;
  bool joined = false;

  // One reference for the handle, one for the running thread.
  std::atomic<int> references{2};

  void release() {
    if (references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }
};

namespace {

// Marks the thread finished however it leaves its entry function, including
// the unwind of osThreadExit.
struct FinishedOnExit {
  OsThread* record;
  ~FinishedOnExit() {
    {
      std::lock_guard<std::mutex> lock(record->mutex);
      record->finished = true;
    }
    record->changed.notify_all();
    record->release();
  }
};

extern "C" void* threadStart(void* argument) {
  OsThread* record = static_cast<OsThread*>(argument);
  FinishedOnExit finishedOnExit{record};
  {
    std::lock_guard<std::mutex> lock(record->mutex);
    record->kernelId = currentKernelId();
  }
  record->changed.notify_all();
  {
    // The entry runs at the priority it was created with, never at its
    // creator's for a moment (threads it starts would inherit that).
    std::unique_lock<std::mutex> lock(record->mutex);
    record->changed.wait(lock, [record] { return record->started; });
  }
  record->entry(record->argument);
  return nullptr;
}

pid_t waitForKernelId(OsThread* record) {
  std::unique_lock<std::mutex> lock(record->mutex);
  record->changed.wait(lock, [record] { return record->kernelId != 0; });
  return record->kernelId;
}

}  // namespace

bool osThreadCreate(OsThreadEntry entry, void* argument, int priority, OsThreadId* id,
                    OsThreadHandle* handle) {
  OsThread* record = new (std::nothrow) OsThread;
  if (record == nullptr || entry == nullptr) {
    delete record;
    std::printf("osThreadCreate: _beginthreadex failed. Error = %ld.\n",
                static_cast<long>(entry == nullptr ? EINVAL : ENOMEM));
    return false;
  }
  record->entry = entry;
  record->argument = argument;

  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  int error = pthread_attr_setstacksize(&attributes, kThreadStackBytes);
  if (error == 0) error = pthread_create(&record->thread, &attributes, threadStart, record);
  pthread_attr_destroy(&attributes);
  if (error != 0) {
    delete record;
    std::printf("osThreadCreate: _beginthreadex failed. Error = %ld.\n", static_cast<long>(error));
    return false;
  }

  const pid_t kernelId = waitForKernelId(record);
  if (priority != OS_THREAD_PRIORITY_NORMAL) {
    osThreadPrioritySet(record, priority);
  } else {
    // A new thread starts with its creator's nice value; normal is the
    // process's own. Only a creator at another level makes a difference,
    // and raising the thread back needs a privilege the process may lack.
    errno = 0;
    const int inherited = getpriority(PRIO_PROCESS, static_cast<id_t>(kernelId));
    if (errno == 0 && inherited != osNiceForPriority(OS_THREAD_PRIORITY_NORMAL, processNice())) {
      osThreadPrioritySet(record, OS_THREAD_PRIORITY_NORMAL);
    }
  }
  {
    std::lock_guard<std::mutex> lock(record->mutex);
    record->started = true;
  }
  record->changed.notify_all();
  if (id != nullptr) *id = static_cast<OsThreadId>(kernelId);
  if (handle != nullptr) {
    *handle = record;
  } else {
    osThreadClose(record);
  }
  return true;
}

bool osThreadPrioritySet(OsThreadHandle handle, int priority) {
  int offset = 0;
  int error = EINVAL;
  if (handle != nullptr && offsetForPriority(priority, offset)) {
    // Relative to the process, and never beyond the least favoured nice
    // value, which any process may ask for its own threads.
    const int nice = osNiceForPriority(priority, processNice());
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(waitForKernelId(handle)), nice) == 0) {
      std::lock_guard<std::mutex> lock(handle->mutex);
      handle->priority = priority;
      handle->nice = nice;
      handle->prioritySet = true;
      return true;
    }
    error = errno;
  }
  std::printf("osThreadPrioritySet: SetThreadPriority failed. Error = %ld.\n", static_cast<long>(error));
  return false;
}

bool osThreadPriorityGet(OsThreadHandle handle, int* priority) {
  int error = EINVAL;
  if (handle != nullptr && priority != nullptr) {
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(waitForKernelId(handle)));
    if (errno == 0) {
      std::lock_guard<std::mutex> lock(handle->mutex);
      // Several priorities can share a nice value near the ends of the range.
      *priority = handle->prioritySet && handle->nice == nice ? handle->priority : osPriorityForNice(nice, processNice());
      return true;
    }
    error = errno;
    *priority = OS_THREAD_PRIORITY_ERROR;
  }
  std::printf("osThreadPriorityGet: GetThreadPriority failed. Error = %ld.\n", static_cast<long>(error));
  return false;
}

OsThreadId osThreadSelf(OsThreadId* id) {
  const OsThreadId self = static_cast<OsThreadId>(currentKernelId());
  if (id != nullptr) *id = self;
  return self;
}

void osThreadExit() { pthread_exit(nullptr); }

void osSleep(uint32_t milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

uint32_t osProcessSelf(uint32_t* id) {
  const uint32_t self = static_cast<uint32_t>(getpid());
  if (id != nullptr) *id = self;
  return self;
}

uint32_t osTickCount() {
  // The coarse clock moves with the kernel's tick (a few milliseconds), like
  // the tick counter this stands for, and is read several times cheaper.
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

bool osThreadWait(OsThreadHandle handle, uint32_t timeoutMs) {
  if (handle == nullptr) return false;
  std::unique_lock<std::mutex> lock(handle->mutex);
  const auto hasFinished = [handle] { return handle->finished; };
  if (timeoutMs == OS_WAIT_FOREVER) {
    handle->changed.wait(lock, hasFinished);
  } else if (!handle->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), hasFinished)) {
    return false;
  }
  if (!handle->joined) {
    // The thread has left its entry function; joining only collects it.
    handle->joined = true;
    const pthread_t thread = handle->thread;
    lock.unlock();
    pthread_join(thread, nullptr);
  }
  return true;
}

bool osThreadClose(OsThreadHandle handle) {
  if (handle == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(handle->mutex);
    if (!handle->joined) {
      handle->joined = true;
      pthread_detach(handle->thread);
    }
  }
  handle->release();
  return true;
}
