// A listener component that traces every message it receives to the debugger
// output: the code in decimal, " : ", the source's class id text and a line
// feed, e.g. "123 : {505cd427-e218-463b-ac41e737bd464c9}". It never consumes
// a message. receive runs on the delivering thread and keeps no state.
#ifndef FRAMEWORK_DEBUG_LISTENER_H_
#define FRAMEWORK_DEBUG_LISTENER_H_

#include <string>

#include "framework/event_broker.h"
#include "framework/instance_manager.h"

namespace quor {

class DebugListener : public AbstractListener {
 public:
  explicit DebugListener(IInstanceManager* manager);

  bool receive(vela::IMessage* message) override;
  const vela::Guid* getClassId() const override { return &kDebugListenerClassId; }

  // The trace line of a message, line feed included.
  static std::string traceLine(const vela::IMessage& message);

 private:
  IInstanceManager* manager_;  // not owned
};

// The maker registered under "DebugListener"; the parameters are not read.
vela::IPropertyHolder* makeDebugListener(vela::IPropertyHolder* parameters,
                                         IInstanceManager* manager);

}  // namespace quor

#endif  // FRAMEWORK_DEBUG_LISTENER_H_
