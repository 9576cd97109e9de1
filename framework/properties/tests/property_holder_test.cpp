#include "framework/properties/property_holder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "framework/properties/tests/test_support.h"

namespace vela {
namespace {

using vela_test::CountingProperty;

TEST(HolderDefaults, NewHolderAnswersDefaults) {
  PropertyHolder holder;
  EXPECT_EQ(holder.getProperty(L"any"), NullProperty::instance());
  EXPECT_EQ(holder.getProperty("any"), NullProperty::instance());
  EXPECT_FALSE(holder.hasProperty("any"));
  EXPECT_EQ(holder.getInt("any", 7), 7);
  EXPECT_STREQ(holder.getString("any", "dflt"), "dflt");
  EXPECT_STREQ(holder.getWString(L"any", L"wide"), L"wide");
  int marker = 0;
  EXPECT_EQ(holder.getPointer("any", &marker), &marker);
  EXPECT_FALSE(holder.removeProperty("any"));
}

TEST(HolderDefaults, NullKeysNameNoEntry) {
  PropertyHolder holder;
  const char* narrow = nullptr;
  const wchar_t* wide = nullptr;
  EXPECT_FALSE(holder.setInt(narrow, 1));
  EXPECT_FALSE(holder.setString(wide, "x"));
  EXPECT_FALSE(holder.setString(L"k", nullptr));
  EXPECT_FALSE(holder.hasProperty(narrow));
  EXPECT_EQ(holder.getInt(wide, 3), 3);
  EXPECT_FALSE(holder.removeProperty(narrow));
  std::atomic<int> deletions{0};
  EXPECT_FALSE(holder.adoptProperty(wide, new CountingProperty(1, &deletions)));
  EXPECT_EQ(deletions.load(), 1);  // taken over, then dropped
}

TEST(HolderTypedAccess, GettersAnswerOnlyForTheirKind) {
  PropertyHolder holder;
  ASSERT_TRUE(holder.setString("k", "x"));
  EXPECT_STREQ(holder.getWString("k", L"dflt"), L"dflt");
  EXPECT_STREQ(holder.getString("k", "dflt"), "x");
  EXPECT_EQ(holder.getInt("k", 5), 0);  // present, no digits
  EXPECT_EQ(holder.getPointer("k", nullptr), nullptr);

  ASSERT_TRUE(holder.setString("hex", "0x10"));
  EXPECT_EQ(holder.getInt("hex", -1), 16);

  ASSERT_TRUE(holder.setWString(L"w", L"wide"));
  EXPECT_STREQ(holder.getWString("w", nullptr), L"wide");
  EXPECT_EQ(holder.getString("w", nullptr), nullptr);

  ASSERT_TRUE(holder.setInt("n", -12));
  EXPECT_EQ(holder.getInt("n", 0), -12);
  EXPECT_EQ(holder.getProperty("n")->toString(), std::string("-12", 4));
}

TEST(HolderTypedAccess, GetDataDistinguishesPointersFromBlocks) {
  PropertyHolder holder;
  int target = 0;
  ASSERT_TRUE(holder.setPointer("p", &target));
  std::uint64_t size = 99;
  EXPECT_EQ(holder.getData("p", size, nullptr), &target);
  EXPECT_EQ(size, 99u);  // a plain pointer has no size
  EXPECT_EQ(holder.getPointer("p", nullptr), &target);

  const unsigned char bytes[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
  ASSERT_TRUE(holder.setData("d", bytes, sizeof bytes));
  void* copy = holder.getData("d", size, nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, static_cast<const void*>(bytes));
  EXPECT_EQ(size, 12u);
  EXPECT_EQ(std::memcmp(copy, bytes, sizeof bytes), 0);

  // A block of another kind reports its size but answers the default.
  std::unique_ptr<IProperty> other(OpaqueProperty::newOpaque(Int, bytes, 3));
  ASSERT_TRUE(holder.setProperty("o", *other));
  int fallback = 0;
  EXPECT_EQ(holder.getData("o", size, &fallback), &fallback);
  EXPECT_EQ(size, 3u);
}

// Texts that are not what their kind promises: an opaque block of kind
// String or WString (no terminator of its own) is read only within its size;
// a text or block that could not be allocated answers the default, size 0.
TEST(HolderTypedAccess, OddTextsAnswerWithinTheirBlockOrTheDefault) {
  PropertyHolder holder;
  ASSERT_TRUE(holder.adoptProperty(L"block", OpaqueProperty::newOpaque(String, "abc", 3)));
  EXPECT_STREQ(holder.getString("block", "dflt"), "abc");
  EXPECT_EQ(holder.getInt("block", 7), 0);
  const wchar_t wide[] = {L'x', L'y'};
  ASSERT_TRUE(
      holder.adoptProperty(L"wblock", OpaqueProperty::newOpaque(WString, wide, sizeof wide)));
  EXPECT_STREQ(holder.getWString("wblock", L"dflt"), L"xy");

  const std::size_t huge = std::numeric_limits<std::size_t>::max() / 2;
  ASSERT_TRUE(holder.adoptProperty(L"lost", Property::newString("abc", huge)));
  EXPECT_STREQ(holder.getString("lost", "dflt"), "dflt");
  ASSERT_TRUE(holder.adoptProperty(L"wlost", Property::newWString(L"abc", huge)));
  EXPECT_STREQ(holder.getWString("wlost", L"dflt"), L"dflt");
  ASSERT_TRUE(holder.setData("dlost", nullptr, ~0ull));
  std::uint64_t size = 99;
  EXPECT_EQ(holder.getData("dlost", size, nullptr), nullptr);
  EXPECT_EQ(size, 0u);
}

TEST(HolderIdentifiers, SetKeepsTheIdentifierAdoptRenews) {
  PropertyHolder holder;
  ASSERT_TRUE(holder.setInt(L"a", 1));
  ASSERT_TRUE(holder.setInt(L"b", 2));
  const std::int32_t a = holder.getPropertyId(L"a");
  EXPECT_EQ(a, 2);

  std::unique_ptr<IProperty> value(Property::newInt(10));
  ASSERT_TRUE(holder.setProperty(L"a", *value));
  EXPECT_EQ(holder.getPropertyId(L"a"), a);
  EXPECT_EQ(holder.getInt(L"a", 0), 10);

  ASSERT_TRUE(holder.setInt(L"a", 11));  // typed setters adopt
  EXPECT_NE(holder.getPropertyId(L"a"), a);
  EXPECT_EQ(holder.getInt(L"a", 0), 11);
  EXPECT_TRUE(holder.removeProperty(L"b"));
  EXPECT_TRUE(holder.removeProperty(L"a"));
  EXPECT_FALSE(holder.hasProperty(L"a"));
}

TEST(HolderOwnership, ReplacedAndRemovedPropertiesAreDeletedOnce) {
  std::atomic<int> deletions{0};
  {
    PropertyHolder holder;
    ASSERT_TRUE(holder.adoptProperty(L"k", new CountingProperty(1, &deletions)));
    ASSERT_TRUE(holder.adoptProperty(L"k", new CountingProperty(2, &deletions)));
    EXPECT_EQ(deletions.load(), 1);
    EXPECT_EQ(holder.getInt(L"k", 0), 2);

    {
      CountingProperty source(3, &deletions);
      ASSERT_TRUE(holder.setProperty(L"k", source));  // stores a clone
      EXPECT_EQ(deletions.load(), 2);
    }
    EXPECT_EQ(deletions.load(), 3);  // the caller's source is its own
    EXPECT_TRUE(holder.removeProperty(L"k"));
    EXPECT_EQ(deletions.load(), 3);  // the clone is a plain property

    ASSERT_TRUE(holder.adoptProperty(L"x", new CountingProperty(4, &deletions)));
    ASSERT_TRUE(holder.putProperty(L"y", new CountingProperty(5, &deletions)));
    EXPECT_EQ(deletions.load(), 4);  // put stores a clone and drops the original
  }
  EXPECT_EQ(deletions.load(), 5);  // the holder deletes what it owns
}

TEST(HolderOwnership, AdoptingTheStoredObjectAgainKeepsIt) {
  std::atomic<int> deletions{0};
  PropertyHolder holder;
  IProperty* property = new CountingProperty(8, &deletions);
  ASSERT_TRUE(holder.adoptProperty(L"k", property));
  ASSERT_TRUE(holder.adoptProperty(L"k", property));
  EXPECT_EQ(deletions.load(), 0);
  EXPECT_EQ(holder.getInt(L"k", 0), 8);
}

TEST(HolderOwnership, TheSharedNullIsNeverStoredNorDeleted) {
  PropertyHolder holder;
  ASSERT_TRUE(holder.setProperty(L"n", *NullProperty::instance()));
  EXPECT_TRUE(holder.hasProperty(L"n"));
  IProperty* stored = holder.getProperty(L"n");
  EXPECT_NE(stored, NullProperty::instance());
  EXPECT_EQ(stored->getType(), Null);
  EXPECT_FALSE(stored->isNull());
  EXPECT_EQ(holder.getInt(L"n", 7), 0);  // present: converts rather than the default

  ASSERT_TRUE(holder.adoptProperty(L"a", NullProperty::instance()));
  EXPECT_NE(holder.getProperty(L"a"), NullProperty::instance());
  ASSERT_TRUE(holder.putProperty(L"p", NullProperty::instance()));
  EXPECT_TRUE(holder.removeProperty(L"a"));
  EXPECT_TRUE(holder.removeProperty(L"p"));
  EXPECT_TRUE(NullProperty::instance()->isNull());  // still alive (ASan checks)
  EXPECT_FALSE(holder.adoptProperty(L"z", nullptr));
  EXPECT_FALSE(holder.putProperty(L"z", nullptr));
}

TEST(HolderKeys, NarrowKeysAreUtf8ForTheSameEntries) {
  PropertyHolder holder;
  ASSERT_TRUE(holder.setInt("\xC3\xA9t\xC3\xA9", 1));  // "été"
  EXPECT_EQ(holder.getInt(L"\u00e9t\u00e9", 0), 1);
  // A character outside the Basic Multilingual Plane.
  ASSERT_TRUE(holder.setInt(L"k\U0001F600", 2));
  EXPECT_TRUE(holder.hasProperty("k\xF0\x9F\x98\x80"));
  EXPECT_EQ(holder.getInt("k\xF0\x9F\x98\x80", 0), 2);
  EXPECT_TRUE(holder.removeProperty("k\xF0\x9F\x98\x80"));
  EXPECT_FALSE(holder.hasProperty(L"k\U0001F600"));
  // Keys are case-sensitive.
  ASSERT_TRUE(holder.setInt("Key", 1));
  EXPECT_FALSE(holder.hasProperty("key"));
}

// A default holder: stores nothing, answers defaults, and still takes over
// what it is given to adopt or put.
TEST(AbstractHolder, DefaultsStoreNothingAndLeakNothing) {
  AbstractPropertyHolder holder;
  EXPECT_EQ(holder.getProperty("k"), NullProperty::instance());
  EXPECT_FALSE(holder.setInt("k", 1));
  EXPECT_FALSE(holder.setString(L"k", "v"));
  EXPECT_FALSE(holder.hasProperty(L"k"));
  EXPECT_EQ(holder.getInt("k", 4), 4);
  std::uint64_t size = 5;
  EXPECT_EQ(holder.getData("k", size, nullptr), nullptr);
  EXPECT_EQ(size, 5u);

  std::atomic<int> deletions{0};
  EXPECT_FALSE(holder.adoptProperty(L"k", new CountingProperty(1, &deletions)));
  EXPECT_FALSE(holder.putProperty(L"k", new CountingProperty(1, &deletions)));
  EXPECT_EQ(deletions.load(), 2);
}

// A holder that records what reaches its wide-key operations, to check the
// forwarding of the defaults.
class RecordingHolder : public AbstractPropertyHolder {
 public:
  using AbstractPropertyHolder::setProperty;
  bool setProperty(const wchar_t* key, const IProperty& property) override {
    keys.push_back(key);
    kinds.push_back(property.getType());
    return true;
  }
  std::vector<std::wstring> keys;
  std::vector<std::int32_t> kinds;
};

TEST(AbstractHolder, SettersForwardThroughPutProperty) {
  RecordingHolder holder;
  EXPECT_TRUE(holder.setInt("\xC3\xA9", 1));
  EXPECT_TRUE(holder.setString("s", "x"));
  EXPECT_TRUE(holder.setWString("w", L"x"));
  EXPECT_TRUE(holder.setData("d", "abc", 3));
  EXPECT_TRUE(holder.setPointer("p", nullptr));
  EXPECT_EQ(holder.keys, (std::vector<std::wstring>{L"\u00e9", L"s", L"w", L"d", L"p"}));
  EXPECT_EQ(holder.kinds, (std::vector<std::int32_t>{Int, String, WString, Pointer, Pointer}));
}

TEST(HolderConcurrency, TheLockIsRecursiveAndExcludesOtherThreads) {
  PropertyHolder holder;
  holder.lock();
  holder.lock();  // the owner may enter again
  std::atomic<bool> entered{false};
  int guarded = 0;
  std::thread other([&] {
    holder.lock();
    entered = true;
    EXPECT_EQ(guarded, 2);  // both levels were left before this thread got in
    holder.unlock();
  });
  guarded = 1;
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered.load());
  holder.unlock();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(entered.load());  // still held once
  guarded = 2;
  holder.unlock();
  vela_test::runConcurrently({[&] { other.join(); }});
  EXPECT_TRUE(entered.load());
}

TEST(HolderConcurrency, WritersOnSeveralThreadsLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kKeysPerThread = 300;
  std::atomic<int> deletions{0};
  std::atomic<int> created{0};
  {
    PropertyHolder holder;
    std::vector<std::function<void()>> writers;
    for (int t = 0; t < kThreads; ++t) {
      writers.push_back([&, t] {
        for (int i = 0; i < kKeysPerThread; ++i) {
          const std::wstring own = L"t" + std::to_wstring(t) + L"/" + std::to_wstring(i);
          holder.setInt(own.c_str(), i);
          // Every thread also replaces and removes the same shared keys.
          const std::wstring shared = L"shared" + std::to_wstring(i % 7);
          created.fetch_add(1);
          holder.adoptProperty(shared.c_str(), new CountingProperty(i, &deletions));
          CountingProperty source(t, &deletions);
          holder.setProperty(shared.c_str(), source);
          if (i % 5 == 0) holder.removeProperty(shared.c_str());
          // Lookups and integer reads are safe while others replace a key.
          holder.hasProperty(shared.c_str());
          holder.getInt(shared.c_str(), 0);
          EXPECT_EQ(holder.getInt(own.c_str(), -1), i);
        }
      });
    }
    vela_test::runConcurrently(writers);

    for (int t = 0; t < kThreads; ++t) {
      for (int i = 0; i < kKeysPerThread; ++i) {
        const std::wstring own = L"t" + std::to_wstring(t) + L"/" + std::to_wstring(i);
        ASSERT_EQ(holder.getInt(own.c_str(), -1), i);
      }
    }
    // Every adopted counting property has been replaced by a clone, so none
    // is left in the holder.
    EXPECT_EQ(deletions.load(), created.load() + kThreads * kKeysPerThread);
  }
  EXPECT_EQ(deletions.load(), 2 * kThreads * kKeysPerThread);
}

}  // namespace
}  // namespace vela
