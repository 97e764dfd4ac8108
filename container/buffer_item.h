// clBufferItem: a collectable text of bounded capacity (class identifier 2,
// factory name "clBufferItem"). It is registered with the class factory
// beside the message container; no container operation uses it.
#pragma once

#include <cstdint>
#include <memory>

#include "container/collectable.h"

namespace zem {

class clBufferItem final : public Collectable {
 public:
  static constexpr ClassId kClassId = 2;
  static constexpr const char* kFactoryName = "clBufferItem";
  static constexpr uint32_t kMaxCapacity = 80;

  // Capacity min(capacity, 80) with an empty text. The text always has room
  // for its terminator, also at capacity 0.
  explicit clBufferItem(uint32_t capacity = 0);
  ~clBufferItem() override = default;

  // Copies at most capacity - 1 characters of the text and terminates them;
  // the caller's text is not changed.
  void setText(const char* text);
  const char* text() const { return m_Text.get(); }
  uint32_t capacity() const { return m_Capacity; }

  std::unique_ptr<Collectable> newSpecies() const override;
  std::unique_ptr<Collectable> copy() const override;
  ClassId isA() const override { return kClassId; }

  static std::unique_ptr<Collectable> create();

 private:
  std::unique_ptr<char[]> m_Text;
  uint32_t m_Capacity;
};

}  // namespace zem
