#include "logger/id_string_pair.h"

#include <cstdio>
#include <cstring>

bool IdStringPair::set(uint32_t newId, const char* text) {
  if (text == nullptr) {
    std::printf("IdStringPair::set(): NULL POINTER\n");
    return false;
  }
  const size_t length = std::strlen(text);
  if (length > kMaxLength) {
    std::printf("IdStringPair::set(): STRING TOO LONG\n");
    return false;
  }
  id = newId;
  std::memcpy(string, text, length + 1);
  return true;
}

void IdStringPairTable::clear() {
  for (IdStringPair& slot : slots_) {
    slot.id = 0;
    slot.string[0] = '\0';
  }
}

bool IdStringPairTable::add(uint32_t id, const char* text) {
  if (text == nullptr) {
    std::printf("IdStringPairTable::add(): NULL POINTER\n");
    return false;
  }
  if (std::strlen(text) > IdStringPair::kMaxLength) {
    std::printf("IdStringPairTable::add(): STRING TOO LONG\n");
    return false;
  }
  for (IdStringPair& slot : slots_) {
    if (!slot.isEmpty()) continue;
    if (!slot.set(id, text)) {
      std::printf("IdStringPairTable::set(): SET FAILED\n");
      return false;
    }
    return true;
  }
  std::printf("IdStringPairTable::add(): TABLE ALREADY FULL\n");
  return false;
}

bool IdStringPairTable::find(uint32_t id, const char*& text) const {
  for (const IdStringPair& slot : slots_) {
    if (slot.hasId(id)) {
      text = slot.string;
      return true;
    }
  }
  text = nullptr;
  return false;
}
