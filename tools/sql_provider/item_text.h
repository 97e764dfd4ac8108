// How long a database's text is as an item. Databases hand out UTF-8; an
// item holds what one string of the wire carries, 80 UTF-16 units, so a
// text is measured and cut in those units, never inside a character.
#pragma once

#include <cstddef>
#include <string>

namespace sqlprovider {

// The UTF-16 units of a UTF-8 text: one per character, two for a character
// beyond the Basic Multilingual Plane. A byte that starts no character
// counts as one, so a broken text is never measured short.
size_t utf16Length(const std::string& text);

// The longest prefix of `text` of at most `limit` UTF-16 units that ends on
// a character's boundary.
std::string cutToUnits(const std::string& text, size_t limit);

// Takes the environment's locale for character types when it is UTF-8, and
// C.UTF-8 otherwise (a service starts in "C", whose ASCII would make the
// library refuse any other character of a row). False when no UTF-8 locale
// could be had.
bool useUtf8Locale();

}  // namespace sqlprovider
