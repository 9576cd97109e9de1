#include "app/status_code_table.h"

#include <gtest/gtest.h>

#include <set>

namespace {

TEST(StatusCodeTableTest, HasOneHundredSixtyUniqueCodes) {
  std::set<std::uint32_t> codes;
  for (const auto& entry : kStatusCodeTable) codes.insert(entry.code);
  EXPECT_EQ(codes.size(), 160u);
}

TEST(StatusCodeTableTest, LookupFindsTheRowOrNothing) {
  for (const auto& entry : kStatusCodeTable) {
    SCOPED_TRACE(entry.code);
    EXPECT_EQ(findStatusEntry(entry.code), &entry);
    EXPECT_TRUE(isKnownStatus(entry.code));
  }
  for (std::uint32_t absent : {0u, 10002u, 41001u, 41278u, 41378u, 41078u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(absent);
    EXPECT_EQ(findStatusEntry(absent), nullptr);
    EXPECT_FALSE(isKnownStatus(absent));
  }
}

TEST(StatusCodeTableTest, PaperFamiliesRepeatAtPlus200AndPlus300) {
  int family = 0;
  for (const auto& entry : kStatusCodeTable) {
    if (entry.code < 41000 || entry.code > 41077) continue;
    ++family;
    for (std::uint32_t offset : {200u, 300u}) {
      SCOPED_TRACE(entry.code + offset);
      const StatusCodeEntry* copy = findStatusEntry(entry.code + offset);
      ASSERT_NE(copy, nullptr);
      EXPECT_EQ(copy->textId, entry.textId);
      EXPECT_EQ(copy->detailTextId, entry.detailTextId);
      EXPECT_EQ(copy->dialogKind, entry.dialogKind);
      EXPECT_EQ(copy->severity, entry.severity);
      // Stored in the same order: the copies sit 29 and 58 rows further on.
      EXPECT_EQ(copy - &entry, offset == 200 ? 29 : 58);
    }
  }
  EXPECT_EQ(family, 29);
  EXPECT_NE(findStatusEntry(41277), nullptr);
  EXPECT_NE(findStatusEntry(41377), nullptr);
}

TEST(StatusCodeTableTest, RowsThatDecideWhatTheUserSees) {
  struct Expected {
    std::uint32_t code, dialogKind, severity, textId, picture;
  };
  const Expected rows[] = {
      {10001, kStatusBackToNormal, 0, 7198, 0},
      {10003, kStatusBackToNormal, 0, 7200, 0},
      {10023, kStatusBackToNormal, 0, 7199, 0},
      {10031, kStatusNoAction, 0, 7205, 0},
      {10035, kStatusNoAction, 0, 7438, 0},
      {10037, kStatusShowNotification, 1, 7199, 0},
      {10040, kStatusShowNotification, 1, 7457, 0},
      {41101, kStatusShowInlinePicture, 1, 7269, 10002},
      {40122, kStatusShowInlinePicture, 1, 7271, 10001},
      {40125, kStatusShowInlinePicture, 1, 7271, 10001},
      {11010, kStatusShowNotification, 2, 7290, 0},
      {11011, kStatusShowNotification, 3, 7291, 0},
      {10214, kStatusShowNotification, 2, 7211, 0},
      {10217, kStatusShowNotification, 2, 7210, 0},
      {41900, kStatusShowNotification, 2, 7399, 0},
      {10606, kStatusShowNotification, 2, 7443, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    const StatusCodeEntry* entry = findStatusEntry(row.code);
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->dialogKind, row.dialogKind);
    EXPECT_EQ(entry->severity, row.severity);
    EXPECT_EQ(entry->textId, row.textId);
    EXPECT_EQ(entry->printerImageId, row.picture);
  }
}

TEST(StatusCodeTableTest, OnlyTheWorkingStatesHaveLevel50AndOnlyOneRowIsSevere) {
  std::set<std::uint32_t> level50;
  int severe = 0;
  for (const auto& entry : kStatusCodeTable) {
    if (entry.level == 50)
      level50.insert(entry.code);
    else
      EXPECT_EQ(entry.level, 75u) << entry.code;
    if (entry.severity == 3) ++severe;
    EXPECT_LE(entry.severity, 3u) << entry.code;
  }
  EXPECT_EQ(level50, (std::set<std::uint32_t>{10001, 10003, 10023, 10031, 10035, 10040}));
  EXPECT_EQ(severe, 1);
  // Rows begin with the working states and end with the printhead errors.
  EXPECT_EQ(kStatusCodeTable[0].code, 10001u);
  EXPECT_EQ(kStatusCodeTable[159].code, 10606u);
}

}  // namespace
