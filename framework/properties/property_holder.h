// Objects that carry named properties.
//
// Keys come in a wide form (const wchar_t*) that does the work and a narrow
// form (const char*, UTF-8) that converts the key and forwards to the wide
// form. A null key names no entry: getters answer their default and setters
// store nothing.
#ifndef FRAMEWORK_PROPERTIES_PROPERTY_HOLDER_H_
#define FRAMEWORK_PROPERTIES_PROPERTY_HOLDER_H_

#include <cstdint>
#include <string>

#include "framework/properties/dictionary.h"
#include "framework/properties/property.h"
#include "framework/properties/synchronized.h"

namespace vela {

class IPropertyHolder {
 public:
  // The stored property, or the shared null property. The result stays owned
  // by the holder and is valid until that key is replaced or removed.
  virtual IProperty* getProperty(const wchar_t* key) const = 0;
  virtual IProperty* getProperty(const char* key) const = 0;
  virtual bool hasProperty(const wchar_t* key) const = 0;
  virtual bool hasProperty(const char* key) const = 0;

  // Typed setters: each creates a new property (pointer: kind 4, not owned;
  // int: kind 5; data: an opaque kind-4 copy of size bytes; wide text: kind
  // 3; text: kind 2) and stores it under key, replacing any old one.
  virtual bool setPointer(const wchar_t* key, void* pointer) = 0;
  virtual bool setPointer(const char* key, void* pointer) = 0;
  virtual bool setInt(const wchar_t* key, std::int32_t value) = 0;
  virtual bool setInt(const char* key, std::int32_t value) = 0;
  virtual bool setData(const wchar_t* key, const void* bytes, std::uint64_t size) = 0;
  virtual bool setData(const char* key, const void* bytes, std::uint64_t size) = 0;
  virtual bool setWString(const wchar_t* key, const wchar_t* text) = 0;
  virtual bool setWString(const char* key, const wchar_t* text) = 0;
  virtual bool setString(const wchar_t* key, const char* text) = 0;
  virtual bool setString(const char* key, const char* text) = 0;

  // Stores a clone of property under key; an existing entry keeps its
  // identifier.
  virtual bool setProperty(const wchar_t* key, const IProperty& property) = 0;
  virtual bool setProperty(const char* key, const IProperty& property) = 0;
  // Removes and deletes the entry; false when there was none.
  virtual bool removeProperty(const wchar_t* key) = 0;
  virtual bool removeProperty(const char* key) = 0;

  // Typed getters. getInt answers the default only when the key is missing;
  // any stored property converts (a text without digits gives 0).
  virtual std::int32_t getInt(const wchar_t* key, std::int32_t defaultValue) const = 0;
  virtual std::int32_t getInt(const char* key, std::int32_t defaultValue) const = 0;
  // For a kind-4 property its value word (an opaque property's block, or a
  // plain pointer), else the default. An opaque property's block size is
  // written to size; a plain pointer leaves size untouched.
  virtual void* getData(const wchar_t* key, std::uint64_t& size, void* defaultValue) const = 0;
  virtual void* getData(const char* key, std::uint64_t& size, void* defaultValue) const = 0;
  virtual void* getPointer(const wchar_t* key, void* defaultValue) const = 0;
  virtual void* getPointer(const char* key, void* defaultValue) const = 0;
  // The stored text if the property's kind is 2 (3 for the wide form), else
  // the default; the default too when the text could not be allocated.
  virtual const char* getString(const wchar_t* key, const char* defaultValue) const = 0;
  virtual const char* getString(const char* key, const char* defaultValue) const = 0;
  virtual const wchar_t* getWString(const wchar_t* key, const wchar_t* defaultValue) const = 0;
  virtual const wchar_t* getWString(const char* key, const wchar_t* defaultValue) const = 0;

  virtual ~IPropertyHolder() = default;

