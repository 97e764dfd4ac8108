#include "container/zem_buffer.h"

#include <cstring>
#include <new>

#include "container/fail_points.h"

namespace zem {

void clZemBuffer::store(uint32_t slot, const char* text) {
  const size_t length = strnlen(text, kMaxItemBytes);
  std::memcpy(m_Slots[slot], text, length);
  m_Slots[slot][length] = '\0';
}

void clZemBuffer::setFirst(const char* text) {
  m_Count = 1;
  store(0, text);
}

bool clZemBuffer::addNext(const char* text) {
  if (m_Count >= kSlots) return false;
  store(m_Count, text);
  ++m_Count;
  return true;
}

const char* clZemBuffer::getFirst() {
  if (m_Count == 0) return nullptr;
  m_Cursor = 1;
  return m_Slots[0];
}

const char* clZemBuffer::getNext() {
  if (m_Count == 0 || m_Count <= m_Cursor) return nullptr;
  return m_Slots[m_Cursor++];
}

void* clZemBuffer::operator new(size_t size) {
  hitFailPoint(FailPoint::Allocation);
  return ::operator new(size);
}

void clZemBuffer::operator delete(void* memory) noexcept { ::operator delete(memory); }

}  // namespace zem
