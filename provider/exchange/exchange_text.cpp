#include "provider/exchange/exchange_text.h"

#include <climits>
#include <cstring>
#include <cwchar>

namespace {

constexpr size_t kMaxNarrowBytes = 80;
constexpr size_t kMaxWireUnits = kStringUnits - 1;
constexpr char32_t kReplacement = U'\uFFFD';

bool isHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool isLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Walks UTF-16 text as code points; lone surrogates become U+FFFD.
template <typename Visit>
void forEachCodePoint(std::u16string_view text, Visit visit) {
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t unit = text[i];
    if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (isHighSurrogate(unit) || isLowSurrogate(unit)) {
      unit = kReplacement;
    }
    if (!visit(unit)) return;
  }
}

// Appends a code point as UTF-16 if it fits within limit units.
bool appendUtf16(std::u16string& out, char32_t point, size_t limit) {
  const size_t need = point > 0xFFFF ? 2 : 1;
  if (out.size() + need > limit) return false;
  if (point > 0xFFFF) {
    point -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (point >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (point & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(point));
  }
  return true;
}

}  // namespace

std::u16string_view slotText(const char16_t (&units)[kStringUnits]) {
  size_t length = 0;
  while (length < kStringUnits && units[length] != 0) ++length;
  return std::u16string_view(units, length);
}

std::string wireStringToNarrow(const char16_t (&units)[kStringUnits]) {
  std::string out;
  std::mbstate_t state{};
  forEachCodePoint(slotText(units), [&](char32_t point) {
    char bytes[MB_LEN_MAX];
    size_t length = std::wcrtomb(bytes, static_cast<wchar_t>(point), &state);
    if (length == static_cast<size_t>(-1)) {
      state = std::mbstate_t{};
      bytes[0] = '?';
      length = 1;
    }
    if (out.size() + length > kMaxNarrowBytes) return false;
    out.append(bytes, length);
    return true;
  });
  return out;
}

void narrowToWireString(std::string_view text, char16_t (&slot)[kStringUnits]) {
  std::u16string units;
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
      break;  // an embedded zero ends the text
    } else {
      point = static_cast<char32_t>(wide);
      if (point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) point = U'?';
      position += used;
    }
    if (!appendUtf16(units, point, kMaxWireUnits)) break;
  }
  std::memset(slot, 0, sizeof slot);
  std::memcpy(slot, units.data(), units.size() * sizeof(char16_t));
}

bool utf8ToUtf16(std::string_view text, std::u16string& out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    int extra;
    char32_t point;
    if (byte < 0x80) { extra = 0; point = byte; }
    else if ((byte & 0xE0) == 0xC0) { extra = 1; point = byte & 0x1F; }
    else if ((byte & 0xF0) == 0xE0) { extra = 2; point = byte & 0x0F; }
    else if ((byte & 0xF8) == 0xF0) { extra = 3; point = byte & 0x07; }
    else return false;
    if (text.size() - i <= static_cast<size_t>(extra)) return false;  // cut short
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<unsigned char>(text[i + static_cast<size_t>(k)]);
      if ((next & 0xC0) != 0x80) return false;
      point = point << 6 | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (point < kSmallest[extra] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return false;
    appendUtf16(out, point, SIZE_MAX);
    i += static_cast<size_t>(extra) + 1;
  }
  return true;
}

std::string utf16ToUtf8(std::u16string_view text) {
  std::string out;
  forEachCodePoint(text, [&](char32_t point) {
    if (point < 0x80) {
      out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
      out.push_back(static_cast<char>(0xC0 | point >> 6));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | point >> 12));
      out.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | point >> 18));
      out.push_back(static_cast<char>(0x80 | (point >> 12 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
    return true;
  });
  return out;
}