  // Stores property under key and takes it over (the holder deletes it, also
  // when it cannot be stored). A null pointer answers false.
  virtual bool adoptProperty(const wchar_t* key, IProperty* property) = 0;
  // Stores property under key and deletes the given object; a null pointer
  // answers false.
  virtual bool putProperty(const wchar_t* key, IProperty* property) = 0;
};

// Defaults for every operation: an empty holder whose setters create the
// property and hand it to putProperty, and whose narrow-key forms convert
// from UTF-8 and forward.
class AbstractPropertyHolder : public IPropertyHolder {
 public:
  IProperty* getProperty(const wchar_t* key) const override;
  IProperty* getProperty(const char* key) const override;
  bool hasProperty(const wchar_t* key) const override;
  bool hasProperty(const char* key) const override;
  bool setPointer(const wchar_t* key, void* pointer) override;
  bool setPointer(const char* key, void* pointer) override;
  bool setInt(const wchar_t* key, std::int32_t value) override;
  bool setInt(const char* key, std::int32_t value) override;
  bool setData(const wchar_t* key, const void* bytes, std::uint64_t size) override;
  bool setData(const char* key, const void* bytes, std::uint64_t size) override;
  bool setWString(const wchar_t* key, const wchar_t* text) override;
  bool setWString(const char* key, const wchar_t* text) override;
  bool setString(const wchar_t* key, const char* text) override;
  bool setString(const char* key, const char* text) override;
  bool setProperty(const wchar_t* key, const IProperty& property) override;
  bool setProperty(const char* key, const IProperty& property) override;
  bool removeProperty(const wchar_t* key) override;
  bool removeProperty(const char* key) override;
  std::int32_t getInt(const wchar_t* key, std::int32_t defaultValue) const override;
  std::int32_t getInt(const char* key, std::int32_t defaultValue) const override;
  void* getData(const wchar_t* key, std::uint64_t& size, void* defaultValue) const override;
  void* getData(const char* key, std::uint64_t& size, void* defaultValue) const override;
  void* getPointer(const wchar_t* key, void* defaultValue) const override;
  void* getPointer(const char* key, void* defaultValue) const override;
  const char* getString(const wchar_t* key, const char* defaultValue) const override;
  const char* getString(const char* key, const char* defaultValue) const override;
  const wchar_t* getWString(const wchar_t* key, const wchar_t* defaultValue) const override;
  const wchar_t* getWString(const char* key, const wchar_t* defaultValue) const override;
  ~AbstractPropertyHolder() override = default;
  bool adoptProperty(const wchar_t* key, IProperty* property) override;
  bool putProperty(const wchar_t* key, IProperty* property) override;
};

// The key dictionary of a PropertyHolder.
using PropertyDictionary = dictionary<std::wstring, IProperty*, std::int32_t, 2147483647, 1>;

// The thread-safe holder. It owns every property stored in it.
//
// Locking: the holder's critical section (the Synchronized base) serialises
// every change of the dictionary and every lookup in it; it is recursive and
// no other lock is taken while it is held. Properties are deleted only after
// the lock has been left. getInt and getData convert under the lock, so they
// may race with a replacement of the same key. Pointers returned by
// getProperty, getString and getWString point into stored properties: they
// stay valid until another thread replaces or removes that key, which callers
// must rule out themselves.
class PropertyHolder : public AbstractPropertyHolder, public Synchronized {
 public:
  PropertyHolder() = default;
  ~PropertyHolder() override;

  // The narrow-key forms come from AbstractPropertyHolder.
  using AbstractPropertyHolder::getData;
  using AbstractPropertyHolder::getInt;
  using AbstractPropertyHolder::getPointer;
  using AbstractPropertyHolder::getProperty;
  using AbstractPropertyHolder::getString;
  using AbstractPropertyHolder::getWString;
  using AbstractPropertyHolder::hasProperty;
  using AbstractPropertyHolder::removeProperty;
  using AbstractPropertyHolder::setData;
  using AbstractPropertyHolder::setInt;
  using AbstractPropertyHolder::setPointer;
  using AbstractPropertyHolder::setProperty;
  using AbstractPropertyHolder::setString;
  using AbstractPropertyHolder::setWString;

  IProperty* getProperty(const wchar_t* key) const override;
  bool hasProperty(const wchar_t* key) const override;
  bool setPointer(const wchar_t* key, void* pointer) override;
  bool setInt(const wchar_t* key, std::int32_t value) override;
  bool setData(const wchar_t* key, const void* bytes, std::uint64_t size) override;
  bool setWString(const wchar_t* key, const wchar_t* text) override;
  bool setString(const wchar_t* key, const char* text) override;
  bool setProperty(const wchar_t* key, const IProperty& property) override;
  bool removeProperty(const wchar_t* key) override;
  std::int32_t getInt(const wchar_t* key, std::int32_t defaultValue) const override;
  void* getData(const wchar_t* key, std::uint64_t& size, void* defaultValue) const override;
  const char* getString(const wchar_t* key, const char* defaultValue) const override;
  const wchar_t* getWString(const wchar_t* key, const wchar_t* defaultValue) const override;
  bool adoptProperty(const wchar_t* key, IProperty* property) override;

  // The identifier of key's entry, 0 when absent.
  std::int32_t getPropertyId(const wchar_t* key) const;

 protected:
  PropertyDictionary dictionary_;
};

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_PROPERTY_HOLDER_H_
