#include "platform/os/os_msg_queue.h"

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace {

struct ThreadMessage {
  uint32_t number;
  uint32_t firstParameter;
  long secondParameter;
};

struct ThreadQueue {
  std::mutex mutex;
  std::condition_variable arrived;
  std::deque<ThreadMessage> messages;
};

// The queues of all threads, by thread id. Never destroyed, so that threads
// that end while the process exits can still remove their queue.
class QueueDirectory {
 public:
  static QueueDirectory& instance() {
    static QueueDirectory* directory = new QueueDirectory;
    return *directory;
  }

  std::shared_ptr<ThreadQueue> find(OsThreadId thread) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = queues_.find(thread);
    return it == queues_.end() ? nullptr : it->second;
  }
  void add(OsThreadId thread, std::shared_ptr<ThreadQueue> queue) {
    std::lock_guard<std::mutex> lock(mutex_);
    queues_[thread] = std::move(queue);
  }
  void remove(OsThreadId thread) {
    std::lock_guard<std::mutex> lock(mutex_);
    queues_.erase(thread);
  }

 private:
  std::mutex mutex_;
  std::unordered_map<OsThreadId, std::shared_ptr<ThreadQueue>> queues_;
};

// The calling thread's queue; removed from the directory when the thread ends.
struct OwnQueue {
  std::shared_ptr<ThreadQueue> queue;
  OsThreadId owner = 0;
  ~OwnQueue() {
    if (queue) QueueDirectory::instance().remove(owner);
  }
};
thread_local OwnQueue ownQueue;

}  // namespace

bool osMsgQueueCreate(OsMsgQueueId* queue) {
  if (!ownQueue.queue) {
    ownQueue.owner = osThreadSelf(nullptr);
    ownQueue.queue = std::make_shared<ThreadQueue>();
    QueueDirectory::instance().add(ownQueue.owner, ownQueue.queue);
  }
  if (queue != nullptr) *queue = ownQueue.owner;
  return true;
}

bool osThreadMessagePost(OsThreadId thread, uint32_t message, uint32_t firstParameter, long secondParameter,
                         int* error) {
  std::shared_ptr<ThreadQueue> queue = QueueDirectory::instance().find(thread);
  if (!queue) {
    if (error != nullptr) *error = ESRCH;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(queue->mutex);
    queue->messages.push_back({message, firstParameter, secondParameter});
  }
  queue->arrived.notify_one();
  return true;
}

bool osMsgQueueWrite(OsMsgQueueId queue, uint32_t value) {
  int error = 0;
  if (osThreadMessagePost(queue, OS_MSG_QUEUE_MESSAGE, OS_MSG_QUEUE_MARKER, static_cast<long>(value), &error)) {
    return true;
  }
  std::printf("osMsgQueueWrite: PostThreadMessage failed. Error = %ld.\n", static_cast<long>(error));
  return false;
}

bool osMsgQueueClose(OsMsgQueueId queue) { return osThreadMessagePost(queue, OS_MSG_QUIT, OS_MSG_QUEUE_MARKER, 0); }

bool osMsgQueueRead(OsMsgQueueId /*queue*/, uint32_t* value) {
  ThreadQueue* queue = ownQueue.queue.get();
  if (queue == nullptr) {
    // Nobody can write to a queue that was never created: waiting would never end.
    std::printf("osMsgQueueRead: GetMessage failed. Error = %ld\n", static_cast<long>(ESRCH));
    return false;
  }
  for (;;) {
    ThreadMessage message{};
    {
      std::unique_lock<std::mutex> lock(queue->mutex);
      queue->arrived.wait(lock, [queue] { return !queue->messages.empty(); });
      message = queue->messages.front();
      queue->messages.pop_front();
    }
    if (message.number == OS_MSG_QUIT) return false;
    if (message.number != OS_MSG_QUEUE_MESSAGE) {
      std::printf("osMsgQueueRead: Unknown msg, message=%d, wParam=%d, lParam=%ld\n",
                  static_cast<int>(message.number), static_cast<int>(message.firstParameter),
                  message.secondParameter);
      continue;
    }
    if (message.firstParameter != OS_MSG_QUEUE_MARKER) {
      std::printf("osMsgQueueRead: Invalid queue message, wParam = %d\n", static_cast<int>(message.firstParameter));
      return false;
    }
    if (value != nullptr) *value = static_cast<uint32_t>(message.secondParameter);
    return true;
  }
}
