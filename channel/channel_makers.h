// Registration of the channel components with the instance manager.
#ifndef CHANNEL_CHANNEL_MAKERS_H_
#define CHANNEL_CHANNEL_MAKERS_H_

namespace quor {

// Hands the makers of "TimerEventGenerator", "TarnEventGenerator" and
// "TarnListener" to the framework under their class ids, so that every
// instance manager created afterwards can create them by name. Call once at
// start-up, before NewInstanceManager; calling it again changes nothing.
void registerChannelMakers();

}  // namespace quor

#endif  // CHANNEL_CHANNEL_MAKERS_H_
