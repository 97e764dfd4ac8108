#include "container/collectable.h"

#include <functional>

namespace zem {

uint32_t Collectable::hash() const {
  return static_cast<uint32_t>(std::hash<const void*>{}(this));
}

bool Collectable::isEqual(const Collectable* other) const { return other == this; }

}  // namespace zem
