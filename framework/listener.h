// The listener interface: whoever consumes messages from the event broker or
// hears a thread's control messages.
#ifndef FRAMEWORK_LISTENER_H_
#define FRAMEWORK_LISTENER_H_

#include "framework/message.h"

namespace vela {

class IListener {
 public:
  // Answers true when the listener consumed the message. The message is valid
  // for the length of the call only.
  virtual bool receive(IMessage* message) = 0;
  virtual ~IListener() = default;
};

}  // namespace vela

#endif  // FRAMEWORK_LISTENER_H_
