#include "container/buffer_item.h"

#include <algorithm>
#include <cstring>

namespace zem {

clBufferItem::clBufferItem(uint32_t capacity)
    : m_Text(new char[std::max<uint32_t>(std::min(capacity, kMaxCapacity), 1)]()),
      m_Capacity(std::min(capacity, kMaxCapacity)) {}

void clBufferItem::setText(const char* text) {
  if (text == nullptr) text = "";
  const size_t room = m_Capacity == 0 ? 0 : m_Capacity - 1;
  const size_t length = strnlen(text, room);
  std::memcpy(m_Text.get(), text, length);
  m_Text[length] = '\0';
}

std::unique_ptr<Collectable> clBufferItem::newSpecies() const { return create(); }

std::unique_ptr<Collectable> clBufferItem::copy() const {
  auto twin = std::make_unique<clBufferItem>(m_Capacity);
  std::memcpy(twin->m_Text.get(), m_Text.get(), std::max<uint32_t>(m_Capacity, 1));
  return twin;
}

std::unique_ptr<Collectable> clBufferItem::create() { return std::make_unique<clBufferItem>(); }

}  // namespace zem
