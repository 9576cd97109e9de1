#include "app/wiring.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

#include "channel/tarn_event_generator.h"
#include "channel/tarn_listener.h"
#include "channel/timer_event_generator.h"
#include "framework/class_id.h"
#include "framework/instance_manager.h"

namespace {

// NewInstanceManager itself registers every component class with its maker:
// no caller can build a program whose components cannot be created.
TEST(WiringTest, NewInstanceManagerCreatesEachComponentByNameAndByClassId) {
  std::unique_ptr<quor::IInstanceManager> owner(NewInstanceManager("version=1.0.0.0", 0, nullptr));
  ASSERT_NE(owner, nullptr);
  quor::IInstanceManager& manager = *owner;
  // Created by name and handed to the broker, which owns them from then on.
  EXPECT_TRUE(manager.createComponent("TarnListener", "output=0"));
  EXPECT_TRUE(manager.createComponent("TimerEventGenerator", "interval=50"));
  EXPECT_TRUE(manager.createComponent("TarnEventGenerator", "pipe= input=0"));
  EXPECT_TRUE(manager.createComponent("DebugListener", ""));
  EXPECT_FALSE(manager.createComponent("tarnlistener", ""));

  std::unique_ptr<vela::IPropertyHolder> timer(
      manager.createInstance(quor::kTimerEventGeneratorClassId, "interval=0x3E8"));
  auto* asTimer = dynamic_cast<quor::TimerEventGenerator*>(timer.get());
  ASSERT_NE(asTimer, nullptr);
  EXPECT_EQ(asTimer->interval(), 1000u);
  EXPECT_EQ(*asTimer->getClassId(), quor::kTimerEventGeneratorClassId);

  std::unique_ptr<vela::IPropertyHolder> reader(
      manager.createInstance(quor::kTarnEventGeneratorClassId, L"input=0"));
  auto* asReader = dynamic_cast<quor::TarnEventGenerator*>(reader.get());
  ASSERT_NE(asReader, nullptr);
  EXPECT_EQ(*asReader->getClassId(), quor::kTarnEventGeneratorClassId);

  std::unique_ptr<vela::IPropertyHolder> writer(
      manager.createInstance(quor::kTarnListenerClassId, "output=0"));
  auto* asWriter = dynamic_cast<quor::TarnListener*>(writer.get());
  ASSERT_NE(asWriter, nullptr);
  EXPECT_EQ(*asWriter->getClassId(), quor::kTarnListenerClassId);
}

// The program's start: a reader without a stream ends the loop at once, and
// run returns, instead of a loop that nothing will ever stop.
TEST(WiringTest, AProgramStartedWithoutAStreamEnds) {
  std::unique_ptr<quor::IInstanceManager> manager(
      NewInstanceManager("version=1.0.0.0", 0, nullptr));
  ASSERT_NE(manager, nullptr);
  ASSERT_TRUE(manager->createComponent("TarnEventGenerator", ""));
  ASSERT_TRUE(manager->createComponent("TarnListener", ""));
  auto run = std::async(std::launch::async, [&] { return manager->run(); });
  const bool ended = run.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
  if (!ended) manager->getEventBroker()->stop(nullptr, false);
  EXPECT_TRUE(ended);
  EXPECT_EQ(run.get(), 0);
}

}  // namespace
