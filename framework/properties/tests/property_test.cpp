#include "framework/properties/property.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>

#include "framework/properties/tests/test_support.h"
#include "platform/debug_output.h"

namespace vela {
namespace {

using Owned = std::unique_ptr<IProperty>;

std::string withNul(const std::string& text) {
  return text + std::string(1, '\0');
}

void* address(std::uintptr_t value) {
  return reinterpret_cast<void*>(value);
}

// ---------------------------------------------------------------------------
// Conversions

TEST(PropertyConversion, TextToIntParsesLikeUnsigned32BitStrtoul) {
  struct Case {
    const char* text;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"0x1F", 31},
      {"0X1f", 31},
      {"017", 15},
      {"abc", 0},
      {"", 0},
      {"4294967295", -1},
      {"4294967296", -1},  // overflow saturates at 0xFFFFFFFF
      {"99999999999999999999999", -1},
      {"0x100000000", -1},
      {"-1", -1},           // negated modulo 2^32
      {"-4294967296", -1},  // overflow wins over the sign
      {"-2", -2},
      {"  \t+42xyz", 42},  // blanks, sign, stops at the first non-digit
      {"2147483648", std::numeric_limits<std::int32_t>::min()},
      {"08", 0},  // octal stops at 8
      {"0x", 0},  // "0" then an unparsed "x"
      {"0xg", 0},
      {"00017", 15},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Owned narrow(Property::newString(c.text));
    EXPECT_EQ(narrow->toInt(), c.expected);
    const std::wstring wide(c.text, c.text + std::strlen(c.text));
    Owned wideText(Property::newWString(wide.c_str()));
    EXPECT_EQ(wideText->toInt(), c.expected);
  }
}

TEST(PropertyConversion, NumbersToInt) {
  EXPECT_EQ(Owned(Property::newUInt64(0x100000000ull))->toInt(), 0);
  EXPECT_EQ(Owned(Property::newUInt64(0x1FFFFFFFFull))->toInt(), -1);
  EXPECT_EQ(Owned(Property::newDouble(-2.9))->toInt(), -2);
  EXPECT_EQ(Owned(Property::newFloat(7.9f))->toInt(), 7);
  // Values the result cannot hold give the lowest value, as the processor's
  // conversion does, instead of undefined behaviour.
  EXPECT_EQ(Owned(Property::newDouble(1e12))->toInt(), std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Owned(Property::newDouble(std::nan("")))->toInt(),
            std::numeric_limits<std::int32_t>::min());
  EXPECT_EQ(Owned(Property::newDouble(-2147483648.7))->toInt(),
            std::numeric_limits<std::int32_t>::min());
}

TEST(PropertyConversion, KindsWithoutConversionAnswerTheFunctor) {
  Owned pointer(Property::newPointer(address(0x4A1230)));
  EXPECT_EQ(pointer->toInt(), 0);
  EXPECT_EQ(pointer->toUInt64(), 0u);
  EXPECT_EQ(NullProperty::instance()->toDouble(), 0.0);

  IProperty::Functor<std::int32_t> seven(7);
  EXPECT_EQ(pointer->toInt(seven), 7);
  IProperty::Functor<double> half(0.5);
  EXPECT_EQ(Owned(Property::newString("12"))->toDouble(half), 0.5);  // texts are not parsed
  EXPECT_EQ(Owned(Property::newString("12"))->toFloat(), 0.0f);
  EXPECT_EQ(Owned(Property::newWString(L"3.5"))->toUInt64(), 0u);

  // The functor sees the kind, the raw word and the size.
  struct Recorder : IProperty::Functor<std::int32_t> {
    std::int32_t* operator()(std::int32_t kind, std::uint64_t value, std::uint64_t size) override {
      kind_ = kind;
      value_word_ = value;
      size_ = size;
      return &value_;
    }
    std::int32_t kind_ = 0;
    std::uint64_t value_word_ = 0;
    std::uint64_t size_ = 99;
  } recorder;
  const unsigned char bytes[3] = {1, 2, 3};
  Owned block(OpaqueProperty::newOpaque(Pointer, bytes, 3));
  block->toInt(recorder);
  EXPECT_EQ(recorder.kind_, Pointer);
  EXPECT_EQ(recorder.value_word_, block->getValue());
  EXPECT_EQ(recorder.size_, 3u);
}

TEST(PropertyConversion, FloatingAndUnsignedConversions) {
  EXPECT_EQ(Owned(Property::newInt(-1))->toUInt64(), std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(Owned(Property::newInt(-3))->toDouble(), -3.0);
  EXPECT_EQ(Owned(Property::newUInt64(1ull << 63))->toDouble(), 9223372036854775808.0);
  EXPECT_GT(Owned(Property::newUInt64(~0ull))->toFloat(), 0.0f);
  EXPECT_EQ(Owned(Property::newDouble(1e19))->toUInt64(), 10000000000000000000ull);
  EXPECT_EQ(Owned(Property::newDouble(9223372036854775808.0))->toUInt64(), 1ull << 63);
  EXPECT_EQ(Owned(Property::newDouble(12.99))->toUInt64(), 12u);
  EXPECT_EQ(Owned(Property::newFloat(2.5f))->toDouble(), 2.5);
  EXPECT_EQ(Owned(Property::newDouble(0.25))->toFloat(), 0.25f);
}

TEST(PropertyConversion, TextFormsEndWithOneNul) {
  EXPECT_EQ(Owned(Property::newPointer(address(0x4A1230)))->toString(),
            withNul("type:4 0x00000000004A1230"));
  EXPECT_EQ(NullProperty::instance()->toString(), withNul("type:1 0x0000000000000000"));
  EXPECT_EQ(Owned(Property::newPointer(address(0xABCDEF)))->toString(),
            withNul("type:4 0x0000000000ABCDEF"));
  EXPECT_EQ(Owned(Property::newWString(L"abc"))->toString(), withNul("abc"));
  EXPECT_EQ(Owned(Property::newString("x y"))->toString(), withNul("x y"));
  EXPECT_EQ(Owned(Property::newInt(-42))->toString(), withNul("-42"));
  EXPECT_EQ(Owned(Property::newUInt64(~0ull))->toString(), withNul("18446744073709551615"));
  EXPECT_EQ(Owned(Property::newDouble(3.14159265))->toString(), withNul("3.14159"));
  EXPECT_EQ(Owned(Property::newFloat(0.5f))->toString(), withNul("0.5"));
  EXPECT_EQ(Owned(Property::newDouble(1e20))->toString(), withNul("1e+20"));
  EXPECT_EQ(Owned(Property::newDouble(123456789.0))->toString(), withNul("1.23457e+08"));

  // Kinds without a text form use the given functor's text.
  IProperty::StringFunctor fixed("opaque");
  const char bytes[2] = {'h', 'i'};
  EXPECT_EQ(Owned(OpaqueProperty::newOpaque(Pointer, bytes, 2))->toString(fixed),
            withNul("opaque"));
  EXPECT_EQ(Owned(OpaqueProperty::newOpaque(42, bytes, 2))->toString().substr(0, 10),
            "type:42 0x");  // any kind code of an opaque property
  IProperty::StringFunctor empty;
  EXPECT_EQ(NullProperty::instance()->toString(empty), withNul(""));
}

// The test runs with a German locale: on Windows the ANSI code page is then
// 1252, which has the accented letter but no Chinese character; the native
// build's narrow text is UTF-8.
TEST(PropertyConversion, WideTextBecomesAnsiText) {
  Owned wide(Property::newWString(L"\u00e9\u4e2d"));
#ifdef _WIN32
  EXPECT_EQ(wide->toString(), withNul("\xE9?"));
#else
  EXPECT_EQ(wide->toString(), withNul("\xC3\xA9\xE4\xB8\xAD"));
#endif
}

// ---------------------------------------------------------------------------
// Class tests, construction, cloning and ownership

TEST(PropertyClasses, ClassTestsTellTheClassesApart) {
  const Guid typeId{0x12345678, 0x9ABC, 0xDEF0, {1, 2, 3, 4, 5, 6, 7, 8}};
  const char bytes[5] = "abcd";
  Owned simple(Property::newInt(1));
  Owned opaque(OpaqueProperty::newOpaque(Pointer, bytes, 5));
  Owned custom(CustomProperty::newCustom(9, bytes, 5, typeId));
  const IProperty* null = NullProperty::instance();

  EXPECT_TRUE(simple->isSimple() && !simple->isOpaque() && !simple->isCustom() &&
              !simple->isNull());
  EXPECT_TRUE(null->isSimple() && !null->isOpaque() && !null->isCustom() && null->isNull());
  EXPECT_TRUE(!opaque->isSimple() && opaque->isOpaque() && !opaque->isCustom() &&
              !opaque->isNull());
  EXPECT_TRUE(!custom->isSimple() && custom->isOpaque() && custom->isCustom() && !custom->isNull());

  EXPECT_EQ(simple->getSize(), 0u);
  EXPECT_EQ(opaque->getSize(), 5u);
  EXPECT_EQ(custom->getType(), 9);
  EXPECT_EQ(custom->getTypeId(), typeId);
  EXPECT_TRUE(isNullGuid(opaque->getTypeId()));
  EXPECT_TRUE(isNullGuid(null->getTypeId()));
  EXPECT_EQ(null->getType(), Null);
  EXPECT_EQ(null->getValue(), 0u);
  EXPECT_EQ(NullProperty::instance(), NullProperty::instance());
}

TEST(PropertyClasses, FactoriesCopyTheirInput) {
  char text[] = "hello";
  Owned narrow(Property::newString(text, 3));  // only the given length
  text[0] = 'J';
  EXPECT_STREQ(reinterpret_cast<const char*>(narrow->getValue()), "hel");

  unsigned char bytes[4] = {9, 8, 7, 6};
  Owned block(OpaqueProperty::newOpaque(Pointer, bytes, 4));
  bytes[0] = 0;
  const auto* copy = reinterpret_cast<const unsigned char*>(block->getValue());
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(static_cast<const void*>(copy), static_cast<const void*>(bytes));
  EXPECT_EQ(copy[0], 9);

  Owned pointer(Property::newPointer(bytes));  // pointers are not owned
  EXPECT_EQ(pointer->getValue(), reinterpret_cast<std::uintptr_t>(bytes));
  EXPECT_EQ(Owned(Property::newInt(-1))->getValue(), 0xFFFFFFFFull);  // high half stays zero
}

TEST(PropertyClasses, EmptyAndUnallocatableValues) {
  Owned empty(OpaqueProperty::newOpaque(Pointer, "x", 0));
  EXPECT_EQ(empty->getValue(), 0u);
  EXPECT_EQ(empty->getSize(), 0u);

  // A missing source block gives zeros, not a read through null.
  Owned zeros(OpaqueProperty::newOpaque(Pointer, nullptr, 3));
  const auto* block = reinterpret_cast<const unsigned char*>(zeros->getValue());
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(block[0] + block[1] + block[2], 0);

  // Lengths that cannot be allocated leave a null value word and keep the
  // kind instead of overflowing; an opaque property then reports size 0, not
  // a size its null block does not have. The trace tells why the value
  // reads as empty.
  std::string trace;
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) { trace += text; });
  Owned hugeText(Property::newString("abc", std::numeric_limits<std::size_t>::max()));
  EXPECT_EQ(hugeText->getType(), String);
  EXPECT_EQ(hugeText->getValue(), 0u);
  EXPECT_EQ(hugeText->toString(), withNul(""));
  EXPECT_EQ(hugeText->toInt(), 0);
  Owned hugeBlock(OpaqueProperty::newOpaque(Pointer, "abc", ~0ull));
  EXPECT_EQ(hugeBlock->getValue(), 0u);
  EXPECT_EQ(hugeBlock->getSize(), 0u);
  EXPECT_NE(trace.find("text characters"), std::string::npos) << trace;
  EXPECT_NE(trace.find("block bytes"), std::string::npos) << trace;

