// A (numeric id, short text) pair, and a fixed table of 32 of them; the
// logger keeps its thread names in one.
//
// A pair is empty when its text is empty; the table has no count of its own,
// a slot is free while its pair is empty. Refusals are printed on standard
// output. Neither class locks: the owner guards the table.
#pragma once

#include <cstdint>

class IdStringPair {
 public:
  static constexpr int kMaxLength = 80;

  IdStringPair() = default;

  // Stores the id and a copy of the text (at most 80 characters).
  bool set(uint32_t id, const char* text);
  bool isEmpty() const { return string[0] == '\0'; }
  bool hasId(uint32_t wanted) const { return id == wanted; }

  uint32_t id = 0;
  char string[kMaxLength + 1] = {};
};

class IdStringPairTable {
 public:
  static constexpr int kSlots = 32;

  IdStringPairTable() { clear(); }

  // Empties every slot.
  void clear();
  // Stores the pair in the first free slot. An id already present is not
  // looked for: the same id can be stored twice.
  bool add(uint32_t id, const char* text);
  // The text of the first slot, in slot order, whose id matches; free slots
  // count too, with id 0. Null and false when none matches.
  bool find(uint32_t id, const char*& text) const;

 private:
  IdStringPair slots_[kSlots];
};
