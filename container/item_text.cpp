#include "container/item_text.h"

#include <cstring>

#include "zemlink.h"

namespace zem {

static_assert(kMaxItemUnits == ZEM_MAX_ITEM_LENGTH && kMaxItemBytes == ZEM_MAX_ITEM_BYTES);

bool fitsItem(const char* text) {
  const size_t bytes = strnlen(text, kMaxItemBytes + 1);
  // Every unit takes one byte at least: short texts need no decoding, and
  // single-byte text is measured in bytes exactly as before.
  if (bytes <= kMaxItemUnits) return true;
  if (bytes > kMaxItemBytes) return false;
  size_t units = 0;
  forEachWireCodePoint(std::string_view(text, bytes), [&units](char32_t point) {
    units += wireUnits(point);
    return units <= kMaxItemUnits;
  });
  return units <= kMaxItemUnits;
}

}  // namespace zem
