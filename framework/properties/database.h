// The property database: properties under hierarchical keys, with lists of
// subscribers per entry.
#ifndef FRAMEWORK_PROPERTIES_DATABASE_H_
#define FRAMEWORK_PROPERTIES_DATABASE_H_

#include <cstdint>
#include <initializer_list>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "framework/properties/guid.h"
#include "framework/properties/property.h"
#include "framework/properties/property_holder.h"

namespace vela {

class IDatabase {
 public:
  // A key made of parts. Its full text is "/" followed by each part in turn:
  // (GUID, TarnEventGenerator) composes to "/GUID/TarnEventGenerator"; no
  // parts compose to the empty text. A part containing "/" simply adds
  // levels to the text.
  class CompoundKey : public std::vector<std::wstring> {
   public:
    CompoundKey() = default;
    CompoundKey(std::initializer_list<std::wstring> parts) : std::vector<std::wstring>(parts) {}
    CompoundKey(const std::wstring& first, const std::wstring& second)
        : std::vector<std::wstring>{first, second} {}
    virtual ~CompoundKey() = default;
    CompoundKey(const CompoundKey&) = default;
    CompoundKey& operator=(const CompoundKey&) = default;
    CompoundKey(CompoundKey&&) = default;
    CompoundKey& operator=(CompoundKey&&) = default;

    virtual std::wstring compose() const;
  };

  // Always true.
  virtual bool initialize() = 0;

  // Answers of exists and getId may be stale at once when another thread
  // changes the database.
  virtual bool exists(const std::wstring& first, const std::wstring& second) const = 0;
  virtual bool exists(const std::wstring& fullKey) const = 0;
  virtual bool exists(std::int32_t id) const = 0;
  // The identifier of the composed key, 0 when absent.
  virtual std::int32_t getId(const CompoundKey& key) const = 0;

  // The stored property or the shared null property. The result stays owned
  // by the database and is valid until its entry is replaced or removed.
  virtual IProperty* get(const std::wstring& first, const std::wstring& second) const = 0;
  virtual IProperty* get(const std::wstring& fullKey) const = 0;
  virtual IProperty* get(std::int32_t id) const = 0;

  // Stores a clone of property (the caller keeps its own). An existing entry
  // keeps its identifier and ignores subscriber; a new entry records a
  // non-null subscriber in its list.
  virtual void set(const std::wstring& first, const std::wstring& second, const IProperty& property,
                   void* subscriber) = 0;
  virtual void set(const std::wstring& fullKey, const IProperty& property, void* subscriber) = 0;
  // Replaces the property of an existing identifier; nothing otherwise.
  virtual void set(std::int32_t id, const IProperty& property) = 0;

  // Removes the entry, its subscriber list and its property.
  virtual void remove(const std::wstring& first, const std::wstring& second) = 0;
  virtual void remove(const std::wstring& fullKey) = 0;
  virtual void remove(std::int32_t id) = 0;

  // Subscriber pointers are stored, never dereferenced nor called.
  virtual void subscribeAll(void* subscriber) = 0;
  // Appends to the list of key's entry only if that list already exists.
  virtual void subscribe(void* subscriber, const std::wstring& fullKey) = 0;
  // Removes the first occurrence of subscriber from every list.
  virtual void unsubscribe(void* subscriber) = 0;

  // The 16 bytes stored under (GUID, name), or the all-zero id when the
  // entry is missing or not exactly 16 bytes long.
  virtual Guid findClassId(const std::wstring& name) const = 0;
  virtual Guid findClassId(const char* name) const = 0;  // UTF-8

  virtual ~IDatabase() = default;
};

// The database on a PropertyHolder: every entry is also a holder entry under
// its composed key. All changing operations and the get operations run under
// the holder's lock, so the database may be used from several threads.
class AbstractDatabase : public PropertyHolder, public IDatabase {
 public:
  using SubscriberList = std::list<void*>;

  AbstractDatabase() = default;
  ~AbstractDatabase() override;

  bool initialize() override;
  bool exists(const std::wstring& first, const std::wstring& second) const override;
  bool exists(const std::wstring& fullKey) const override;
  bool exists(std::int32_t id) const override;
  std::int32_t getId(const CompoundKey& key) const override;
  IProperty* get(const std::wstring& first, const std::wstring& second) const override;
  IProperty* get(const std::wstring& fullKey) const override;
  IProperty* get(std::int32_t id) const override;
  void set(const std::wstring& first, const std::wstring& second, const IProperty& property,
           void* subscriber) override;
  void set(const std::wstring& fullKey, const IProperty& property, void* subscriber) override;
  void set(std::int32_t id, const IProperty& property) override;
  void remove(const std::wstring& first, const std::wstring& second) override;
  void remove(const std::wstring& fullKey) override;
  void remove(std::int32_t id) override;
  void subscribeAll(void* subscriber) override;
  void subscribe(void* subscriber, const std::wstring& fullKey) override;
  void unsubscribe(void* subscriber) override;
  Guid findClassId(const std::wstring& name) const override;
  Guid findClassId(const char* name) const override;

  // Holder operations that drop or renumber an entry keep the subscriber
  // lists in step: a removed entry loses its list, an adopted replacement
  // takes over the list of the entry it replaces.
  using PropertyHolder::adoptProperty;
  using PropertyHolder::removeProperty;
  bool removeProperty(const wchar_t* key) override;
  bool adoptProperty(const wchar_t* key, IProperty* property) override;

  // A copy of the subscribers of an entry (0: of all entries); empty when
  // the entry has no list.
  std::vector<void*> subscribers(std::int32_t id) const;
  // Whether the entry has a subscriber list (possibly empty).
  bool hasSubscriberList(std::int32_t id) const;

 protected:
  // Identifier 0 holds the subscribers to all entries. Guarded by the lock.
  std::map<std::int32_t, SubscriberList> subscribers_;
};

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_DATABASE_H_