  Owned nullText(Property::newString(nullptr));
  EXPECT_EQ(nullText->toString(), withNul(""));
}

// A block of kind String or WString carries no terminator of its own: every
// reading of it as a text stays within the block (ASan checks the reads).
TEST(PropertyClasses, OpaqueTextBlocksAreReadOnlyWithinTheirSize) {
  Owned narrow(OpaqueProperty::newOpaque(String, "123", 3));
  EXPECT_EQ(narrow->toString(), withNul("123"));
  EXPECT_EQ(narrow->toInt(), 123);
  const wchar_t wide[] = {L'4', L'2'};
  Owned wideBlock(OpaqueProperty::newOpaque(WString, wide, sizeof wide));
  EXPECT_EQ(wideBlock->toString(), withNul("42"));
  EXPECT_EQ(wideBlock->toInt(), 42);
  // A wide block cut inside its last character.
  Owned cut(OpaqueProperty::newOpaque(WString, wide, sizeof wide - 1));
  EXPECT_EQ(cut->toString().substr(0, 1), "4");
  Owned clone(cloneProperty(*narrow));
  EXPECT_EQ(clone->toString(), withNul("123"));
}

TEST(PropertyCloning, ClonesOwnTheirTexts) {
  IProperty* source = Property::newString("status");
  Owned clone(cloneProperty(*source));
  EXPECT_NE(clone->getValue(), source->getValue());
  delete source;  // the clone's text must survive (ASan checks the reads)
  EXPECT_EQ(clone->toString(), withNul("status"));

  IProperty* wide = Property::newWString(L"\u00e9t\u00e9");
  Owned wideClone(cloneProperty(*wide));
  delete wide;
  EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(wideClone->getValue())),
            L"\u00e9t\u00e9");
}

