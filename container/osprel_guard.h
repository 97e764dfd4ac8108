// Osprel_clGuard: a lock object around one recursive critical section; the
// thread that holds it may enter it again. lock() and unlock() always give
// true. It meets the standard BasicLockable requirements, so std::lock_guard
// and std::unique_lock work with it.
//
// The library holds two: the process-wide creation lock of message containers
// (container_runtime.h) and the provider's own lock. It lives here, beside its
// first user, and is meant to be included from wherever a guard is needed.
#pragma once

#include <mutex>

namespace zem {

class Osprel_clGuard {
 public:
  Osprel_clGuard() = default;
  virtual ~Osprel_clGuard() = default;
  Osprel_clGuard(const Osprel_clGuard&) = delete;
  Osprel_clGuard& operator=(const Osprel_clGuard&) = delete;

  virtual bool lock() {
    m_Section.lock();
    return true;
  }
  virtual bool unlock() {
    m_Section.unlock();
    return true;
  }

 private:
  std::recursive_mutex m_Section;
};

}  // namespace zem
