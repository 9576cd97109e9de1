#include "channel/channel_makers.h"

#include "channel/tarn_event_generator.h"
#include "channel/tarn_listener.h"
#include "channel/timer_event_generator.h"

namespace quor {

ComponentMakers channelMakers() {
  ComponentMakers makers;
  makers.timerEventGenerator = MakeTimerEventGenerator;
  makers.tarnEventGenerator = MakeTarnEventGenerator;
  makers.tarnListener = MakeTarnListener;
  return makers;
}

}  // namespace quor

quor::IInstanceManager* NewInstanceManager(const char*, int, char**) {
  try {
    return new quor::InstanceManager(quor::channelMakers());
  } catch (...) {
    return nullptr;
  }
}
