// TimerEventGenerator: posts a tick (a SimpleMessage with code 123 from its
// class id) to the event broker once per interval.
//
// Configuration: "interval" in milliseconds (default 60000), taken as an
// unsigned 32-bit number and held between 10 and 86400000, so a negative
// value becomes 86400000.
//
// Threads: constructed and destroyed on the main thread; run() on its own
// thread, which sleeps through waitForStop so that a stop ends it at once.
#ifndef CHANNEL_TIMER_EVENT_GENERATOR_H_
#define CHANNEL_TIMER_EVENT_GENERATOR_H_

#include <cstdint>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"

namespace quor {

class TimerEventGenerator : public AbstractEventGenerator {
 public:
  static constexpr std::uint32_t kDefaultInterval = 60000;
  static constexpr std::uint32_t kMinInterval = 10;
  static constexpr std::uint32_t kMaxInterval = 86400000;
  static constexpr std::int32_t kTickCode = 123;

  TimerEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager);
  ~TimerEventGenerator() override;

  // {505CD427-E218-463B-AC41-E737BD0464C9}; also the source of its ticks.
  const vela::Guid* getClassId() const override;

  // Sleeps an interval, then posts a tick; until a stop is requested.
  std::uint32_t run() override;

  std::uint32_t interval() const { return interval_; }

 private:
  std::uint32_t interval_;
};

// Makes a TimerEventGenerator; null when it cannot be allocated.
vela::IPropertyHolder* MakeTimerEventGenerator(vela::IPropertyHolder* parameters,
                                               IInstanceManager* manager);

}  // namespace quor

#endif  // CHANNEL_TIMER_EVENT_GENERATOR_H_
