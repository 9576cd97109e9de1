// The low-ink snooze as the registry really holds it: values of every size
// and type a writer may leave behind.
#include "app/snooze.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <vector>

#include "app/tests/snooze_key.h"

namespace {

class SnoozeRegistry : public SnoozeKeyTest {
 protected:
  static void writeQword(std::int64_t value) { store(REG_QWORD, &value, sizeof(value)); }
};

TEST(SnoozeRule, InForceUpToAndIncludingTheStoredSecond) {
  const std::int64_t now = 1'800'000'000;
  EXPECT_TRUE(snoozeInForce(now + 86400, now));
  EXPECT_TRUE(snoozeInForce(now, now));
  EXPECT_FALSE(snoozeInForce(now - 1, now));
  EXPECT_FALSE(snoozeInForce(0, now));  // no value: never snoozed
  // Negative times give a difference of 0: always snoozed.
  EXPECT_TRUE(snoozeInForce(-1, now));
  EXPECT_TRUE(snoozeInForce(INT64_MIN, now));
  EXPECT_TRUE(snoozeInForce(now, -5));
  // A difference beyond 32 bits counts as negative, in either direction.
  EXPECT_TRUE(snoozeInForce(now + 2147483647LL, now));
  EXPECT_FALSE(snoozeInForce(now + 2147483648LL, now));
  EXPECT_FALSE(snoozeInForce(INT64_MAX, now));
  EXPECT_FALSE(snoozeInForce(3'000'000'000LL - 2147483649LL, 3'000'000'000LL));
}

TEST_F(SnoozeRegistry, ValueOfEveryShapeReadsAsTheRuleSays) {
  EXPECT_EQ(0, readSnoozeValue()) << "no key";

  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE,
                                           nullptr, &key, nullptr));
  RegCloseKey(key);
  EXPECT_EQ(0, readSnoozeValue()) << "key without the value";

  const std::int64_t future = static_cast<std::int64_t>(std::time(nullptr)) + 3600;
  writeQword(future);
  EXPECT_EQ(future, readSnoozeValue());
  EXPECT_TRUE(isSnoozed());

  writeQword(future - 7200);
  EXPECT_FALSE(isSnoozed());

  writeQword(-1);
  EXPECT_TRUE(isSnoozed());

  // A 4-byte value fills the low half only.
  const std::uint32_t dword = 0x89ABCDEFu;
  store(REG_DWORD, &dword, sizeof(dword));
  EXPECT_EQ(0x89ABCDEFLL, readSnoozeValue());

  const std::uint8_t one = 0x7F;
  store(REG_BINARY, &one, 1);
  EXPECT_EQ(0x7F, readSnoozeValue());

  // No type check: a text's bytes are the number ("1" and its terminator).
  store(REG_SZ, "1", 2);
  EXPECT_EQ(0x31, readSnoozeValue());
  EXPECT_FALSE(isSnoozed());

  // Longer than 8 bytes: unreadable, so no snooze.
  const std::vector<std::uint8_t> sixteen(16, 0xFF);
  store(REG_BINARY, sixteen.data(), 16);
  EXPECT_EQ(0, readSnoozeValue());
  EXPECT_FALSE(isSnoozed());
}

// A key whose access list lets nobody read it (Wine checks it as Windows
// does) reads as no snooze, whatever it holds.
TEST_F(SnoozeRegistry, AKeyThatCannotBeReadIsNoSnooze) {
  writeQword(static_cast<std::int64_t>(std::time(nullptr)) + 3600);
  ASSERT_TRUE(isSnoozed());
  setKeyAccess("D:P");
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key));
  EXPECT_EQ(0, readSnoozeValue());
  EXPECT_FALSE(isSnoozed());
}

}  // namespace
