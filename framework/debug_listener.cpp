#include "framework/debug_listener.h"

#include <sstream>

#include "platform/debug_output.h"

namespace quor {

DebugListener::DebugListener(IInstanceManager* manager) : manager_(manager) {
  setPointer(L"listener", static_cast<void*>(static_cast<vela::IListener*>(this)));
}

std::string DebugListener::traceLine(const vela::IMessage& message) {
  std::ostringstream line;
  const vela::Guid* source = message.getSource();
  line << message.getCode() << " : " << classIdText(source != nullptr ? *source : vela::nullGuid())
       << '\n';
  return line.str();
}

bool DebugListener::receive(vela::IMessage* message) {
  if (message != nullptr) platform::debugOutput(traceLine(*message).c_str());
  return false;
}

vela::IPropertyHolder* makeDebugListener(vela::IPropertyHolder*, IInstanceManager* manager) {
  return new DebugListener(manager);
}

}  // namespace quor
