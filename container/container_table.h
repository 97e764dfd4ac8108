// ContainerTable: the live message containers of the process, each reached
// through a 32-bit handle. Handles are numbers, never addresses, so a handle
// that was never issued, or whose container is gone, is recognised without
// touching memory.
//
// A handle is (generation << 20) | slot. Slot 0 is never used, so no handle
// is 0. Each slot counts its generation up (modulo 4096) when its container is
// destroyed, and freed slots are reused oldest first and only once 4096 of
// them are waiting, so a stale handle meets a new container only after at
// least 4096 * 4096 further creations. At most 2^20 - 1 containers live at
// once.
//
// Threads: every operation is safe from any thread. Lookups take no lock and
// cost a few atomic operations whatever the table's size. acquire() pins the
// container: while a Ref lives, destroy() of that handle (from another
// thread) waits for the Ref to go, so a destroyed container is never read.
// Consequently a thread must not destroy a container it has pinned itself.
// Creation and destruction share one short lock for the free list; a destroy
// that finds pins sleeps on a condition variable of the table, which the last
// of those pins signals. (Not std::atomic::wait: the MinGW runtime builds it
// on a condition variable that notify reaches without its mutex, so a pin
// going just as the destroyer lay down to wait left it asleep for good.)
//
// The provider core and the container exports share the process's table
// through ContainerRuntime (container_runtime.h).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "container/message_data.h"
#include "zemlink.h"

namespace zem {

class ContainerTable {
  struct Slot;

 public:
  static constexpr unsigned kSlotBits = 20;
  static constexpr unsigned kGenerationBits = 12;
  static constexpr uint32_t kSlotLimit = 1u << kSlotBits;  // slots 1 .. kSlotLimit - 1
  static constexpr uint32_t kReuseDelay = 4096;

  // A pinned container, or nothing when the handle designates none.
  class Ref {
   public:
    Ref() = default;
    ~Ref() { release(); }
    Ref(Ref&& other) noexcept : table_(other.table_), slot_(other.slot_), container_(other.container_) {
      other.slot_ = nullptr;
    }
    Ref& operator=(Ref&& other) noexcept;
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;

    explicit operator bool() const { return container_ != nullptr; }
    clZem_Message_Data* get() const { return container_; }
    clZem_Message_Data* operator->() const { return container_; }
    clZem_Message_Data& operator*() const { return *container_; }

   private:
    friend class ContainerTable;
    Ref(const ContainerTable* table, Slot* slot, clZem_Message_Data* container)
        : table_(table), slot_(slot), container_(container) {}
    void release();

    const ContainerTable* table_ = nullptr;
    Slot* slot_ = nullptr;
    clZem_Message_Data* container_ = nullptr;
  };

  // A table for at most `capacity` live containers (tests use small ones).
  explicit ContainerTable(uint32_t capacity = kSlotLimit - 1);
  // Destroys the containers that are still live.
  ~ContainerTable();
  ContainerTable(const ContainerTable&) = delete;
  ContainerTable& operator=(const ContainerTable&) = delete;

  // Takes the container and gives its new handle. Throws std::bad_alloc when
  // the table is full or cannot grow; the container is destroyed then.
  ZemContainerHandle insert(std::unique_ptr<clZem_Message_Data> container);
  // The container of a live handle, pinned; an empty Ref for anything else.
  Ref acquire(ZemContainerHandle handle) const;
  // Destroys the container of a live handle; false for anything else.
  bool destroy(ZemContainerHandle handle);

  size_t liveCount() const { return live_.load(std::memory_order_relaxed); }

 private:
  static constexpr unsigned kChunkBits = 12;
  static constexpr uint32_t kChunkSize = 1u << kChunkBits;
  static constexpr uint32_t kChunks = kSlotLimit / kChunkSize;

  // state: generation (12 bits) | live (1 bit) | pins (19 bits).
  static constexpr uint32_t kPinMask = (1u << 19) - 1;
  static constexpr uint32_t kLive = 1u << 19;
  static constexpr unsigned kGenerationShift = 20;

  struct Slot {
    std::atomic<uint32_t> state{0};
    std::atomic<clZem_Message_Data*> container{nullptr};
    uint32_t nextFree = 0;  // guarded by freeMutex_
  };

  static uint32_t generationOf(uint32_t word) { return word >> kGenerationShift; }
  Slot* slotOf(ZemContainerHandle handle) const;
  uint32_t takeFreeSlot();  // with freeMutex_ held
  void wakeDestroyers() const;

  const uint32_t slotEnd_;  // slots 1 .. slotEnd_ - 1 may be used
  std::atomic<Slot*> chunks_[kChunks] = {};
  std::atomic<uint32_t> slotCount_{1};  // slot 0 is never handed out
  std::atomic<size_t> live_{0};

  std::mutex freeMutex_;
  uint32_t freeHead_ = 0;  // oldest freed slot, 0 when none
  uint32_t freeTail_ = 0;
  uint32_t freeCount_ = 0;

  // Destroyers waiting for the pins of their retired slot to go.
  mutable std::mutex pinMutex_;
  mutable std::condition_variable pinsGone_;
};

}  // namespace zem
