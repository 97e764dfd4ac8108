// The per-thread message queues of the OS layer and their value protocol.
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"
#include "support/stdout_capture.h"

namespace {

using zem::test::StdoutCapture;

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
  StdoutCapture out;
  for (uint32_t value : {1u, 0u, 0xFFFFFFFFu, 42u}) EXPECT_TRUE(osMsgQueueWrite(reader.queue(), value));
  EXPECT_TRUE(osMsgQueueClose(reader.queue()));
  reader.finish();
  EXPECT_EQ(reader.values(), (std::vector<uint32_t>{1u, 0u, 0xFFFFFFFFu, 42u}));
  EXPECT_EQ(reader.lastValue(), 42u) << "the read after close leaves the value untouched";
  EXPECT_EQ(out.text(), "") << "a read after close prints nothing";
}

TEST(OsMsgQueue, AForeignMessageIsReportedAndSkipped) {
  Reader reader;
  StdoutCapture out;
  EXPECT_TRUE(osThreadMessagePost(reader.queue(), 1234, 5, -6));
  EXPECT_TRUE(osMsgQueueWrite(reader.queue(), 9));
  EXPECT_TRUE(osMsgQueueClose(reader.queue()));
  reader.finish();
  EXPECT_EQ(reader.values(), (std::vector<uint32_t>{9u}));
  EXPECT_EQ(out.text(), "osMsgQueueRead: Unknown msg, message=1234, wParam=5, lParam=-6\n");
}

TEST(OsMsgQueue, AValueMessageWithoutTheMarkerEndsTheRead) {
  Reader reader;
  StdoutCapture out;
  EXPECT_TRUE(osThreadMessagePost(reader.queue(), OS_MSG_QUEUE_MESSAGE, 1, 77));
  reader.finish();
  EXPECT_TRUE(reader.values().empty());
  EXPECT_EQ(out.text(), "osMsgQueueRead: Invalid queue message, wParam = 1\n");
}

TEST(OsMsgQueue, WritingFailsWithoutALiveQueue) {
  OsThreadId ended = 0;
  std::thread([&] { osMsgQueueCreate(&ended); }).join();  // the queue ends with its thread
  OsThreadId neverCreated = 0;
  std::thread([&] { osThreadSelf(&neverCreated); }).join();

  StdoutCapture out;
  EXPECT_FALSE(osMsgQueueWrite(ended, 1));
  EXPECT_FALSE(osMsgQueueClose(ended));
  EXPECT_FALSE(osMsgQueueWrite(neverCreated, 1));
  const std::string failure = "osMsgQueueWrite: PostThreadMessage failed. Error = " + std::to_string(ESRCH) + ".\n";
  EXPECT_EQ(out.text(), failure + failure);
}

TEST(OsMsgQueue, ReadingWithoutAQueueFailsInsteadOfWaitingForever) {
  std::string printed;
  bool read = true;
  std::thread([&] {
    StdoutCapture out;
    uint32_t value = 0;
    read = osMsgQueueRead(0, &value);
    printed = out.text();
  }).join();
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
