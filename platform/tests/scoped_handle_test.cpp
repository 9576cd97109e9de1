#include "platform/scoped_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace platform {
namespace {

// Records every close, so that a handle closed twice or never shows up.
std::vector<int>* closed = nullptr;

struct CountingTraits {
  using Handle = int;
  static Handle nullHandle() { return 0; }
  static bool isValid(Handle handle) { return handle != 0 && handle != -1; }
  static void close(Handle handle) { closed->push_back(handle); }
};

using Owned = GenericScopedHandle<CountingTraits>;
using Borrowed = BorrowedHandle<CountingTraits>;

class ScopedHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed = &log_; }
  void TearDown() override { closed = nullptr; }
  std::vector<int> log_;
};

TEST_F(ScopedHandleTest, EachValidHandleIsClosedExactlyOnceWhateverPathItTakes) {
  {
    Owned failedOpen(-1);  // what a failed open returns
    EXPECT_FALSE(failedOpen.isValid());
    Owned a(7);
    Owned b(std::move(a));
    EXPECT_FALSE(a.isValid());
    EXPECT_EQ(b.get(), 7);
    Owned c(8);
    c = std::move(b);  // closes 8, takes 7
    c = std::move(c);  // moving onto itself keeps the handle
    EXPECT_EQ(c.get(), 7);
    {
      Borrowed lent(c);  // a borrower never closes
      EXPECT_EQ(lent.get(), 7);
    }
    c.reset(9);  // closes 7
    Owned d(10);
    const int given = d.release();
    EXPECT_EQ(given, 10);
    EXPECT_FALSE(d.isValid());
  }  // closes 9
  EXPECT_EQ(log_, (std::vector<int>{8, 7, 9}));
}

TEST(ScopedStreamTest, OwnsARealStreamAndRefusesBothInvalidValues) {
  EXPECT_FALSE(ScopedStream(kNoStream).isValid());
  EXPECT_FALSE(ScopedStream(kInvalidStream).isValid());
  EXPECT_FALSE(ScopedStream(openStreamForReading(L"no-such-stream-for-scoped-handle")).isValid());
}

}  // namespace
}  // namespace platform
