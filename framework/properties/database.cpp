#include "framework/properties/database.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/text.h"

namespace vela {

std::wstring IDatabase::CompoundKey::compose() const {
  std::wstring text;
  for (const std::wstring& part : *this) {
    text += L'/';
    text += part;
  }
  return text;
}

AbstractDatabase::~AbstractDatabase() {
  std::lock_guard<const Synchronized> guard(*this);
  subscribers_.clear();
}

bool AbstractDatabase::initialize() {
  return true;
}

bool AbstractDatabase::exists(const std::wstring& first, const std::wstring& second) const {
  return exists(CompoundKey(first, second).compose());
}

bool AbstractDatabase::exists(const std::wstring& fullKey) const {
  std::lock_guard<const Synchronized> guard(*this);
  return dictionary_.getId(fullKey) != 0;
}

bool AbstractDatabase::exists(std::int32_t id) const {
  std::lock_guard<const Synchronized> guard(*this);
  return dictionary_.contains(id);
}

std::int32_t AbstractDatabase::getId(const CompoundKey& key) const {
  const std::wstring fullKey = key.compose();
  std::lock_guard<const Synchronized> guard(*this);
  return dictionary_.getId(fullKey);
}

IProperty* AbstractDatabase::get(const std::wstring& first, const std::wstring& second) const {
  return get(CompoundKey(first, second).compose());
}

IProperty* AbstractDatabase::get(const std::wstring& fullKey) const {
  IProperty* property;
  {
    std::lock_guard<const Synchronized> guard(*this);
    property = dictionary_.get(fullKey, nullptr);
  }
  return property ? property : NullProperty::instance();
}

IProperty* AbstractDatabase::get(std::int32_t id) const {
  IProperty* property;
  {
    std::lock_guard<const Synchronized> guard(*this);
    property = dictionary_.get(id, nullptr);
  }
  return property ? property : NullProperty::instance();
}

void AbstractDatabase::set(const std::wstring& first, const std::wstring& second,
                           const IProperty& property, void* subscriber) {
  set(CompoundKey(first, second).compose(), property, subscriber);
}

void AbstractDatabase::set(const std::wstring& fullKey, const IProperty& property,
                           void* subscriber) {
  IProperty* clone = cloneProperty(property);
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
      // Should the list fail to grow, the entry stays stored without its
      // subscriber and the allocation failure reaches the caller.
      if (id != 0 && subscriber) subscribers_[id].push_back(subscriber);
    }
  }
  deleteProperty(old);
  if (id == 0) deleteProperty(clone);
}

void AbstractDatabase::set(std::int32_t id, const IProperty& property) {
  IProperty* clone = cloneProperty(property);
  IProperty* old = nullptr;
  {
    std::lock_guard<const Synchronized> guard(*this);
    if (dictionary_.contains(id)) {
      old = dictionary_.get(id, nullptr);
      dictionary_.replace(id, clone);
      clone = nullptr;
    }
  }
  deleteProperty(old);
  deleteProperty(clone);
}

void AbstractDatabase::remove(const std::wstring& first, const std::wstring& second) {
  remove(CompoundKey(first, second).compose());
}

void AbstractDatabase::remove(const std::wstring& fullKey) {
  IProperty* old = nullptr;
  {
    std::lock_guard<const Synchronized> guard(*this);
    const std::int32_t id = dictionary_.getId(fullKey);
    if (id == 0) return;
    subscribers_.erase(id);
    old = dictionary_.get(id, nullptr);
    dictionary_.erase(fullKey);
  }
  deleteProperty(old);
}

void AbstractDatabase::remove(std::int32_t id) {
  // Identifier 0 is no entry; its list belongs to the subscribers to all.
  if (id == 0) return;
  IProperty* old = nullptr;
  {
    std::lock_guard<const Synchronized> guard(*this);
    subscribers_.erase(id);
    old = dictionary_.get(id, nullptr);
    dictionary_.erase(id);
  }
  deleteProperty(old);
}

void AbstractDatabase::subscribeAll(void* subscriber) {
  std::lock_guard<const Synchronized> guard(*this);
  subscribers_[0].push_back(subscriber);
}

void AbstractDatabase::subscribe(void* subscriber, const std::wstring& fullKey) {
  std::lock_guard<const Synchronized> guard(*this);
  const std::int32_t id = dictionary_.getId(fullKey);
  if (id == 0) return;
  auto list = subscribers_.find(id);
  if (list != subscribers_.end()) list->second.push_back(subscriber);
}

void AbstractDatabase::unsubscribe(void* subscriber) {
  std::lock_guard<const Synchronized> guard(*this);
  for (auto& entry : subscribers_) {
    SubscriberList& list = entry.second;
    auto found = std::find(list.begin(), list.end(), subscriber);
    if (found != list.end()) list.erase(found);
  }
}

Guid AbstractDatabase::findClassId(const std::wstring& name) const {
  Guid id = nullGuid();
  // The lock keeps the entry alive while its bytes are copied.
  std::lock_guard<const Synchronized> guard(*this);
  const IProperty* property = get(L"GUID", name);
  const void* bytes =
      reinterpret_cast<const void*>(static_cast<std::uintptr_t>(property->getValue()));
  if (!property->isNull() && property->getSize() == sizeof(Guid) && bytes) {
    std::memcpy(&id, bytes, sizeof(Guid));
  }
  return id;
}

Guid AbstractDatabase::findClassId(const char* name) const {
  if (!name) return nullGuid();
  return findClassId(platform::utf8ToWide(name));
}

bool AbstractDatabase::removeProperty(const wchar_t* key) {
  if (!key) return false;
  const std::wstring fullKey(key);
  IProperty* old = nullptr;
  {
    std::lock_guard<const Synchronized> guard(*this);
    const std::int32_t id = dictionary_.getId(fullKey);
    if (id == 0 || !dictionary_.contains(id)) return false;
    subscribers_.erase(id);
    old = dictionary_.get(id, nullptr);
    dictionary_.erase(fullKey);
  }
  deleteProperty(old);
  return old != nullptr;
}

bool AbstractDatabase::adoptProperty(const wchar_t* key, IProperty* property) {
  if (!property) return false;
  if (property == NullProperty::instance() || !key) {
    return PropertyHolder::adoptProperty(key, property);
  }
  const std::wstring fullKey(key);
  IProperty* old = nullptr;
  std::int32_t id;
  {
    std::lock_guard<const Synchronized> guard(*this);
    const std::int32_t oldId = dictionary_.getId(fullKey);
    SubscriberList list;
    bool hadList = false;
    if (oldId != 0) {
      auto found = subscribers_.find(oldId);
      if (found != subscribers_.end()) {
        list.swap(found->second);
        subscribers_.erase(found);
        hadList = true;
      }
      old = dictionary_.get(oldId, nullptr);
      dictionary_.erase(fullKey);
    }
    id = dictionary_.insert(fullKey, property);
    if (id != 0 && hadList) subscribers_[id].swap(list);
  }
  if (old != property) deleteProperty(old);
  if (id == 0) deleteProperty(property);
  return id != 0;
}

std::vector<void*> AbstractDatabase::subscribers(std::int32_t id) const {
  std::lock_guard<const Synchronized> guard(*this);
  auto list = subscribers_.find(id);
  if (list == subscribers_.end()) return {};
  return std::vector<void*>(list->second.begin(), list->second.end());
}

bool AbstractDatabase::hasSubscriberList(std::int32_t id) const {
  std::lock_guard<const Synchronized> guard(*this);
  return subscribers_.count(id) != 0;
}

}  // namespace vela