TEST(PropertyCloning, CloneKeepsClassKindAndBlock) {
  const Guid typeId{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
  const unsigned char bytes[6] = {1, 2, 3, 4, 5, 6};
  Owned custom(CustomProperty::newCustom(17, bytes, 6, typeId));
  Owned customClone(cloneProperty(*custom));
  EXPECT_TRUE(customClone->isCustom());
  EXPECT_EQ(customClone->getType(), 17);
  EXPECT_EQ(customClone->getTypeId(), typeId);
  ASSERT_EQ(customClone->getSize(), 6u);
  EXPECT_NE(customClone->getValue(), custom->getValue());
  EXPECT_EQ(std::memcmp(reinterpret_cast<const void*>(customClone->getValue()), bytes, 6), 0);

  Owned opaque(OpaqueProperty::newOpaque(Pointer, bytes, 6));
  Owned opaqueClone(cloneProperty(*opaque));
  EXPECT_TRUE(opaqueClone->isOpaque());
  EXPECT_FALSE(opaqueClone->isCustom());
  EXPECT_EQ(opaqueClone->getSize(), 6u);

  Owned number(Property::newDouble(2.75));
  EXPECT_EQ(Owned(cloneProperty(*number))->toDouble(), 2.75);
  Owned pointer(Property::newPointer(address(0x1234)));
  EXPECT_EQ(Owned(cloneProperty(*pointer))->getValue(), 0x1234u);
}

TEST(PropertyCloning, CloneOfTheSharedNullIsAnOrdinaryKindOneProperty) {
  Owned clone(cloneProperty(*NullProperty::instance()));
  EXPECT_NE(clone.get(), NullProperty::instance());
  EXPECT_EQ(clone->getType(), Null);
  EXPECT_FALSE(clone->isNull());
  EXPECT_TRUE(clone->isSimple());
  EXPECT_EQ(clone->toInt(), 0);
  EXPECT_EQ(clone->toString(), withNul("type:1 0x0000000000000000"));
}

TEST(PropertyOwnership, DeletePropertySparesTheSharedNull) {
  deleteProperty(nullptr);
  deleteProperty(NullProperty::instance());
  EXPECT_TRUE(NullProperty::instance()->isNull());

  std::atomic<int> deletions{0};
  deleteProperty(new vela_test::CountingProperty(1, &deletions));
  EXPECT_EQ(deletions.load(), 1);
}

}  // namespace
}  // namespace vela
