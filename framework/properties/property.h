// Typed values: the property classes, their kind codes and conversions.
//
// A property holds one value of a fixed kind and never changes after
// construction, so any number of threads may read one property at once.
// Properties are created on the heap by the factory functions below and
// deleted through IProperty's virtual destructor by whoever owns them (a
// holder, the database, a counted_ptr, or the caller of a factory).
//
// Missing values are represented by the one shared null property,
// NullProperty::instance(), which nobody deletes and no container stores.
#ifndef FRAMEWORK_PROPERTIES_PROPERTY_H_
#define FRAMEWORK_PROPERTIES_PROPERTY_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "framework/properties/counted_ptr.h"
#include "framework/properties/guid.h"

namespace vela {

// Kind codes. Opaque and custom properties may carry any code their creator
// gives them; the holders use Pointer for byte blocks.
enum PropertyType : std::int32_t {
  Null = 1,
  String = 2,   // NUL-terminated narrow text, owned
  WString = 3,  // NUL-terminated wide text, owned
  Pointer = 4,  // untyped pointer (not owned), or an opaque property's block
  Int = 5,      // signed 32-bit
  Float = 6,    // 32-bit floating point
  Double = 7,   // 64-bit floating point
  UInt64 = 8,   // unsigned 64-bit
};

class IProperty {
 public:
  // Supplies the result of a conversion the property cannot make itself. The
  // call receives (kind code, raw value word, size) and returns a pointer to
  // its held value, which the argument-less conversions keep at 0.
  template <class T>
  class Functor {
   public:
    explicit Functor(T value = T()) : value_(value) {}
    virtual ~Functor() = default;

    virtual T* operator()(std::int32_t /*kind*/, std::uint64_t /*value*/, std::uint64_t /*size*/) {
      return &value_;
    }

    T& value() { return value_; }
    const T& value() const { return value_; }

   protected:
    T value_;
  };

  // Supplies the text of kinds that have no built-in text form; by default
  // its held string (empty unless the caller filled it).
  class StringFunctor {
   public:
    StringFunctor() = default;
    explicit StringFunctor(std::string value) : value_(std::move(value)) {}
    virtual ~StringFunctor() = default;

    virtual std::string* operator()(std::int32_t /*kind*/, std::uint64_t /*value*/,
                                    std::uint64_t /*size*/) {
      return &value_;
    }

    std::string& value() { return value_; }
    const std::string& value() const { return value_; }

   protected:
    std::string value_;
  };

  // The raw value word: the pointer for texts and blocks, the bits of numbers
  // (a 32-bit number in the low half, the high half zero).
  virtual std::uint64_t getValue() const = 0;

  // Text form followed by one NUL character, which is therefore the last
  // character of the result.
  virtual std::string toString(StringFunctor& functor) const = 0;
  // The same with Property::OpaqueStringFunctor ("type:<kind> 0x<hex>").
  virtual std::string toString() const = 0;

  virtual std::int32_t toInt(Functor<std::int32_t>& functor) const = 0;
  virtual std::int32_t toInt() const = 0;
  virtual float toFloat(Functor<float>& functor) const = 0;
  virtual float toFloat() const = 0;
  virtual double toDouble(Functor<double>& functor) const = 0;
  virtual double toDouble() const = 0;
  virtual std::uint64_t toUInt64(Functor<std::uint64_t>& functor) const = 0;
  virtual std::uint64_t toUInt64() const = 0;

  virtual bool isSimple() const = 0;
  virtual bool isOpaque() const = 0;
  virtual bool isCustom() const = 0;
  virtual bool isNull() const = 0;

  // The kind code.
  virtual std::int32_t getType() const = 0;
  // Size of an owned byte block; 0 for simple properties.
  virtual std::uint64_t getSize() const = 0;
  // The all-zero identifier except for custom properties.
  virtual const Guid& getTypeId() const = 0;

  virtual ~IProperty() = default;
};

IProperty* cloneProperty(const IProperty& source);

// A simple property: a kind code and a value word. Only texts (kinds 2 and 3)
// own what the word points to.
class Property : public IProperty {
 public:
  // Formats "type:<kind in decimal> 0x<value word, 16 upper-case hex digits>".
  class OpaqueStringFunctor : public StringFunctor {
   public:
    std::string* operator()(std::int32_t kind, std::uint64_t value, std::uint64_t size) override;
  };

