#include "item_text.h"

#include <clocale>
#include <cstring>

#include <langinfo.h>

namespace sqlprovider {
namespace {

// The bytes and UTF-16 units of the character that starts with `lead`.
struct CharacterSize {
  size_t bytes;
  size_t units;
};

CharacterSize sizeOf(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return {4, 2};
  if (lead >= 0xE0 && lead <= 0xEF) return {3, 1};
  if (lead >= 0xC2 && lead <= 0xDF) return {2, 1};
  return {1, 1};
}

bool isContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The character at `at`, never reaching past a continuation byte that is
// missing (a broken sequence counts its lead byte alone).
CharacterSize characterAt(const std::string& text, size_t at) {
  CharacterSize size = sizeOf(static_cast<unsigned char>(text[at]));
  for (size_t next = 1; next < size.bytes; ++next) {
    if (at + next >= text.size() || !isContinuation(static_cast<unsigned char>(text[at + next]))) return {1, 1};
  }
  return size;
}

bool localeIsUtf8() {
  const char* codeset = nl_langinfo(CODESET);
  return codeset != nullptr && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0);
}

}  // namespace

size_t utf16Length(const std::string& text) {
  size_t units = 0;
  for (size_t at = 0; at < text.size();) {
    const CharacterSize size = characterAt(text, at);
    at += size.bytes;
    units += size.units;
  }
  return units;
}

std::string cutToUnits(const std::string& text, size_t limit) {
  size_t units = 0;
  for (size_t at = 0; at < text.size();) {
    const CharacterSize size = characterAt(text, at);
    if (units + size.units > limit) return text.substr(0, at);
    at += size.bytes;
    units += size.units;
  }
  return text;
}

bool useUtf8Locale() {
  if (std::setlocale(LC_CTYPE, "") != nullptr && localeIsUtf8()) return true;
  return std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr && localeIsUtf8();
}

}  // namespace sqlprovider
