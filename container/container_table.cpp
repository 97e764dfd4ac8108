#include "container/container_table.h"

#include <algorithm>
#include <new>

namespace zem {

ContainerTable::Ref& ContainerTable::Ref::operator=(Ref&& other) noexcept {
  if (this != &other) {
    release();
    table_ = other.table_;
    slot_ = other.slot_;
    container_ = other.container_;
    other.slot_ = nullptr;
    other.container_ = nullptr;
  }
  return *this;
}

void ContainerTable::Ref::release() {
  if (slot_ == nullptr) return;
  const uint32_t before = slot_->state.fetch_sub(1, std::memory_order_release);
  // The last pin of a container that is being destroyed wakes the destroyer.
  if ((before & kLive) == 0 && (before & kPinMask) == 1) table_->wakeDestroyers();
  slot_ = nullptr;
  container_ = nullptr;
}

void ContainerTable::wakeDestroyers() const {
  // The pin count fell before this lock is taken, so a destroyer either sees
  // it fallen when it checks under the lock or already waits to be notified.
  { std::lock_guard lock(pinMutex_); }
  pinsGone_.notify_all();
}

ContainerTable::ContainerTable(uint32_t capacity) : slotEnd_(std::min(capacity, kSlotLimit - 1) + 1) {}

ContainerTable::~ContainerTable() {
  for (std::atomic<Slot*>& entry : chunks_) {
    Slot* chunk = entry.load(std::memory_order_acquire);
    if (chunk == nullptr) continue;
    for (uint32_t i = 0; i < kChunkSize; ++i) delete chunk[i].container.load(std::memory_order_relaxed);
    delete[] chunk;
  }
}

ContainerTable::Slot* ContainerTable::slotOf(ZemContainerHandle handle) const {
  const uint32_t index = handle & (kSlotLimit - 1);
  if (index == 0 || index >= slotCount_.load(std::memory_order_acquire)) return nullptr;
  Slot* chunk = chunks_[index >> kChunkBits].load(std::memory_order_acquire);
  return &chunk[index & (kChunkSize - 1)];
}

uint32_t ContainerTable::takeFreeSlot() {
  const uint32_t count = slotCount_.load(std::memory_order_relaxed);
  const bool mayGrow = count < slotEnd_;
  if (freeCount_ > 0 && (freeCount_ >= kReuseDelay || !mayGrow)) {
    const uint32_t index = freeHead_;
    Slot* chunk = chunks_[index >> kChunkBits].load(std::memory_order_relaxed);
    freeHead_ = chunk[index & (kChunkSize - 1)].nextFree;
    if (--freeCount_ == 0) freeTail_ = 0;
    return index;
  }
  if (!mayGrow) throw std::bad_alloc();
  std::atomic<Slot*>& chunk = chunks_[count >> kChunkBits];
  if (chunk.load(std::memory_order_relaxed) == nullptr) chunk.store(new Slot[kChunkSize], std::memory_order_release);
  slotCount_.store(count + 1, std::memory_order_release);
  return count;
}

ZemContainerHandle ContainerTable::insert(std::unique_ptr<clZem_Message_Data> container) {
  uint32_t index;
  {
    std::lock_guard lock(freeMutex_);
    index = takeFreeSlot();
  }
  Slot& slot = *slotOf(index);
  const uint32_t generation = generationOf(slot.state.load(std::memory_order_relaxed));
  slot.container.store(container.release(), std::memory_order_relaxed);
  slot.state.store((generation << kGenerationShift) | kLive, std::memory_order_release);
  live_.fetch_add(1, std::memory_order_relaxed);
  return (generation << kGenerationShift) | index;
}

ContainerTable::Ref ContainerTable::acquire(ZemContainerHandle handle) const {
  Slot* slot = slotOf(handle);
  if (slot == nullptr) return {};
  uint32_t word = slot->state.load(std::memory_order_relaxed);
  do {
    if ((word & kLive) == 0 || generationOf(word) != generationOf(handle)) return {};
    if ((word & kPinMask) == kPinMask) return {};
  } while (!slot->state.compare_exchange_weak(word, word + 1, std::memory_order_acquire, std::memory_order_relaxed));
  return Ref(this, slot, slot->container.load(std::memory_order_relaxed));
}

bool ContainerTable::destroy(ZemContainerHandle handle) {
  Slot* slot = slotOf(handle);
  if (slot == nullptr) return false;
  // Retire the handle: clear the live bit and move the generation on in one
  // step, so that exactly one destroyer wins and no new pin is taken.
  uint32_t word = slot->state.load(std::memory_order_relaxed);
  uint32_t retired;
  do {
    if ((word & kLive) == 0 || generationOf(word) != generationOf(handle)) return false;
    const uint32_t nextGeneration = (generationOf(word) + 1) & ((1u << kGenerationBits) - 1);
    retired = (nextGeneration << kGenerationShift) | (word & kPinMask);
  } while (!slot->state.compare_exchange_weak(word, retired, std::memory_order_acq_rel, std::memory_order_relaxed));

  // Wait for the pins taken before the retirement.
  if ((retired & kPinMask) != 0) {
    std::unique_lock lock(pinMutex_);
    pinsGone_.wait(lock, [slot] { return (slot->state.load(std::memory_order_acquire) & kPinMask) == 0; });
  }
  delete slot->container.exchange(nullptr, std::memory_order_relaxed);
  live_.fetch_sub(1, std::memory_order_relaxed);

  const uint32_t index = handle & (kSlotLimit - 1);
  std::lock_guard lock(freeMutex_);
  slot->nextFree = 0;
  if (freeTail_ == 0) {
    freeHead_ = index;
  } else {
    slotOf(freeTail_)->nextFree = index;
  }
  freeTail_ = index;
  ++freeCount_;
  return true;
}

}  // namespace zem