  union Value {
    const char* str;
    const wchar_t* wstr;
    void* ptr;
    std::int32_t i;
    float f;
    double d;
    std::uint64_t u64;
  };

  // Factories; each returns a new heap object owned by the caller. The text
  // forms copy length characters and add a NUL; when the copy cannot be
  // allocated the property keeps its kind with a null value word. A null
  // text with any length makes an empty text.
  static Property* newString(const char* chars, std::size_t length);
  static Property* newString(const char* text);  // NUL-terminated
  static Property* newWString(const wchar_t* chars, std::size_t length);
  static Property* newWString(const wchar_t* text);  // NUL-terminated
  static Property* newPointer(void* pointer);        // not owned
  static Property* newInt(std::int32_t value);
  static Property* newFloat(float value);
  static Property* newDouble(double value);
  static Property* newUInt64(std::uint64_t value);

  ~Property() override;

  Property(const Property&) = delete;
  Property& operator=(const Property&) = delete;

  std::uint64_t getValue() const override;
  std::string toString(StringFunctor& functor) const override;
  std::string toString() const override;
  std::int32_t toInt(Functor<std::int32_t>& functor) const override;
  std::int32_t toInt() const override;
  float toFloat(Functor<float>& functor) const override;
  float toFloat() const override;
  double toDouble(Functor<double>& functor) const override;
  double toDouble() const override;
  std::uint64_t toUInt64(Functor<std::uint64_t>& functor) const override;
  std::uint64_t toUInt64() const override;
  bool isSimple() const override;
  bool isOpaque() const override;
  bool isCustom() const override;
  bool isNull() const override;
  std::int32_t getType() const override;
  std::uint64_t getSize() const override;
  const Guid& getTypeId() const override;

 protected:
  // Takes the value word as it is; for kinds 2 and 3 the text must have been
  // allocated with new[] and is owned from now on.
  Property(std::int32_t kind, Value value) noexcept;

  std::int32_t kind_;
  Value value_;

 private:
  friend IProperty* cloneProperty(const IProperty& source);
};

// The kind-1 property that stands for a missing value. Only the shared
// instance exists; it is never deleted by users nor stored by containers.
class NullProperty : public Property {
 public:
  // The shared instance, created on first use and valid until the process
  // ends, also while static objects are destroyed.
  static NullProperty* instance();

  bool isNull() const override;

 private:
  NullProperty() noexcept;
  ~NullProperty() override = default;
};

// A property owning a private copy of a byte block; the value word points to
// the copy, or is null when the size is 0. A block that cannot be allocated
// leaves the value word null and the size 0. Whatever its kind, the copy is
// followed by zero bytes that its size does not count, so that a block of
// kind String or WString without a terminator of its own is never read
// beyond its end as a text.
class OpaqueProperty : public Property {
 public:
  static OpaqueProperty* newOpaque(std::int32_t kind, const void* bytes, std::uint64_t size);

  ~OpaqueProperty() override;

  bool isSimple() const override;
  bool isOpaque() const override;
  std::uint64_t getSize() const override;

 protected:
  OpaqueProperty(std::int32_t kind, const void* bytes, std::uint64_t size) noexcept;

  std::uint64_t size_;
};

// An opaque property carrying its own 16-byte type identifier.
class CustomProperty : public OpaqueProperty {
 public:
  static CustomProperty* newCustom(std::int32_t kind, const void* bytes, std::uint64_t size,
                                   const Guid& typeId);

  bool isCustom() const override;
  const Guid& getTypeId() const override;

 protected:
  CustomProperty(std::int32_t kind, const void* bytes, std::uint64_t size,
                 const Guid& typeId) noexcept;

  Guid typeId_;
};

// Makes a new property equal to source: a CustomProperty if it is custom, an
// OpaqueProperty if it is opaque, else a Property of the same kind and value
// (texts copied). The clone of the shared null property is therefore a plain
// kind-1 Property whose isNull is false. The caller owns the result.
IProperty* cloneProperty(const IProperty& source);

// Deletes a property unless it is null or the shared null property.
void deleteProperty(IProperty* property);

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_PROPERTY_H_
