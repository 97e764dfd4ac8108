// Text of MessageData: the ten UTF-16 strings on the wire and the library's
// narrow strings.
//
// Narrow text is in the multibyte encoding of the calling thread's current
// locale (the C library's LC_CTYPE; UTF-8 under a UTF-8 locale, ASCII in the
// "C" locale a program starts in); the library never changes the locale.
// UTF-16 surrogate pairs are joined on receipt and made on sending.
//
// A character that the narrow encoding cannot hold is stored as '?', as is
// a lone surrogate or a byte sequence that is not valid multibyte text.
// Texts are cut on whole characters: at most 80 bytes narrow, at most 80
// units on the wire.
#pragma once

#include <string>
#include <string_view>

#include "provider/exchange/exchange_records.h"

// One received string (up to its first zero unit, at most 81 units) as
// narrow text of at most 80 bytes.
std::string wireStringToNarrow(const char16_t (&units)[kStringUnits]);

// Fills a slot for sending: at most 80 units of text, every unit after them
// zero (unit 80 included).
void narrowToWireString(std::string_view text, char16_t (&slot)[kStringUnits]);

// Locale-independent conversions for programs that speak UTF-8 (the
// simulator's JSON). utf8ToUtf16 is false for invalid UTF-8.
bool utf8ToUtf16(std::string_view text, std::u16string& out);
std::string utf16ToUtf8(std::u16string_view text);

// The text of a slot, up to its first zero unit.
std::u16string_view slotText(const char16_t (&units)[kStringUnits]);
