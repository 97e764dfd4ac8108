// Faults on purpose, run on a thread of their own with the exception
// translator, and what the thread's own handlers caught.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/fault/exception_translator.h"
#include "platform/fault/gll_se_exception.h"
#include "platform/os/os.h"

namespace fault_run {

// Kept out of line and away from the sanitizers' own checks, so that each
// really executes the faulting instruction; results go to a volatile sink,
// so that no computation can be dropped and no call becomes a tail jump.
inline volatile int* volatile nullTarget = nullptr;
inline volatile int zeroDivisor = 0;
inline volatile int dividend = 7;
inline volatile int sink = 0;

__attribute__((noinline, no_sanitize("undefined"))) inline void readAddressZero() { sink = *nullTarget; }
__attribute__((noinline, no_sanitize("undefined"))) inline void divideByZero() { sink = dividend / zeroDivisor; }

struct SetOnDestroy {
  bool& flag;
  ~SetOnDestroy() { flag = true; }
};

struct Outcome {
  enum Kind { Nothing, Translated, BareCode, Other } kind = Nothing;
  uint32_t code = 0;
  std::string description;
};

struct FaultRun {
  std::vector<std::function<void()>> faults;
  bool installed = false;
  OsThreadId threadId = 0;
  std::vector<Outcome> outcomes;
};

inline uint32_t faultThread(void* argument) {
  FaultRun& run = *static_cast<FaultRun*>(argument);
  run.installed = installExceptionTranslator();
  for (const std::function<void()>& fault : run.faults) {
    Outcome outcome;
    try {
      fault();
    } catch (GLL_SE_Exception* exception) {
      outcome.kind = Outcome::Translated;
      outcome.code = exception->code;
      outcome.description = exception->description != nullptr ? exception->description : "(null)";
      delete exception;
    } catch (unsigned int code) {
      outcome.kind = Outcome::BareCode;
      outcome.code = code;
    } catch (...) {
      outcome.kind = Outcome::Other;
    }
    run.outcomes.push_back(outcome);
  }
  if (run.installed) removeExceptionTranslator();
  return 0;
}

// Runs the faults in order on one new thread (65536-byte stack) and waits for it.
inline FaultRun runFaults(std::vector<std::function<void()>> faults) {
  FaultRun run;
  run.faults = std::move(faults);
  OsThreadHandle handle = nullptr;
  if (!osThreadCreate(faultThread, &run, 0, &run.threadId, &handle)) return run;
  osThreadWait(handle, OS_WAIT_FOREVER);
  osThreadClose(handle);
  return run;
}

}  // namespace fault_run
