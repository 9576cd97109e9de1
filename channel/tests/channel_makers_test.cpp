#include "channel/channel_makers.h"

#include <gtest/gtest.h>

#include <memory>

#include "channel/tarn_event_generator.h"
#include "channel/tarn_listener.h"
#include "channel/timer_event_generator.h"
#include "framework/class_id.h"
#include "framework/instance_manager.h"

namespace {

TEST(ChannelMakersTest, TheManagerCreatesEachComponentByNameAndByClassId) {
  quor::registerChannelMakers();
  quor::InstanceManager manager;
  // Created by name and handed to the broker, which owns them from then on.
  EXPECT_TRUE(manager.createComponent("TarnListener", "output=0"));
  EXPECT_TRUE(manager.createComponent("TimerEventGenerator", "interval=50"));
  EXPECT_TRUE(manager.createComponent("TarnEventGenerator", "pipe= input=0"));
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

}  // namespace
