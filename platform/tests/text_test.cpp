#include "platform/text.h"

#include <gtest/gtest.h>

namespace {

TEST(TextTest, Utf8RoundTripsThroughWideIncludingSupplementaryPlanes) {
  const std::string samples[] = {"", "plain", "Pr\xC3\xAAt", "\xE5\xB0\xB1\xE7\xBB\xAA",
                                 "\xF0\x9F\x96\xA8 printer"};
  for (const auto& s : samples) {
    SCOPED_TRACE(s);
    EXPECT_EQ(platform::wideToUtf8(platform::utf8ToWide(s)), s);
  }
}

TEST(TextTest, MalformedUtf8BecomesReplacementCharacters) {
  // A lone continuation byte, a truncated sequence, an overlong form and an
  // encoded surrogate: each bad byte yields one U+FFFD and decoding goes on.
  EXPECT_EQ(platform::utf8ToWide("a\x80"
                                 "b"),
            L"a\xFFFD"
            L"b");
  EXPECT_EQ(platform::utf8ToWide("\xE5\xB0"), L"\xFFFD\xFFFD");
  EXPECT_EQ(platform::utf8ToWide("\xC0\xAF"), L"\xFFFD\xFFFD");
  EXPECT_EQ(platform::utf8ToWide("\xED\xA0\x80"), L"\xFFFD\xFFFD\xFFFD");
}

TEST(TextTest, Utf16SurrogatePairsDecodeToOneCharacter) {
  const std::u16string pair = u"x\U0001F5A8y";
  const std::wstring wide = platform::utf16ToWide(pair);
  EXPECT_EQ(platform::wideToUtf8(wide), "x\xF0\x9F\x96\xA8y");
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 4u : 3u);
  EXPECT_EQ(platform::wideToUtf16(wide), pair);
}

}  // namespace
