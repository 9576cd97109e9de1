#include "framework/properties/dictionary.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace vela {
namespace {

using Dictionary = dictionary<std::wstring, int*, int, 2147483647, 1>;
// A tiny identifier range, to reach the scan when both ends are used up.
using SmallDictionary = dictionary<std::wstring, int*, int, 6, 1>;

int gValue = 0;
int* const kValue = &gValue;

TEST(DictionaryIds, FirstIdentifierIsTwoAndIdsGrow) {
  Dictionary d;
  EXPECT_EQ(d.insert(L"a", kValue), 2);
  EXPECT_EQ(d.insert(L"b", kValue), 3);
  EXPECT_EQ(d.insert(L"c", kValue), 4);
  EXPECT_EQ(d.insert(L"b", nullptr), 3);  // present: same id, value kept
  EXPECT_EQ(d.get(L"b"), kValue);
}

TEST(DictionaryIds, ErasingRecomputesTheBounds) {
  {
    Dictionary d;
    d.insert(L"a", kValue);
    d.insert(L"b", kValue);
    d.insert(L"c", kValue);
    d.erase(L"c");  // identifier 4
    EXPECT_EQ(d.insert(L"d", kValue), 4);
  }
  {
    Dictionary d;
    d.insert(L"a", kValue);
    d.insert(L"b", kValue);
    d.insert(L"c", kValue);
    d.erase(2);  // by symbolic key
    EXPECT_FALSE(d.contains(L"a"));
    EXPECT_EQ(d.insert(L"d", kValue), 5);
  }
  {
    Dictionary d;
    d.insert(L"a", kValue);
    d.insert(L"b", kValue);
    d.erase(L"a");
    d.erase(L"b");
    EXPECT_TRUE(d.empty());
    EXPECT_EQ(d.insert(L"z", kValue), 2);
  }
}

TEST(DictionaryIds, BothEndsUsedUpScansForTheFirstGap) {
  SmallDictionary d;
  EXPECT_EQ(d.insert(L"a", kValue), 2);
  EXPECT_EQ(d.insert(L"b", kValue), 3);
  EXPECT_EQ(d.insert(L"c", kValue), 4);
  EXPECT_EQ(d.insert(L"d", kValue), 5);
  EXPECT_EQ(d.insert(L"e", kValue), 6);  // the highest
  EXPECT_EQ(d.insert(L"f", kValue), 1);  // then downwards from the lowest
  EXPECT_EQ(d.insert(L"g", kValue), 0);  // full: nothing stored
  EXPECT_FALSE(d.contains(L"g"));
  EXPECT_EQ(d.size(), 6u);

  d.erase(L"c");
  EXPECT_EQ(d.insert(L"g", kValue), 4);  // the gap
  d.erase(L"e");                         // frees the highest: bounds shrink
  EXPECT_EQ(d.insert(L"h", kValue), 6);
}

TEST(DictionaryIds, LowestEndIsUsedBeforeScanning) {
  SmallDictionary d;
  for (const wchar_t* key : {L"a", L"b", L"c", L"d", L"e"}) d.insert(key, kValue);  // 2..6
  d.erase(L"a");                         // frees 2; lowest becomes 3
  EXPECT_EQ(d.insert(L"x", kValue), 2);  // lowest - 1
  EXPECT_EQ(d.insert(L"y", kValue), 1);
  EXPECT_EQ(d.insert(L"z", kValue), 0);
}

TEST(DictionaryLookups, PlainGetRaisesAndDefaultsAnswer) {
  Dictionary d;
  const int id = d.insert(L"k", kValue);
  EXPECT_EQ(d.get(id), kValue);
  EXPECT_EQ(d.getId(L"k"), id);
  EXPECT_EQ(d.getId(L"K"), 0);  // keys are case-sensitive
  try {
    d.get(std::wstring(L"missing"));
    ADD_FAILURE() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[dictionary::get] full key not found");
  }
  try {
    d.get(77);
    ADD_FAILURE() << "no exception";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "[dictionary::get] symbolic key not found");
  }
  int other = 0;
  EXPECT_EQ(d.get(std::wstring(L"missing"), &other), &other);
  EXPECT_EQ(d.get(77, &other), &other);

  d.replace(77, &other);  // absent: nothing happens
  EXPECT_FALSE(d.contains(77));
  d.replace(id, &other);
  EXPECT_EQ(d.get(L"k"), &other);
  EXPECT_EQ(d.getId(L"k"), id);

  d.erase(L"missing");
  d.erase(99);
  EXPECT_EQ(d.size(), 1u);
  EXPECT_EQ(d.ids(), std::vector<int>{id});
}

}  // namespace
}  // namespace vela
