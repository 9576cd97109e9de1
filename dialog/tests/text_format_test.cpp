// The dialog's text formatter: only "%s" takes arguments, texts stay within
// 1,023 bytes, and a cut never splits a character.
#include "dialog/text_format.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using textformat::format;
using textformat::kLimit;

// Code page 936 (GBK): lead bytes 0x81..0xFE, then one trail byte (which may
// be 0x40..0x7E, so it can look like ASCII).
std::size_t gbkLength(unsigned char lead) {
  return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
}

std::size_t singleByte(unsigned char) {
  return 1;
}

const std::string kZhong = "\xD6\xD0";  // 中 in GBK

TEST(TextFormat, SubstitutesOnlyPercentS) {
  struct Case {
    const char* format;
    std::vector<std::string_view> arguments;
    const char* expected;
  };
  const Case cases[] = {
      {"Printer %s is out of paper", {"Kestrel"}, "Printer Kestrel is out of paper"},
      {"[%s|%s|%s]", {"a", "", "c"}, "[a||c]"},
      // Missing arguments are empty; extra ones are ignored.
      {"%s%s%s%s", {"one"}, "one"},
      {"%s", {}, ""},
      {"no placeholder", {"unused", "also unused"}, "no placeholder"},
      // Every other sequence stays as it is: nothing reads an argument that
      // was never passed.
      {"%d%n", {"x"}, "%d%n"},
      {"%x %p %S %ls %1$s %.3s %-5s", {"x"}, "%x %p %S %ls %1$s %.3s %-5s"},
      {"100%", {}, "100%"},
      {"%", {}, "%"},
      {"100%% sure, %s", {"yes"}, "100% sure, yes"},
      {"%%s", {"x"}, "%s"},
      {"%%%s", {"x"}, "%x"},
      // Arguments are copied, never scanned.
      {"<%s>", {"%s%d%%"}, "<%s%d%%>"},
      {"", {"x"}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.format);
    bool cut = true;
    EXPECT_EQ(c.expected, format(c.format, c.arguments, singleByte, &cut));
    EXPECT_FALSE(cut);
  }
}

TEST(TextFormat, CutsToTheLimitIncludingTheTerminator) {
  bool cut = false;
  const std::string fits(kLimit - 1, 'x');
  EXPECT_EQ(fits, format(fits, {}, singleByte, &cut));
  EXPECT_FALSE(cut);

  const std::string long_(2000, 'y');
  std::string result = format(long_, {}, singleByte, &cut);
  EXPECT_EQ(kLimit - 1, result.size());
  EXPECT_TRUE(cut);

  // The limit holds for what the arguments bring, too, however many there are.
  result = format("%s%s%s", {long_, long_, long_}, singleByte, &cut);
  EXPECT_EQ(std::string(kLimit - 1, 'y'), result);
  EXPECT_TRUE(cut);
  result = format("ab%scd", {std::string(kLimit - 3, 'z')}, singleByte, &cut);
  EXPECT_EQ("ab" + std::string(kLimit - 3, 'z'), result);
}

TEST(TextFormat, NeverSplitsADoubleByteCharacter) {
  // "AB" and 600 two-byte characters: 1,202 bytes. 1,023 bytes would end in
  // the middle of the 511th character, so the text ends after the 510th.
  std::string gbk = "AB";
  for (int i = 0; i < 600; ++i) gbk += kZhong;
  bool cut = false;
  std::string result = format(gbk, {}, gbkLength, &cut);
  EXPECT_TRUE(cut);
  ASSERT_EQ(kLimit - 2, result.size());
  EXPECT_EQ(gbk.substr(0, kLimit - 2), result);

  // The same through an argument, after a one-byte prefix: 1,023 bytes end
  // exactly on a character boundary and are kept.
  result = format("A%s", {gbk.substr(2)}, gbkLength, &cut);
  EXPECT_EQ(kLimit - 1, result.size());

  // A trail byte that looks like "%" or "s" is part of its character.
  const std::string tricky = "\x81%s\x81s";
  EXPECT_EQ(tricky, format(tricky, {"ARG"}, gbkLength, &cut));
  EXPECT_FALSE(cut);
  // A lead byte without its trail byte at the end is half a character.
  EXPECT_EQ("ok", format("ok\x81", {}, gbkLength, &cut));
  EXPECT_TRUE(cut);
}

TEST(TextFormat, WholeCharacterPrefixWalksFromTheStart) {
  using textformat::wholeCharacterPrefix;
  // 0xD0 is a lead byte but here it is the trail byte of 中: walking from the
  // start is the only way to know.
  const std::string text = kZhong + kZhong;
  EXPECT_EQ(4u, wholeCharacterPrefix(text, 4, gbkLength));
  EXPECT_EQ(2u, wholeCharacterPrefix(text, 3, gbkLength));
  EXPECT_EQ(0u, wholeCharacterPrefix(text, 1, gbkLength));
  EXPECT_EQ(0u, wholeCharacterPrefix("", 10, gbkLength));
  // UTF-8: "ü€" is 2 + 3 bytes.
  const std::string utf8 = "\xC3\xBC\xE2\x82\xAC";
  EXPECT_EQ(2u, wholeCharacterPrefix(utf8, 4, textformat::utf8CharLength));
  EXPECT_EQ(5u, wholeCharacterPrefix(utf8, 5, textformat::utf8CharLength));
}

}  // namespace
