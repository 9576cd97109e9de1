#include "app/wiring.h"

#include "channel/tarn_event_generator.h"
#include "channel/tarn_listener.h"
#include "channel/timer_event_generator.h"
#include "framework/class_id.h"

namespace quor {

ComponentMakers programComponentMakers() {
  return {
      {kTimerEventGeneratorClassId, &MakeTimerEventGenerator},
      {kTarnEventGeneratorClassId, &MakeTarnEventGenerator},
      {kTarnListenerClassId, &MakeTarnListener},
  };
}

}  // namespace quor

quor::IInstanceManager* NewInstanceManager(const char*, int, char**) {
  try {
    return new quor::InstanceManager(quor::programComponentMakers());
  } catch (...) {
    return nullptr;
  }
}
