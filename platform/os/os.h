// The OS layer: the fixed vocabulary of small "os" functions through which
// the logger and the rest of the library reach the operating system.
// None of them throws or keeps state of its own; each reports success as its
// result, and the ones the system documents print a one-line diagnostic on
// standard output when they fail.
#pragma once

#include "platform/os/os_critical_section.h"
#include "platform/os/os_file.h"
#include "platform/os/os_msg_queue.h"
#include "platform/os/os_semaphore.h"
#include "platform/os/os_thread.h"
#include "platform/os/os_time.h"
