// A database's UTF-8 text measured and cut in the UTF-16 units an item holds.
#include "item_text.h"

#include <gtest/gtest.h>

namespace sqlprovider {
namespace {

TEST(ItemText, MeasuresAndCutsInUtf16UnitsOnCharacterBoundaries) {
  const std::string e = "\xC3\xA9";            // é: 2 bytes, 1 unit
  const std::string euro = "\xE2\x82\xAC";     // €: 3 bytes, 1 unit
  const std::string clef = "\xF0\x9D\x84\x9E";  // musical G clef: 4 bytes, 2 units
  struct Case {
    const char* what;
    std::string text;
    size_t units;
    size_t limit;
    std::string cut;
  };
  const Case cases[] = {
      {"ASCII within the limit", "abc", 3, 80, "abc"},
      {"ASCII cut at the limit", std::string(85, 'x'), 85, 80, std::string(80, 'x')},
      {"80 two-byte characters are 160 bytes and fit", [&] { std::string s; for (int i = 0; i < 80; ++i) s += e; return s; }(),
       80, 80, [&] { std::string s; for (int i = 0; i < 80; ++i) s += e; return s; }()},
      {"a three-byte character at the limit stays whole", std::string(79, 'x') + euro + "y", 81, 80,
       std::string(79, 'x') + euro},
      {"a character of two units that would pass the limit is left out", std::string(79, 'x') + clef, 81, 80,
       std::string(79, 'x')},
      {"a character of two units that ends at the limit stays", std::string(78, 'x') + clef, 80, 80,
       std::string(78, 'x') + clef},
      {"a lead byte without its continuation counts as one", std::string("a\xC3") + "b", 3, 2, "a\xC3"},
      {"a stray continuation byte counts as one", "\x80\x80", 2, 1, "\x80"},
      {"empty", "", 0, 80, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(utf16Length(c.text), c.units);
    EXPECT_EQ(cutToUnits(c.text, c.limit), c.cut);
  }
}

}  // namespace
}  // namespace sqlprovider
