#include "channel/channel_makers.h"

#include "channel/tarn_event_generator.h"
#include "channel/tarn_listener.h"
#include "channel/timer_event_generator.h"
#include "framework/class_id.h"
#include "framework/instance_manager.h"

namespace quor {

void registerChannelMakers() {
  setBuiltInMaker(kTimerEventGeneratorClassId, MakeTimerEventGenerator);
  setBuiltInMaker(kTarnEventGeneratorClassId, MakeTarnEventGenerator);
  setBuiltInMaker(kTarnListenerClassId, MakeTarnListener);
}

}  // namespace quor
