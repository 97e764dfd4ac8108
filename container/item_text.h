// Item texts against the wire. Across the exported interface an item is a
// narrow text in the multibyte encoding of the current locale (the C
// library's LC_CTYPE: one byte a character in the "C" locale, up to four in
// UTF-8); on the wire it is at most 80 UTF-16 units. What limits an item is
// therefore what the wire can carry, not its length in bytes: 80 ASCII
// characters, 80 "é" (160 bytes in UTF-8) and 40 characters outside the
// Basic Multilingual Plane (two units each) are all items of full length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <string_view>

namespace zem {

// The longest item, in UTF-16 units on the wire.
inline constexpr size_t kMaxItemUnits = 80;
// The most bytes an item takes in its narrow encoding: four a unit, the most
// any multibyte encoding of a C library locale needs for one UTF-16 unit
// (UTF-8 needs three, GB 18030 and EUC-TW four).
inline constexpr size_t kMaxItemBytes = kMaxItemUnits * 4;

// Walks narrow text code point by code point, as it goes on the wire: a byte
// that does not begin valid multibyte text, and a value that is no Unicode
// scalar value, each become one '?'. An embedded zero ends the text.
// visit(char32_t) returns false to stop.
template <typename Visit>
void forEachWireCodePoint(std::string_view text, Visit visit) {
  std::mbstate_t state{};
  size_t position = 0;
  while (position < text.size()) {
    wchar_t wide = 0;
    const size_t used = std::mbrtowc(&wide, text.data() + position, text.size() - position, &state);
    char32_t point;
    if (used == static_cast<size_t>(-1) || used == static_cast<size_t>(-2)) {
      // Not valid multibyte text (or cut short): one '?' for the byte.
      state = std::mbstate_t{};
      point = U'?';
      position += 1;
    } else if (used == 0) {
      return;
    } else {
      point = static_cast<char32_t>(wide);
      if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) point = U'?';
      position += used;
    }
    if (!visit(point)) return;
  }
}

// The UTF-16 units of one code point.
inline size_t wireUnits(char32_t point) { return point > 0xFFFF ? 2 : 1; }

// True when the text is one item the wire can carry: at most 80 UTF-16 units
// and at most kMaxItemBytes bytes. A text of at most 80 bytes always is.
bool fitsItem(const char* text);

}  // namespace zem
