#include "framework/properties/property.h"

#include <cstdint>
#include <cstring>
#include <limits>
#include <new>
#include <sstream>

#include "platform/debug_output.h"
#include "platform/text.h"

namespace vela {
namespace {

// Longest buffer the factories try to allocate; longer requests behave like
// an allocation failure instead of overflowing the size computation.
constexpr std::uint64_t kMaxAllocation =
    static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()) / 4;

Property::Value wordOf(std::uint64_t bits) {
  Property::Value value;
  value.u64 = bits;
  return value;
}

Property::Value zeroWord() {
  return wordOf(0);
}

// A property whose value could not be copied keeps its kind with a null value
// word; the trace says why it reads as empty.
void traceAllocationFailure(const char* what, std::uint64_t count) {
  const std::string text =
      "[vela::Property] could not allocate " + std::to_string(count) + " " + what + "\n";
  platform::debugOutput(text.c_str());
}

template <class Char>
const Char* copyText(const Char* chars, std::size_t length) {
  if (!chars) length = 0;
  Char* copy = nullptr;
  if (length < kMaxAllocation / sizeof(Char)) copy = new (std::nothrow) Char[length + 1];
  if (!copy) {
    traceAllocationFailure(sizeof(Char) == 1 ? "text characters" : "wide text characters", length);
    return nullptr;
  }
  if (length) std::memcpy(copy, chars, length * sizeof(Char));
  copy[length] = Char();
  return copy;
}

template <class Char>
std::size_t textLength(const Char* text) {
  std::size_t length = 0;
  if (text) {
    while (text[length] != Char()) ++length;
  }
  return length;
}

template <class Char>
bool isBlank(Char c) {
  return c == Char(' ') || c == Char('\t') || c == Char('\n') || c == Char('\v') ||
         c == Char('\f') || c == Char('\r');
}

template <class Char>
int digitValue(Char c) {
  if (c >= Char('0') && c <= Char('9')) return static_cast<int>(c - Char('0'));
  if (c >= Char('a') && c <= Char('z')) return static_cast<int>(c - Char('a')) + 10;
  if (c >= Char('A') && c <= Char('Z')) return static_cast<int>(c - Char('A')) + 10;
  return 99;
}

// Parses like strtoul with base 0 where unsigned long is 32 bits: optional
// blanks and sign, then "0x"/"0X" for hexadecimal, a leading 0 for octal,
// else decimal, stopping at the first character that does not fit. Overflow
// gives 0xFFFFFFFF whatever the sign; a minus sign negates modulo 2^32; no
// digits give 0.
template <class Char>
std::uint32_t parseUnsigned32(const Char* text) {
  if (!text) return 0;
  const Char* p = text;
  while (isBlank(*p)) ++p;
  bool negative = false;
  if (*p == Char('+') || *p == Char('-')) {
    negative = *p == Char('-');
    ++p;
  }
  int base = 10;
  if (*p == Char('0')) {
    if ((p[1] == Char('x') || p[1] == Char('X')) && digitValue(p[2]) < 16) {
      base = 16;
      p += 2;
    } else {
      base = 8;
    }
  }
  std::uint64_t value = 0;
  bool overflow = false;
  for (int digit; (digit = digitValue(*p)) < base; ++p) {
    if (!overflow) {
      value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
      if (value > 0xFFFFFFFFull) overflow = true;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const std::uint32_t result = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

// Truncation toward zero as the x86 conversion instructions do it: NaN and
// values outside the signed range give the lowest value of the type.
template <class Int>
Int truncateToward0(double value) {
  constexpr double kLowest = static_cast<double>(std::numeric_limits<Int>::min());
  constexpr double kAboveHighest = -kLowest;
  // Written so that NaN fails the test too.
  if (value > kLowest - 1.0 && value < kAboveHighest) return static_cast<Int>(value);
  return std::numeric_limits<Int>::min();
}

std::uint64_t toUnsigned64(double value) {
  constexpr double kTwo63 = 9223372036854775808.0;
  if (value >= kTwo63) {
    return static_cast<std::uint64_t>(truncateToward0<std::int64_t>(value - kTwo63)) |
           0x8000000000000000ull;
  }
  return static_cast<std::uint64_t>(truncateToward0<std::int64_t>(value));
}

}  // namespace

const Guid& nullGuid() {
  static const Guid zero{};
  return zero;
}

// ---------------------------------------------------------------------------
// Property

std::string* Property::OpaqueStringFunctor::operator()(std::int32_t kind, std::uint64_t value,
                                                       std::uint64_t /*size*/) {
  static const char kHex[] = "0123456789ABCDEF";
  char digits[17];
  for (int i = 15; i >= 0; --i) {
    digits[i] = kHex[value & 0xF];
    value >>= 4;
  }
  digits[16] = '\0';
  value_ = "type:" + std::to_string(kind) + " 0x" + digits;
  return &value_;
}

Property::Property(std::int32_t kind, Value value) noexcept : kind_(kind), value_(value) {}

Property::~Property() {
  if (kind_ == String) {
    delete[] value_.str;
  } else if (kind_ == WString) {
    delete[] value_.wstr;
  }
}

Property* Property::newString(const char* chars, std::size_t length) {
  Value value = zeroWord();
  value.str = copyText(chars, length);
  return new Property(String, value);
}

Property* Property::newString(const char* text) {
  return newString(text, textLength(text));
}

Property* Property::newWString(const wchar_t* chars, std::size_t length) {
  Value value = zeroWord();
  value.wstr = copyText(chars, length);
  return new Property(WString, value);
}

Property* Property::newWString(const wchar_t* text) {
  return newWString(text, textLength(text));
}

Property* Property::newPointer(void* pointer) {
  Value value = zeroWord();
  value.ptr = pointer;
  return new Property(Pointer, value);
}

Property* Property::newInt(std::int32_t number) {
  Value value = zeroWord();
  value.i = number;
  return new Property(Int, value);
}

Property* Property::newFloat(float number) {
  Value value = zeroWord();
  value.f = number;
  return new Property(Float, value);
}

Property* Property::newDouble(double number) {
  Value value = zeroWord();
  value.d = number;
  return new Property(Double, value);
}

Property* Property::newUInt64(std::uint64_t number) {
  return new Property(UInt64, wordOf(number));
}

std::uint64_t Property::getValue() const {
  return value_.u64;
}

std::string Property::toString(StringFunctor& functor) const {
  std::ostringstream stream;
  switch (kind_) {
    case String:
      if (value_.str) stream << value_.str;
      break;
    case WString:
      if (value_.wstr) stream << platform::wideToAnsi(value_.wstr);
      break;
    case Int:
      stream << value_.i;
      break;
    case Float:
      stream << value_.f;
      break;
    case Double:
      stream << value_.d;
      break;
    case UInt64:
      stream << value_.u64;
      break;
    default:
      if (const std::string* text = functor(kind_, getValue(), getSize())) stream << *text;
      break;
  }
  stream << '\0';
  return stream.str();
}

std::string Property::toString() const {
  OpaqueStringFunctor functor;
  return toString(functor);
}

std::int32_t Property::toInt(Functor<std::int32_t>& functor) const {
  switch (kind_) {
    case String:
      return static_cast<std::int32_t>(parseUnsigned32(value_.str));
    case WString:
      return static_cast<std::int32_t>(parseUnsigned32(value_.wstr));
    case Int:
      return value_.i;
    case UInt64:
      return static_cast<std::int32_t>(static_cast<std::uint32_t>(value_.u64));
    case Float:
      return truncateToward0<std::int32_t>(value_.f);
    case Double:
      return truncateToward0<std::int32_t>(value_.d);
    default: {
      const std::int32_t* result = functor(kind_, getValue(), getSize());
      return result ? *result : 0;
    }
  }
}

std::int32_t Property::toInt() const {
  Functor<std::int32_t> functor(0);
  return toInt(functor);
}

float Property::toFloat(Functor<float>& functor) const {
  switch (kind_) {
    case Int:
      return static_cast<float>(value_.i);
    case Float:
      return value_.f;
    case Double:
      return static_cast<float>(value_.d);
    case UInt64:
      return static_cast<float>(value_.u64);
    default: {
      const float* result = functor(kind_, getValue(), getSize());
      return result ? *result : 0.0f;
    }
  }
}

float Property::toFloat() const {
  Functor<float> functor(0.0f);
  return toFloat(functor);
}

double Property::toDouble(Functor<double>& functor) const {
  switch (kind_) {
    case Int:
      return static_cast<double>(value_.i);
    case Float:
      return static_cast<double>(value_.f);
    case Double:
      return value_.d;
    case UInt64:
      return static_cast<double>(value_.u64);
    default: {
      const double* result = functor(kind_, getValue(), getSize());
      return result ? *result : 0.0;
    }
  }
}

double Property::toDouble() const {
  Functor<double> functor(0.0);
  return toDouble(functor);
}

std::uint64_t Property::toUInt64(Functor<std::uint64_t>& functor) const {
  switch (kind_) {
    case Int:
      return static_cast<std::uint64_t>(static_cast<std::int64_t>(value_.i));
    case Float:
      return toUnsigned64(value_.f);
    case Double:
      return toUnsigned64(value_.d);
    case UInt64:
      return value_.u64;
    default: {
      const std::uint64_t* result = functor(kind_, getValue(), getSize());
      return result ? *result : 0;
    }
  }
}

std::uint64_t Property::toUInt64() const {
  Functor<std::uint64_t> functor(0);
  return toUInt64(functor);
}

bool Property::isSimple() const {
  return true;
}

bool Property::isOpaque() const {
  return false;
}

bool Property::isCustom() const {
  return false;
}

bool Property::isNull() const {
  return false;
}

std::int32_t Property::getType() const {
  return kind_;
}

std::uint64_t Property::getSize() const {
  return 0;
}

const Guid& Property::getTypeId() const {
  return nullGuid();
}

// ---------------------------------------------------------------------------
// NullProperty

NullProperty::NullProperty() noexcept : Property(Null, zeroWord()) {}

// The shared instance lives in static storage and is never destroyed, so that
// holders destroyed late during program exit still find it intact. It owns
// nothing, so skipping its destructor releases nothing.
NullProperty* NullProperty::instance() {
  alignas(NullProperty) static unsigned char storage[sizeof(NullProperty)];
  static NullProperty* const shared = new (storage) NullProperty;
  return shared;
}

bool NullProperty::isNull() const {
  return true;
}

// ---------------------------------------------------------------------------
// OpaqueProperty

// Zero bytes after every block, not counted in its size: a block of kind
// String or WString, which need not hold a terminator of its own, read as a
// zero-terminated text (by toString, toInt or a holder's text getters) ends
// there at the latest. Two wide characters' worth, so that a wide text whose
// size is not a whole number of characters still meets a whole zero one.
constexpr std::size_t kBlockTerminator = 2 * sizeof(wchar_t);

OpaqueProperty::OpaqueProperty(std::int32_t kind, const void* bytes, std::uint64_t size) noexcept
    : Property(kind, zeroWord()), size_(0) {
  if (size == 0) return;
  unsigned char* block = nullptr;
  if (size <= kMaxAllocation) {
    block = new (std::nothrow) unsigned char[static_cast<std::size_t>(size) + kBlockTerminator];
  }
  if (!block) {
    // No block: the property reads as an empty one, size 0.
    traceAllocationFailure("block bytes", size);
    return;
  }
  // A missing source gives a zero-filled block rather than a read through
  // a null pointer.
  if (bytes) {
    std::memcpy(block, bytes, static_cast<std::size_t>(size));
  } else {
    std::memset(block, 0, static_cast<std::size_t>(size));
  }
  std::memset(block + size, 0, kBlockTerminator);
  value_.ptr = block;
  size_ = size;
}

OpaqueProperty::~OpaqueProperty() {
  delete[] static_cast<unsigned char*>(value_.ptr);
  value_.ptr = nullptr;
}

OpaqueProperty* OpaqueProperty::newOpaque(std::int32_t kind, const void* bytes,
                                          std::uint64_t size) {
  return new OpaqueProperty(kind, bytes, size);
}

bool OpaqueProperty::isSimple() const {
  return false;
}

bool OpaqueProperty::isOpaque() const {
  return true;
}

std::uint64_t OpaqueProperty::getSize() const {
  return size_;
}

// ---------------------------------------------------------------------------
// CustomProperty

CustomProperty::CustomProperty(std::int32_t kind, const void* bytes, std::uint64_t size,
                               const Guid& typeId) noexcept
    : OpaqueProperty(kind, bytes, size), typeId_(typeId) {}

CustomProperty* CustomProperty::newCustom(std::int32_t kind, const void* bytes, std::uint64_t size,
                                          const Guid& typeId) {
  return new CustomProperty(kind, bytes, size, typeId);
}

bool CustomProperty::isCustom() const {
  return true;
}

const Guid& CustomProperty::getTypeId() const {
  return typeId_;
}

// ---------------------------------------------------------------------------

IProperty* cloneProperty(const IProperty& source) {
  const std::int32_t kind = source.getType();
  const void* block = reinterpret_cast<const void*>(static_cast<std::uintptr_t>(source.getValue()));
  if (source.isCustom()) {
    return CustomProperty::newCustom(kind, block, source.getSize(), source.getTypeId());
  }
  if (source.isOpaque()) return OpaqueProperty::newOpaque(kind, block, source.getSize());
  if (kind == String) {
    const char* text = static_cast<const char*>(block);
    if (!text) return new Property(String, zeroWord());
    return Property::newString(text);
  }
  if (kind == WString) {
    const wchar_t* text = static_cast<const wchar_t*>(block);
    if (!text) return new Property(WString, zeroWord());
    return Property::newWString(text);
  }
  return new Property(kind, wordOf(source.getValue()));
}

void deleteProperty(IProperty* property) {
  if (property && property != NullProperty::instance()) delete property;
}

}  // namespace vela
