// clZemBuffer: the item store of one message container. Ten fixed slots,
// each big enough for one string of the wire data block, so storing and
// reading items never allocates; the store itself is allocated once, with
// the container's first item.
//
// Items are narrow null-terminated texts that the wire can carry (at most 80
// UTF-16 units, at most kMaxItemBytes bytes: item_text.h); the container
// checks that before it hands a text to the store. The store
// keeps a read cursor: the number of items handed out since the last
// getFirst().
//
// Owned by exactly one container and used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "container/item_text.h"

namespace zem {

class clZemBuffer {
 public:
  static constexpr uint32_t kSlots = 10;
  // The longest item in the narrow encoding and its terminator: 80 UTF-16
  // units of the wire at four bytes each, so an item of full length fits in
  // any multibyte locale.
  static constexpr size_t kSlotBytes = kMaxItemBytes + 1;

  clZemBuffer() = default;

  // Count becomes 1 and slot 0 takes the text; the other slots keep their
  // contents out of reach and the read cursor stays where it is.
  void setFirst(const char* text);
  // False when ten items are stored already; else the text takes the next slot.
  bool addNext(const char* text);
  // Null when empty; else the cursor becomes 1 and slot 0 is returned.
  const char* getFirst();
  // Null when the cursor has reached the count; else the slot at the cursor,
  // and the cursor moves on.
  const char* getNext();

  uint32_t count() const { return m_Count; }
  uint32_t cursor() const { return m_Cursor; }

  // The store allocates through the container fail point (fail_points.h).
  static void* operator new(size_t size);
  static void operator delete(void* memory) noexcept;

 private:
  void store(uint32_t slot, const char* text);

  char m_Slots[kSlots][kSlotBytes] = {};
  uint32_t m_Cursor = 0;
  uint32_t m_Count = 0;
};

}  // namespace zem
