#include "framework/properties/database.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/properties/quor_database.h"

namespace vela {
namespace {

using Key = IDatabase::CompoundKey;

const Guid kPipeReaderId = {
    0x4AD54A4F, 0x7906, 0x4C40, {0xBB, 0x19, 0x03, 0xB7, 0x78, 0xA0, 0x8D, 0x4C}};

std::unique_ptr<IProperty> intProperty(std::int32_t value) {
  return std::unique_ptr<IProperty>(Property::newInt(value));
}

TEST(DatabaseKeys, CompoundKeysComposeWithSlashes) {
  EXPECT_EQ(Key(L"GUID", L"TarnEventGenerator").compose(), L"/GUID/TarnEventGenerator");
  EXPECT_EQ(Key().compose(), L"");
  EXPECT_EQ((Key{L"a", L"b/c", L""}).compose(), L"/a/b/c/");
  // A part holding "/" names the same entry as the longer key.
  EXPECT_EQ(Key(L"a", L"b/c").compose(), (Key{L"a", L"b", L"c"}).compose());
}

TEST(DatabaseKeys, CompoundAndFullKeysNameTheSameEntry) {
  quor::Database db;
  EXPECT_TRUE(db.initialize());
  db.set(L"GUID", L"TarnEventGenerator", *intProperty(5), nullptr);
  EXPECT_TRUE(db.exists(L"GUID", L"TarnEventGenerator"));
  EXPECT_TRUE(db.exists(std::wstring(L"/GUID/TarnEventGenerator")));
  EXPECT_EQ(db.get(L"/GUID/TarnEventGenerator")->toInt(), 5);
  // Visible through the holder operations too, also with a narrow key.
  EXPECT_EQ(db.getProperty(L"/GUID/TarnEventGenerator"), db.get(L"GUID", L"TarnEventGenerator"));
  EXPECT_EQ(db.getInt("/GUID/TarnEventGenerator", 0), 5);

  const std::int32_t id = db.getId(Key(L"GUID", L"TarnEventGenerator"));
  EXPECT_EQ(id, 2);
  EXPECT_TRUE(db.exists(id));
  EXPECT_EQ(db.get(id), db.get(L"/GUID/TarnEventGenerator"));
  EXPECT_EQ(db.getId(Key(L"GUID", L"Other")), 0);
  EXPECT_EQ(db.get(L"GUID", L"Other"), NullProperty::instance());
  EXPECT_EQ(db.get(99), NullProperty::instance());
  EXPECT_FALSE(db.exists(99));
}

TEST(DatabaseEntries, SetStoresClonesAndKeepsIdentifiers) {
  quor::Database db;
  auto original = intProperty(1);
  db.set(L"/a", *original, nullptr);
  EXPECT_NE(db.get(L"/a"), original.get());
  const std::int32_t id = db.getId(Key{L"a"});
  db.set(L"/a", *intProperty(2), nullptr);
  EXPECT_EQ(db.getId(Key{L"a"}), id);
  EXPECT_EQ(db.get(L"/a")->toInt(), 2);

  db.set(id, *intProperty(3));
  EXPECT_EQ(db.get(id)->toInt(), 3);
  db.set(77, *intProperty(4));  // no such entry: nothing stored
  EXPECT_FALSE(db.exists(77));

  db.set(L"/n", *NullProperty::instance(), nullptr);  // a copy, never the shared one
  EXPECT_NE(db.get(L"/n"), NullProperty::instance());
  EXPECT_EQ(db.get(L"/n")->getType(), Null);
}

TEST(DatabaseEntries, RemoveDropsEntryListAndRecomputesIdentifiers) {
  quor::Database db;
  int subscriber = 0;
  db.set(L"/a", *intProperty(1), &subscriber);       // id 2
  db.set(L"x", L"b", *intProperty(2), &subscriber);  // id 3
  db.set(L"/c", *intProperty(3), nullptr);           // id 4

  db.remove(L"/missing");  // changes nothing
  db.remove(std::int32_t{42});
  EXPECT_EQ(db.subscribers(2).size(), 1u);
  EXPECT_TRUE(db.exists(4));

  db.remove(L"/c");  // identifiers are freed from the top
  db.set(L"/d", *intProperty(4), nullptr);
  EXPECT_EQ(db.getId(Key{L"d"}), 4);

  db.remove(L"x", L"b");
  EXPECT_FALSE(db.exists(L"/x/b"));
  EXPECT_FALSE(db.hasSubscriberList(3));
  db.remove(std::int32_t{2});
  EXPECT_FALSE(db.exists(L"/a"));
  EXPECT_FALSE(db.hasSubscriberList(2));
}

TEST(DatabaseSubscribers, ListsFollowTheirEntries) {
  quor::Database db;
  int first = 0, second = 0;
  db.set(L"/with", *intProperty(1), &first);
  db.set(L"/without", *intProperty(1), nullptr);
  const std::int32_t with = db.getId(Key{L"with"});
  const std::int32_t without = db.getId(Key{L"without"});
  EXPECT_EQ(db.subscribers(with), std::vector<void*>{&first});

  // An existing entry ignores the subscriber of a later set.
  db.set(L"/with", *intProperty(2), &second);
  EXPECT_EQ(db.subscribers(with), std::vector<void*>{&first});

  // subscribe adds only to an existing list.
  db.subscribe(&second, L"/without");
  EXPECT_FALSE(db.hasSubscriberList(without));
  db.subscribe(&second, L"/with");
  EXPECT_EQ(db.subscribers(with), (std::vector<void*>{&first, &second}));
  db.subscribe(&second, L"/missing");

  db.subscribeAll(&first);
  db.subscribeAll(&first);
  EXPECT_EQ(db.subscribers(0), (std::vector<void*>{&first, &first}));

  // One occurrence per list goes.
  db.unsubscribe(&first);
  EXPECT_EQ(db.subscribers(0), std::vector<void*>{&first});
  EXPECT_EQ(db.subscribers(with), std::vector<void*>{&second});

  // Removing entry 0, which no entry has, keeps the list of all entries.
  db.remove(std::int32_t{0});
  EXPECT_EQ(db.subscribers(0), std::vector<void*>{&first});
}

TEST(DatabaseSubscribers, HolderRemovalDoesNotLeaveAListForTheNextEntry) {
  quor::Database db;
  int subscriber = 0;
  db.set(L"/a", *intProperty(1), &subscriber);  // id 2
  EXPECT_TRUE(db.removeProperty(L"/a"));
  db.set(L"/b", *intProperty(1), nullptr);  // reuses id 2
  EXPECT_EQ(db.getId(Key{L"b"}), 2);
  EXPECT_FALSE(db.hasSubscriberList(2));

  // A replacement adopted through the holder keeps the entry's list under
  // its new identifier.
  db.set(L"/c", *intProperty(1), &subscriber);
  ASSERT_TRUE(db.setInt(L"/c", 9));
  const std::int32_t renewed = db.getId(Key{L"c"});
  EXPECT_EQ(db.subscribers(renewed), std::vector<void*>{&subscriber});
  EXPECT_EQ(db.get(L"/c")->toInt(), 9);
}

TEST(DatabaseClassIds, FindClassIdNeedsSixteenBytes) {
  quor::Database db;
  EXPECT_TRUE(isNullGuid(db.findClassId(L"TarnEventGenerator")));

  std::unique_ptr<IProperty> id(OpaqueProperty::newOpaque(Pointer, &kPipeReaderId, 16));
  db.set(L"GUID", L"TarnEventGenerator", *id, nullptr);
  EXPECT_EQ(db.findClassId(L"TarnEventGenerator"), kPipeReaderId);
  EXPECT_EQ(db.findClassId("TarnEventGenerator"), kPipeReaderId);

  std::unique_ptr<IProperty> shortBlock(OpaqueProperty::newOpaque(Pointer, "abcd", 4));
  db.set(L"GUID", L"Short", *shortBlock, nullptr);
  EXPECT_TRUE(isNullGuid(db.findClassId(L"Short")));
  db.set(L"GUID", L"Number", *intProperty(16), nullptr);
  EXPECT_TRUE(isNullGuid(db.findClassId(L"Number")));
  const char* noName = nullptr;
  EXPECT_TRUE(isNullGuid(db.findClassId(noName)));
}

}  // namespace
}  // namespace vela
