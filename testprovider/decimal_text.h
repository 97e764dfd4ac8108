// Decimal numbers in the texts of the window.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace rigbench {

// The whole text as a decimal number within [min, max]: blanks around it and
// a sign are allowed, nothing else. Nothing when it does not parse or lies
// outside.
std::optional<int64_t> parseDecimal(const QString& text, int64_t min, int64_t max);

// The decimal number at the start of a text, after blanks and an optional
// sign; 0 when no digit follows. Values beyond +-10^12 are held there, so
// a long run of digits never overflows.
int64_t leadingDecimal(const QString& text);

}  // namespace rigbench
