#include "testprovider/answer_rules.h"

#include "testprovider/decimal_text.h"
#include "testprovider/panel_members.h"

namespace rigbench {

int32_t incrementedValue(const QString& text) {
  const int64_t n = leadingDecimal(text) + 1;
  return n < 0 || n > kMaxIdentifier ? 1 : static_cast<int32_t>(n);
}

int32_t randomInRange(int32_t from, int32_t to, int draw) {
  const float width = static_cast<float>(static_cast<uint32_t>(to) - static_cast<uint32_t>(from));
  const float offset = width * (static_cast<float>(draw) / static_cast<float>(RandomDraw::kMax));
  const int64_t value = int64_t{from} + static_cast<int64_t>(offset);
  return static_cast<int32_t>(std::min<int64_t>(value, to));
}

QString timestampText(std::time_t now) {
  std::tm local{};
  localtime_r(&now, &local);
  char text[32] = {};
  if (asctime_r(&local, text) == nullptr) return QString();
  return QString::fromLatin1(text);
}

}  // namespace rigbench
