// Per-thread message queues of the OS layer, carrying 32-bit values.
//
// Every thread may own one queue of messages (a number and two parameters),
// identified by the thread's id. The value protocol on top of it: a value
// travels as message OS_MSG_QUEUE_MESSAGE with OS_MSG_QUEUE_MARKER as first
// parameter and the value as second; the close message is OS_MSG_QUIT with
// the marker and 0.
//
// Only the owning thread reads its queue, and it creates the queue with
// osMsgQueueCreate before anyone writes; any thread may write or close. A
// queue ends with its thread; writing to it afterwards fails.
#pragma once

#include <cstdint>

#include "platform/os/os_thread.h"

using OsMsgQueueId = OsThreadId;

constexpr uint32_t OS_MSG_QUEUE_MESSAGE = 0x8000;  // first application-defined message number
constexpr uint32_t OS_MSG_QUEUE_MARKER = 0xFACE;
constexpr uint32_t OS_MSG_QUIT = 18;

// Makes the calling thread's queue (if it has none yet) and gives its id.
bool osMsgQueueCreate(OsMsgQueueId* queue);
bool osMsgQueueWrite(OsMsgQueueId queue, uint32_t value);
// Waits for the next value on the calling thread's own queue (the id is not
// used). False after the close message, and on a message that breaks the
// protocol; messages of other numbers are reported and skipped.
bool osMsgQueueRead(OsMsgQueueId queue, uint32_t* value);
// Posts the close message: the owner's next read returns false.
bool osMsgQueueClose(OsMsgQueueId queue);

// Posts any message to a thread's queue; the primitive under write and close.
// Fails (ESRCH) when the thread has no queue.
bool osThreadMessagePost(OsThreadId thread, uint32_t message, uint32_t firstParameter, long secondParameter,
                         int* error = nullptr);
