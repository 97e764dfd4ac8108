#include "testprovider/decimal_text.h"

namespace rigbench {
namespace {

constexpr int64_t kHeldMagnitude = 1000000000000;  // 10^12

// Reads an optional sign and digits from position `at`; `digits` counts them.
int64_t readSignedDigits(const QString& text, qsizetype& at, int& digits) {
  bool negative = false;
  if (at < text.size() && (text[at] == u'-' || text[at] == u'+')) negative = text[at++] == u'-';
  int64_t magnitude = 0;
  digits = 0;
  while (at < text.size() && text[at] >= u'0' && text[at] <= u'9') {
    magnitude = std::min(magnitude * 10 + (text[at].unicode() - u'0'), kHeldMagnitude);
    ++at;
    ++digits;
  }
  return negative ? -magnitude : magnitude;
}

qsizetype skipBlanks(const QString& text, qsizetype at) {
  while (at < text.size() && text[at].isSpace()) ++at;
  return at;
}

}  // namespace

std::optional<int64_t> parseDecimal(const QString& text, int64_t min, int64_t max) {
  qsizetype at = skipBlanks(text, 0);
  int digits = 0;
  const int64_t value = readSignedDigits(text, at, digits);
  if (digits == 0 || skipBlanks(text, at) != text.size()) return std::nullopt;
  if (value < min || value > max) return std::nullopt;
  return value;
}

int64_t leadingDecimal(const QString& text) {
  qsizetype at = skipBlanks(text, 0);
  int digits = 0;
  return readSignedDigits(text, at, digits);
}

}  // namespace rigbench
