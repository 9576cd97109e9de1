#include "channel/timer_event_generator.h"

#include <new>

#include "framework/class_id.h"

namespace quor {

TimerEventGenerator::TimerEventGenerator(vela::IPropertyHolder* parameters,
                                         IInstanceManager* manager)
    : AbstractEventGenerator(parameters, manager) {
  interval_ = static_cast<std::uint32_t>(
      parameters->getInt("interval", static_cast<std::int32_t>(kDefaultInterval)));
  if (interval_ < kMinInterval) interval_ = kMinInterval;
  if (interval_ > kMaxInterval) interval_ = kMaxInterval;
  requestStart();
}

TimerEventGenerator::~TimerEventGenerator() {
  stopAndJoin();
}

const vela::Guid* TimerEventGenerator::getClassId() const {
  return &kTimerEventGeneratorClassId;
}

std::uint32_t TimerEventGenerator::run() {
  while (!waitForStop(interval_)) {
    manager_->getEventBroker()->post(getClassId(), kTickCode, 0, false);
  }
  return 0;
}

vela::IPropertyHolder* MakeTimerEventGenerator(vela::IPropertyHolder* parameters,
                                               IInstanceManager* manager) {
  return new (std::nothrow) TimerEventGenerator(parameters, manager);
}

}  // namespace quor
