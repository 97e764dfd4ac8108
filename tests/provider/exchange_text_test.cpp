#include "provider/exchange/exchange_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstring>

namespace {

// Runs the test body under a given LC_CTYPE for this thread only.
class ThreadLocale {
 public:
  explicit ThreadLocale(const char* name) : locale_(newlocale(LC_CTYPE_MASK, name, nullptr)) {
    if (locale_ != nullptr) previous_ = uselocale(locale_);
  }
  ~ThreadLocale() {
    if (locale_ != nullptr) {
      uselocale(previous_);
      freelocale(locale_);
    }
  }
  bool ok() const { return locale_ != nullptr; }

 private:
  locale_t locale_;
  locale_t previous_ = nullptr;
};

void fill(char16_t (&slot)[kStringUnits], std::u16string_view text) {
  std::memset(slot, 0, sizeof slot);
  std::memcpy(slot, text.data(), text.size() * sizeof(char16_t));
}

TEST(ExchangeText, AsciiPassesUnchangedInTheCLocale) {
  ThreadLocale c("C");
  char16_t slot[kStringUnits];
  narrowToWireString("Call 17 ready", slot);
  EXPECT_EQ(slotText(slot), u"Call 17 ready");
  EXPECT_EQ(wireStringToNarrow(slot), "Call 17 ready");
}

TEST(ExchangeText, TheCLocaleStoresAQuestionMarkForWhatItCannotHold) {
  ThreadLocale c("C");
  char16_t slot[kStringUnits];
  fill(slot, u"K\u00f6ln \u20ac");
  EXPECT_EQ(wireStringToNarrow(slot), "K?ln ?");
  narrowToWireString("K\xc3\xb6ln", slot);  // UTF-8 bytes are not ASCII
  EXPECT_EQ(slotText(slot), u"K??ln");
}

TEST(ExchangeText, UnderUtf8NonAsciiAndSurrogatePairsRoundTrip) {
  ThreadLocale utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  char16_t slot[kStringUnits];
  narrowToWireString("K\xc3\xb6ln \xf0\x9f\x93\x9e", slot);  // Köln and U+1F4DE
  EXPECT_EQ(slotText(slot), u"K\u00f6ln \U0001F4DE");
  EXPECT_EQ(slotText(slot).size(), 7u) << "one character beyond U+FFFF takes two units";
  EXPECT_EQ(wireStringToNarrow(slot), "K\xc3\xb6ln \xf0\x9f\x93\x9e");
}

TEST(ExchangeText, ALoneSurrogateOrInvalidByteBecomesAReplacement) {
  ThreadLocale utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  char16_t slot[kStringUnits];
  fill(slot, u"a\xD800" u"b");
  EXPECT_EQ(wireStringToNarrow(slot), "a\xef\xbf\xbd" "b");
  narrowToWireString("a\xff" "b", slot);
  EXPECT_EQ(slotText(slot), u"a?b");
}

TEST(ExchangeText, SendingCutsAtEightyUnitsOnAWholeCharacter) {
  ThreadLocale utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  char16_t slot[kStringUnits];
  std::memset(slot, 0xAB, sizeof slot);
  narrowToWireString(std::string(100, 'x'), slot);
  EXPECT_EQ(slotText(slot).size(), 80u);
  EXPECT_EQ(slot[80], 0);
  // 79 units, then a pair that would need units 80 and 81: left out whole.
  narrowToWireString(std::string(79, 'x') + "\xf0\x9f\x93\x9e", slot);
  EXPECT_EQ(slotText(slot).size(), 79u);
}

TEST(ExchangeText, ReceivingCutsAtEightyBytesOnAWholeCharacter) {
  ThreadLocale utf8("C.UTF-8");
  ASSERT_TRUE(utf8.ok());
  char16_t slot[kStringUnits];
  // 79 ASCII and one two-byte character: 81 bytes narrow, so it is left out.
  fill(slot, std::u16string(79, u'x') + u"\u00f6");
  const std::string narrow = wireStringToNarrow(slot);
  EXPECT_EQ(narrow, std::string(79, 'x'));
  fill(slot, std::u16string(80, u'y'));
  EXPECT_EQ(wireStringToNarrow(slot).size(), 80u);
}

TEST(ExchangeText, Utf8ConversionsForJson) {
  std::u16string units;
  ASSERT_TRUE(utf8ToUtf16("K\xc3\xb6ln \xf0\x9f\x93\x9e", units));
  EXPECT_EQ(units, u"K\u00f6ln \U0001F4DE");
  EXPECT_EQ(utf16ToUtf8(units), "K\xc3\xb6ln \xf0\x9f\x93\x9e");
  const char* invalid[] = {"\xff", "\xc3", "\xe2\x82", "\xc0\x80", "\xed\xa0\x80", "\xf4\x90\x80\x80"};
  for (const char* text : invalid) EXPECT_FALSE(utf8ToUtf16(text, units)) << text;
}

}  // namespace
