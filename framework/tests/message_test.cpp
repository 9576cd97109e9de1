#include "framework/message.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "framework/class_id.h"
#include "framework/properties/property.h"

namespace {

const vela::Guid kSource = quor::kTimerEventGeneratorClassId;

TEST(MessageTest, SimpleMessageReadsEveryPropertyAsTheDefaultAndStoresNothing) {
  vela::SimpleMessage message(&kSource, 123, 0);
  EXPECT_EQ(message.getProperties()->getInt(L"subcode", 7), 7);
  EXPECT_EQ(message.getProperties()->getString(L"x", "d"), std::string("d"));

  // Every simple message shares one holder: what one listener tried to store
  // must not show up in another message.
  EXPECT_FALSE(message.getProperties()->setInt(L"subcode", 3));
  EXPECT_FALSE(message.getProperties()->setString("text", "abc"));
  vela::SimpleMessage other(&kSource, 1, 0);
  EXPECT_EQ(other.getProperties(), message.getProperties());
  EXPECT_EQ(other.getProperties()->getInt(L"subcode", 7), 7);
  EXPECT_FALSE(other.getProperties()->hasProperty(L"text"));
}

TEST(MessageTest, OnlyBitZeroOfTheFlagsMakesAMessageExclusive) {
  vela::SimpleMessage message(&kSource, 0, 3);
  EXPECT_TRUE(message.isExclusive());
  EXPECT_EQ(message.setFlags(2), 2);
  EXPECT_FALSE(message.isExclusive());
  EXPECT_EQ(message.getFlags(), 2);
  message.setFlags(-1);
  EXPECT_TRUE(message.isExclusive());
}

// Counts its own destructions.
class CountedMessage : public vela::Message {
 public:
  explicit CountedMessage(int* deleted) : Message(&kSource, 0, 0), deleted_(deleted) {}
  ~CountedMessage() override { ++*deleted_; }

 private:
  int* deleted_;
};

TEST(MessageTest, LastOfSeveralCountedPointersDeletesTheMessageOnce) {
  int deleted = 0;
  {
    vela::MessagePtr first(new CountedMessage(&deleted));
    first->getProperties()->setString(L"docName", "report");
    vela::MessagePtr second = first;
    {
      vela::MessagePtr third(second);
      EXPECT_EQ(third.use_count(), 3);
    }
    first.reset();
    EXPECT_EQ(deleted, 0);
    EXPECT_STREQ(second->getProperties()->getString(L"docName", ""), "report");
  }
  EXPECT_EQ(deleted, 1);
}

TEST(MessageTest, CopiesReleasedOnManyThreadsDeleteTheMessageExactlyOnce) {
  // The poster's release and the loop's copy and release of one message may
  // coincide; the count must stay exact under that.
  for (int round = 0; round < 50; ++round) {
    int deleted = 0;
    vela::MessagePtr message(new CountedMessage(&deleted));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([copy = message]() mutable {
        for (int i = 0; i < 200; ++i) {
          vela::MessagePtr again = copy;
          again.reset();
        }
        copy.reset();
      });
    }
    message.reset();
    for (auto& thread : threads) thread.join();
    ASSERT_EQ(deleted, 1) << "round " << round;
  }
}

}  // namespace
