// A two-level map: full key -> identifier -> value.
//
// Every entry has its full key and a symbolic key, a positive identifier the
// dictionary hands out between Lowest and Highest. Identifiers grow from the
// highest one handed out; when that reaches Highest they shrink from the
// lowest one; when both ends are used up the first free identifier strictly
// between Lowest and Highest is taken. 0 means "no identifier". The
// dictionary does not own its values and has no lock: its owner serialises
// access.
#ifndef FRAMEWORK_PROPERTIES_DICTIONARY_H_
#define FRAMEWORK_PROPERTIES_DICTIONARY_H_

#include <cstddef>
#include <functional>
#include <map>
#include <stdexcept>
#include <vector>

namespace vela {

template <class Key, class Value, class Id, Id Highest, Id Lowest>
class dictionary {
  static_assert(Lowest > 0 && Lowest < Highest, "identifiers are positive and ordered");

 public:
  dictionary() = default;

  // Hands out a new identifier, or 0 when none is free.
  virtual Id allocateId() {
    if (highest_ < Highest) return claimId(static_cast<Id>(highest_ + 1));
    if (lowest_ > Lowest) return claimId(static_cast<Id>(lowest_ - 1));
    // Both ends are used up: the first gap in the ordered value index.
    Id candidate = static_cast<Id>(Lowest + 1);
    for (auto it = values_.lower_bound(candidate); it != values_.end(); ++it) {
      if (it->first != candidate) break;
      if (candidate == static_cast<Id>(Highest - 1)) return 0;
      ++candidate;
    }
    if (candidate >= Highest) return 0;
    return claimId(candidate);
  }

  // Widens the bounds of handed-out identifiers to include id.
  virtual Id claimId(Id id) {
    if (id > highest_) highest_ = id;
    if (id < lowest_) lowest_ = id;
    return id;
  }

  virtual ~dictionary() = default;

  // Raises std::logic_error when the identifier is absent.
  Value get(Id id) const {
    const Value* value = find(id);
    if (!value) throw std::logic_error("[dictionary::get] symbolic key not found");
    return *value;
  }
  // The forms with a default answer it wherever the plain forms would raise.
  Value get(Id id, Value defaultValue) const {
    const Value* value = find(id);
    return value ? *value : defaultValue;
  }
  // Raises std::logic_error when the key or its identifier is absent.
  Value get(const Key& key) const {
    auto it = keys_.find(key);
    if (it == keys_.end()) throw std::logic_error("[dictionary::get] full key not found");
    return get(it->second);
  }
  Value get(const Key& key, Value defaultValue) const {
    auto it = keys_.find(key);
    if (it == keys_.end()) return defaultValue;
    return get(it->second, defaultValue);
  }

  // The value under a key given in any form the keys compare with (a view
  // of a text, say), without making a Key of it; defaultValue when absent.
  template <class Probe>
  Value lookup(const Probe& key, Value defaultValue) const {
    auto it = keys_.find(key);
    if (it == keys_.end()) return defaultValue;
    return get(it->second, defaultValue);
  }
  // The identifier of a key given in any form the keys compare with, 0 when
  // absent.
  template <class Probe>
  Id lookupId(const Probe& key) const {
    auto it = keys_.find(key);
    return it == keys_.end() ? 0 : it->second;
  }

  // The identifier of key, 0 when absent.
  Id getId(const Key& key) const {
    auto it = keys_.find(key);
    return it == keys_.end() ? 0 : it->second;
  }

  bool contains(const Key& key) const {
    auto it = keys_.find(key);
    return it != keys_.end() && values_.count(it->second) != 0;
  }
  bool contains(Id id) const { return values_.count(id) != 0; }

  // Enters key with value and answers its new identifier. A key already
  // present keeps its value and answers its identifier; 0 when no identifier
  // is free (nothing stored).
  Id insert(const Key& key, Value value) {
    auto it = keys_.find(key);
    if (it != keys_.end()) return it->second;
    const Id id = allocateId();
    if (id == 0) return 0;
    keys_.emplace(key, id);
    values_.emplace(id, value);
    return id;
  }

  // Overwrites the value at id if id is present.
  void replace(Id id, Value value) {
    auto it = values_.find(id);
    if (it != values_.end()) it->second = value;
  }

  // Removes the entry (never deleting its value) and recomputes the bounds
  // from the identifiers left.
  void erase(const Key& key) {
    auto it = keys_.find(key);
    if (it == keys_.end()) return;
    const Id id = it->second;
    if (values_.erase(id) == 0) return;
    keys_.erase(it);
    recomputeBounds();
  }
  void erase(Id id) {
    if (values_.erase(id) == 0) return;
    for (auto it = keys_.begin(); it != keys_.end(); ++it) {
      if (it->second == id) {
        keys_.erase(it);
        break;
      }
    }
    recomputeBounds();
  }

  // All identifiers in ascending order.
  std::vector<Id> ids() const {
    std::vector<Id> result;
    result.reserve(values_.size());
    for (const auto& entry : values_) result.push_back(entry.first);
    return result;
  }

  std::size_t size() const { return values_.size(); }
  bool empty() const { return values_.empty(); }

  Id lowestId() const { return lowest_; }
  Id highestId() const { return highest_; }

 private:
  const Value* find(Id id) const {
    auto it = values_.find(id);
    return it == values_.end() ? nullptr : &it->second;
  }

  void recomputeBounds() {
    lowest_ = Highest;
    highest_ = Lowest;
    for (const auto& entry : keys_) claimId(entry.second);
  }

  // std::less<> lets lookup find a key without a Key made of the probe.
  std::map<Key, Id, std::less<>> keys_;
  std::map<Id, Value> values_;
  Id lowest_ = Highest;
  Id highest_ = Lowest;
};

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_DICTIONARY_H_
