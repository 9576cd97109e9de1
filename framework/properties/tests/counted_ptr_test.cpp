#include "framework/properties/counted_ptr.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <vector>

#include "framework/properties/property.h"
#include "framework/properties/tests/test_support.h"

namespace vela {
namespace {

struct Tracked {
  explicit Tracked(std::atomic<int>* deletions) : deletions_(deletions) {}
  virtual ~Tracked() { deletions_->fetch_add(1); }
  std::atomic<int>* deletions_;
};

struct DerivedTracked : Tracked {
  using Tracked::Tracked;
};

TEST(CountedPtr, CopiesShareOneObjectUntilTheLastRelease) {
  std::atomic<int> deletions{0};
  {
    counted_ptr<Tracked> first(new Tracked(&deletions));
    EXPECT_EQ(first.use_count(), 1);
    {
      counted_ptr<Tracked> second = first;
      counted_ptr<Tracked> third;
      third = second;
      EXPECT_EQ(first.use_count(), 3);
      EXPECT_EQ(third.get(), first.get());
    }
    EXPECT_EQ(first.use_count(), 1);
    EXPECT_EQ(deletions.load(), 0);

    counted_ptr<Tracked> moved = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_EQ(moved.use_count(), 1);
    moved = moved;  // self-assignment keeps the object
    EXPECT_EQ(deletions.load(), 0);
  }
  EXPECT_EQ(deletions.load(), 1);
}

TEST(CountedPtr, ResetAndReassignReleaseTheOldObject) {
  std::atomic<int> deletions{0};
  counted_ptr<Tracked> pointer(new Tracked(&deletions));
  pointer = counted_ptr<Tracked>(new Tracked(&deletions));
  EXPECT_EQ(deletions.load(), 1);
  pointer.reset(new DerivedTracked(&deletions));
  EXPECT_EQ(deletions.load(), 2);
  pointer.reset();
  EXPECT_EQ(deletions.load(), 3);
  EXPECT_EQ(pointer.use_count(), 0);
  EXPECT_EQ(pointer.get(), nullptr);

  counted_ptr<Tracked> empty(static_cast<Tracked*>(nullptr));
  EXPECT_FALSE(empty);
  EXPECT_EQ(empty.use_count(), 0);
}

TEST(CountedPtr, ConvertedPointersShareTheCountAndDeleteTheRealType) {
  std::atomic<int> deletions{0};
  counted_ptr<DerivedTracked> derived(new DerivedTracked(&deletions));
  counted_ptr<Tracked> base = derived;
  EXPECT_EQ(derived.use_count(), 2);
  EXPECT_TRUE(base == derived);
  derived.reset();
  EXPECT_EQ(deletions.load(), 0);
  base.reset();
  EXPECT_EQ(deletions.load(), 1);

  counted_ptr<IProperty> property(Property::newInt(5));
  EXPECT_EQ(property->toInt(), 5);
}

TEST(CountedPtr, TwoThreadsCopyingAndReleasingDeleteTheObjectOnce) {
  constexpr int kRounds = 200;
  constexpr int kCopiesPerRound = 500;
  std::atomic<int> deletions{0};
  for (int round = 0; round < kRounds; ++round) {
    counted_ptr<Tracked> shared(new Tracked(&deletions));
    counted_ptr<Tracked> forFirst = shared;
    counted_ptr<Tracked> forSecond = shared;
    shared.reset();
    auto churn = [](counted_ptr<Tracked> mine) {
      std::vector<counted_ptr<Tracked>> copies;
      for (int i = 0; i < kCopiesPerRound; ++i) copies.push_back(mine);
      copies.clear();
      mine.reset();  // one of the two threads makes the last release
    };
    vela_test::runConcurrently(
        {[&] { churn(std::move(forFirst)); }, [&] { churn(std::move(forSecond)); }});
    ASSERT_EQ(deletions.load(), round + 1) << "round " << round;
  }
}

}  // namespace
}  // namespace vela
