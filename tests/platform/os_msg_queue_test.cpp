// The per-thread message queues of the OS layer and their value protocol.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/os/os.h"
#include "support/stdout_capture.h"

namespace {

using zem::test::capturedStdout;

// A thread that owns a queue and reads it until a read fails.
class Reader {
 public:
  Reader() {
    osBinarySemaphoreCreate(&ready_, 0);
    thread_ = std::thread([this] {
      osMsgQueueCreate(&queue_);
      osBinarySemaphoreGive(ready_);
      uint32_t value = 0xDEADBEEF;
      while (osMsgQueueRead(queue_, &value)) values_.push_back(value);
      lastValue_ = value;
    });
    osBinarySemaphoreTake(ready_, OS_WAIT_FOREVER);
  }
  ~Reader() {
    if (thread_.joinable()) thread_.join();
    osBinarySemaphoreDestroy(ready_);
  }
  OsMsgQueueId queue() const { return queue_; }
  // Waits until the reader's loop ended.
  void finish() { thread_.join(); }
  const std::vector<uint32_t>& values() const { return values_; }
  uint32_t lastValue() const { return lastValue_; }

 private:
  OsSemaphoreHandle ready_ = nullptr;
  OsMsgQueueId queue_ = 0;
  std::thread thread_;
  std::vector<uint32_t> values_;
  uint32_t lastValue_ = 0;
};

TEST(OsMsgQueue, ValuesArriveInOrderAndCloseEndsTheReads) {
  Reader reader;
  bool sent = true;
  const std::string printed = capturedStdout([&] {
    for (uint32_t value : {1u, 0u, 0xFFFFFFFFu, 42u}) sent = osMsgQueueWrite(reader.queue(), value) && sent;
    sent = osMsgQueueClose(reader.queue()) && sent;
    reader.finish();
  });
  EXPECT_TRUE(sent);
  EXPECT_EQ(reader.values(), (std::vector<uint32_t>{1u, 0u, 0xFFFFFFFFu, 42u}));
  EXPECT_EQ(reader.lastValue(), 42u) << "the read after close leaves the value untouched";
  EXPECT_EQ(printed, "") << "a read after close prints nothing";
}

TEST(OsMsgQueue, AForeignMessageIsReportedAndSkipped) {
  Reader reader;
  bool sent = false;
  const std::string printed = capturedStdout([&] {
    sent = osThreadMessagePost(reader.queue(), 1234, 5, -6) && osMsgQueueWrite(reader.queue(), 9) &&
           osMsgQueueClose(reader.queue());
    reader.finish();
  });
  EXPECT_TRUE(sent);
  EXPECT_EQ(reader.values(), (std::vector<uint32_t>{9u}));
  EXPECT_EQ(printed, "osMsgQueueRead: Unknown msg, message=1234, wParam=5, lParam=-6\n");
}

TEST(OsMsgQueue, AValueMessageWithoutTheMarkerEndsTheRead) {
  Reader reader;
  bool sent = false;
  const std::string printed = capturedStdout([&] {
    sent = osThreadMessagePost(reader.queue(), OS_MSG_QUEUE_MESSAGE, 1, 77);
    reader.finish();
  });
  EXPECT_TRUE(sent);
  EXPECT_TRUE(reader.values().empty());
  EXPECT_EQ(printed, "osMsgQueueRead: Invalid queue message, wParam = 1\n");
}

TEST(OsMsgQueue, WritingFailsWithoutALiveQueue) {
  OsThreadId ended = 0;
  std::thread([&] { osMsgQueueCreate(&ended); }).join();  // the queue ends with its thread
  OsThreadId neverCreated = 0;
  std::thread([&] { osThreadSelf(&neverCreated); }).join();

  std::vector<bool> results;
  const std::string printed = capturedStdout([&] {
    results.push_back(osMsgQueueWrite(ended, 1));
    results.push_back(osMsgQueueClose(ended));
    results.push_back(osMsgQueueWrite(neverCreated, 1));
  });
  EXPECT_EQ(results, (std::vector<bool>{false, false, false}));
  const std::string failure = "osMsgQueueWrite: PostThreadMessage failed. Error = " + std::to_string(ESRCH) + ".\n";
  EXPECT_EQ(printed, failure + failure);
}

TEST(OsMsgQueue, ReadingWithoutAQueueFailsInsteadOfWaitingForever) {
  bool read = true;
  const std::string printed = capturedStdout([&] {
    std::thread([&] {
      uint32_t value = 0;
      read = osMsgQueueRead(0, &value);
    }).join();
  });
  EXPECT_FALSE(read);
  EXPECT_EQ(printed, "osMsgQueueRead: GetMessage failed. Error = " + std::to_string(ESRCH) + "\n");
}

TEST(OsMsgQueue, CreateGivesTheThreadsOwnId) {
  OsMsgQueueId first = 0;
  OsMsgQueueId second = 0;
  OsThreadId self = 0;
  std::thread([&] {
    osThreadSelf(&self);
    EXPECT_TRUE(osMsgQueueCreate(&first));
    EXPECT_TRUE(osMsgQueueCreate(&second));
  }).join();
  EXPECT_EQ(first, self);
  EXPECT_EQ(second, self);
}

}  // namespace
