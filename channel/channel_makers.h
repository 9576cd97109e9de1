// The instance manager of the program: the framework's manager with every
// component class of this system registered with its maker.
#ifndef CHANNEL_CHANNEL_MAKERS_H_
#define CHANNEL_CHANNEL_MAKERS_H_

#include "framework/instance_manager.h"

namespace quor {

// The makers of "TimerEventGenerator", "TarnEventGenerator" and
// "TarnListener".
ComponentMakers channelMakers();

}  // namespace quor

// Creates the instance manager with the four component classes
// ("TimerEventGenerator", "DebugListener", "TarnEventGenerator",
// "TarnListener") registered with their makers, so that every one of them
// can be created by name; null when it cannot be created. The options and
// arguments are accepted for the interface only. Defined here and not in the
// framework, which the components build on.
quor::IInstanceManager* NewInstanceManager(const char* options, int argc, char** argv);

namespace quor {
using ::NewInstanceManager;
}  // namespace quor

#endif  // CHANNEL_CHANNEL_MAKERS_H_
