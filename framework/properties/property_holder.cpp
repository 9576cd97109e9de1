#include "framework/properties/property_holder.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/text.h"

namespace vela {
namespace {

// Narrow keys are UTF-8; a null key stays null.
class WideKey {
 public:
  explicit WideKey(const char* key) : valid_(key != nullptr) {
    if (valid_) text_ = platform::utf8ToWide(key);
  }
  const wchar_t* get() const { return valid_ ? text_.c_str() : nullptr; }

 private:
  bool valid_;
  std::wstring text_;
};

}  // namespace

// ---------------------------------------------------------------------------
// AbstractPropertyHolder

IProperty* AbstractPropertyHolder::getProperty(const wchar_t* /*key*/) const {
  return NullProperty::instance();
}

IProperty* AbstractPropertyHolder::getProperty(const char* key) const {
  return getProperty(WideKey(key).get());
}

bool AbstractPropertyHolder::hasProperty(const wchar_t* /*key*/) const {
  return false;
}

bool AbstractPropertyHolder::hasProperty(const char* key) const {
  return hasProperty(WideKey(key).get());
}

bool AbstractPropertyHolder::setPointer(const wchar_t* key, void* pointer) {
  return putProperty(key, Property::newPointer(pointer));
}

bool AbstractPropertyHolder::setPointer(const char* key, void* pointer) {
  return setPointer(WideKey(key).get(), pointer);
}

bool AbstractPropertyHolder::setInt(const wchar_t* key, std::int32_t value) {
  return putProperty(key, Property::newInt(value));
}

bool AbstractPropertyHolder::setInt(const char* key, std::int32_t value) {
  return setInt(WideKey(key).get(), value);
}

bool AbstractPropertyHolder::setData(const wchar_t* key, const void* bytes, std::uint64_t size) {
  return putProperty(key, OpaqueProperty::newOpaque(Pointer, bytes, size));
}

bool AbstractPropertyHolder::setData(const char* key, const void* bytes, std::uint64_t size) {
  return setData(WideKey(key).get(), bytes, size);
}

bool AbstractPropertyHolder::setWString(const wchar_t* key, const wchar_t* text) {
  if (!text) return false;
  return putProperty(key, Property::newWString(text));
}

bool AbstractPropertyHolder::setWString(const char* key, const wchar_t* text) {
  return setWString(WideKey(key).get(), text);
}

bool AbstractPropertyHolder::setString(const wchar_t* key, const char* text) {
  if (!text) return false;
  return putProperty(key, Property::newString(text));
}

bool AbstractPropertyHolder::setString(const char* key, const char* text) {
  return setString(WideKey(key).get(), text);
}

bool AbstractPropertyHolder::setProperty(const wchar_t* /*key*/, const IProperty& /*property*/) {
  return false;
}

bool AbstractPropertyHolder::setProperty(const char* key, const IProperty& property) {
  return setProperty(WideKey(key).get(), property);
}

bool AbstractPropertyHolder::removeProperty(const wchar_t* /*key*/) {
  return false;
}

bool AbstractPropertyHolder::removeProperty(const char* key) {
  return removeProperty(WideKey(key).get());
}

std::int32_t AbstractPropertyHolder::getInt(const wchar_t* /*key*/,
                                            std::int32_t defaultValue) const {
  return defaultValue;
}

std::int32_t AbstractPropertyHolder::getInt(const char* key, std::int32_t defaultValue) const {
  return getInt(WideKey(key).get(), defaultValue);
}

void* AbstractPropertyHolder::getData(const wchar_t* /*key*/, std::uint64_t& /*size*/,
                                      void* defaultValue) const {
  return defaultValue;
}

void* AbstractPropertyHolder::getData(const char* key, std::uint64_t& size,
                                      void* defaultValue) const {
  return getData(WideKey(key).get(), size, defaultValue);
}

void* AbstractPropertyHolder::getPointer(const wchar_t* key, void* defaultValue) const {
  std::uint64_t scratch = 0;
  return getData(key, scratch, defaultValue);
}

void* AbstractPropertyHolder::getPointer(const char* key, void* defaultValue) const {
  return getPointer(WideKey(key).get(), defaultValue);
}

const char* AbstractPropertyHolder::getString(const wchar_t* /*key*/,
                                              const char* defaultValue) const {
  return defaultValue;
}

const char* AbstractPropertyHolder::getString(const char* key, const char* defaultValue) const {
  return getString(WideKey(key).get(), defaultValue);
}

const wchar_t* AbstractPropertyHolder::getWString(const wchar_t* /*key*/,
                                                  const wchar_t* defaultValue) const {
  return defaultValue;
}

const wchar_t* AbstractPropertyHolder::getWString(const char* key,
                                                  const wchar_t* defaultValue) const {
  return getWString(WideKey(key).get(), defaultValue);
}

// The default holder stores clones only, so an adopted property is deleted
// once its clone has been offered: taking ownership must not leak it.
bool AbstractPropertyHolder::adoptProperty(const wchar_t* key, IProperty* property) {
  if (!property) return false;
  const bool stored = setProperty(key, *property);
  deleteProperty(property);
  return stored;
}

bool AbstractPropertyHolder::putProperty(const wchar_t* key, IProperty* property) {
  if (!property) return false;
  const bool stored = setProperty(key, *property);
  deleteProperty(property);
  return stored;
}

// ---------------------------------------------------------------------------
// PropertyHolder

PropertyHolder::~PropertyHolder() {
  std::vector<IProperty*> stored;
  {
    std::lock_guard<const Synchronized> guard(*this);
    for (std::int32_t id : dictionary_.ids()) stored.push_back(dictionary_.get(id, nullptr));
  }
  for (IProperty* property : stored) deleteProperty(property);
}

IProperty* PropertyHolder::getProperty(const wchar_t* key) const {
  if (!key) return NullProperty::instance();
  IProperty* property;
  {
    std::lock_guard<const Synchronized> guard(*this);
    // A view of the key: looking it up allocates nothing.
    property = dictionary_.lookup(std::wstring_view(key), nullptr);
  }
  return property ? property : NullProperty::instance();
}

bool PropertyHolder::hasProperty(const wchar_t* key) const {
  if (!key) return false;
  std::lock_guard<const Synchronized> guard(*this);
  const std::int32_t id = dictionary_.lookupId(std::wstring_view(key));
  return id != 0 && dictionary_.contains(id);
}

std::int32_t PropertyHolder::getPropertyId(const wchar_t* key) const {
  if (!key) return 0;
  std::lock_guard<const Synchronized> guard(*this);
  return dictionary_.lookupId(std::wstring_view(key));
}

bool PropertyHolder::setPointer(const wchar_t* key, void* pointer) {
  return adoptProperty(key, Property::newPointer(pointer));
}

bool PropertyHolder::setInt(const wchar_t* key, std::int32_t value) {
  return adoptProperty(key, Property::newInt(value));
}

bool PropertyHolder::setData(const wchar_t* key, const void* bytes, std::uint64_t size) {
  return adoptProperty(key, OpaqueProperty::newOpaque(Pointer, bytes, size));
}

bool PropertyHolder::setWString(const wchar_t* key, const wchar_t* text) {
  if (!text) return false;
  return adoptProperty(key, Property::newWString(text));
}

bool PropertyHolder::setString(const wchar_t* key, const char* text) {
  if (!text) return false;
  return adoptProperty(key, Property::newString(text));
}

bool PropertyHolder::adoptProperty(const wchar_t* key, IProperty* property) {
  if (!property) return false;
  // The shared null property is never stored: store a copy of it instead.
  if (property == NullProperty::instance()) return setProperty(key, *property);
  if (!key) {
    deleteProperty(property);
    return false;
  }
  const std::wstring fullKey(key);
  IProperty* old = nullptr;
  std::int32_t id;
  {
    std::lock_guard<const Synchronized> guard(*this);
    if (dictionary_.contains(fullKey)) {
      old = dictionary_.get(fullKey, nullptr);
      dictionary_.erase(fullKey);
    }
    id = dictionary_.insert(fullKey, property);
  }
  // Adopting the object already stored under key must not delete it.
  if (old != property) deleteProperty(old);
  if (id == 0) deleteProperty(property);
  return id != 0;
}

bool PropertyHolder::setProperty(const wchar_t* key, const IProperty& source) {
  if (!key) return false;
  const std::wstring fullKey(key);
  IProperty* clone = cloneProperty(source);
  IProperty* old = nullptr;
  std::int32_t id;
  {
    std::lock_guard<const Synchronized> guard(*this);
    id = dictionary_.getId(fullKey);
    if (id != 0) {
      old = dictionary_.get(id, nullptr);
      dictionary_.replace(id, clone);
    } else {
      id = dictionary_.insert(fullKey, clone);
    }
  }
  deleteProperty(old);
  if (id == 0) deleteProperty(clone);
  return id != 0;
}

bool PropertyHolder::removeProperty(const wchar_t* key) {
  if (!key) return false;
  const std::wstring fullKey(key);
  IProperty* old = nullptr;
  {
    std::lock_guard<const Synchronized> guard(*this);
    if (dictionary_.contains(fullKey)) {
      old = dictionary_.get(fullKey, nullptr);
      dictionary_.erase(fullKey);
    }
  }
  if (!old) return false;
  deleteProperty(old);
  return true;
}

// getInt and getData read the property under the lock: a value that another
// thread replaces meanwhile is deleted only after that thread has left the
// lock, so these two getters stay safe even then.
std::int32_t PropertyHolder::getInt(const wchar_t* key, std::int32_t defaultValue) const {
  std::lock_guard<const Synchronized> guard(*this);
  const IProperty* property = getProperty(key);
  return property->isNull() ? defaultValue : property->toInt();
}

void* PropertyHolder::getData(const wchar_t* key, std::uint64_t& size, void* defaultValue) const {
  std::lock_guard<const Synchronized> guard(*this);
  const IProperty* property = getProperty(key);
  if (property->isOpaque()) size = property->getSize();
  if (property->getType() != Pointer) return defaultValue;
  return reinterpret_cast<void*>(static_cast<std::uintptr_t>(property->getValue()));
}

// A text whose copy could not be allocated (a null value word) answers the
// default, as a missing one does.
const char* PropertyHolder::getString(const wchar_t* key, const char* defaultValue) const {
  const IProperty* property = getProperty(key);
  if (property->getType() != String) return defaultValue;
  const auto* text =
      reinterpret_cast<const char*>(static_cast<std::uintptr_t>(property->getValue()));
  return text ? text : defaultValue;
}

const wchar_t* PropertyHolder::getWString(const wchar_t* key, const wchar_t* defaultValue) const {
  const IProperty* property = getProperty(key);
  if (property->getType() != WString) return defaultValue;
  const auto* text =
      reinterpret_cast<const wchar_t*>(static_cast<std::uintptr_t>(property->getValue()));
  return text ? text : defaultValue;
}

}  // namespace vela
