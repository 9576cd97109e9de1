// A stand-in monitor built from the channel components as the program builds
// them: an instance manager, the status reader and the request writer made
// by name from the whole command line, and a first listener that answers
// every status message with a request. The request's class is the message's
// code; its subcode is the first of "status", "jobID", "oembufferSize" and
// "subcode" that the message carries, so the simulator's log shows what the
// reader decoded. Exits with the number of status messages it received.
#include <cstdint>
#include <memory>
#include <string>

#include "app/wiring.h"
#include "framework/class_id.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "framework/message.h"

namespace {

class EchoListener : public quor::AbstractListener {
 public:
  explicit EchoListener(quor::EventBroker* broker) : broker_(broker) {
    setPointer("listener", static_cast<vela::IListener*>(this));
  }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }

  bool receive(vela::IMessage* message) override {
    if (*message->getSource() != quor::kTarnEventGeneratorClassId) return false;
    const vela::IPropertyHolder* in = message->getProperties();
    const std::int32_t subcode = in->getInt("subcode", 0);
    if (message->getCode() == 0 && subcode == quor::kHeartbeatSubcode) return false;
    ++count;
    std::int32_t value = subcode;
    for (const char* key : {"oembufferSize", "jobID", "status"}) {
      if (in->hasProperty(key)) value = in->getInt(key, 0);
    }
    auto* request = new vela::Message(&quor::kTarnListenerClassId, message->getCode(), 0);
    request->getProperties()->setInt("subcode", value);
    broker_->post(vela::counted_ptr<vela::IMessage>(static_cast<vela::IMessage*>(request)));
    return false;
  }

  int count = 0;

 private:
  quor::EventBroker* broker_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::unique_ptr<quor::IInstanceManager> manager(
      NewInstanceManager("version=1.0.0.0", 0, nullptr));
  if (!manager) return -1;
  std::wstring parameters;
  for (int i = 1; i < argc; ++i) parameters += (i > 1 ? L" " : L"") + std::wstring(argv[i]);
  auto* echo = new EchoListener(manager->getEventBroker());
  if (!manager->addComponent(echo)) return -1;
  if (!manager->createComponent(L"TarnEventGenerator", parameters.c_str()) ||
      !manager->createComponent(L"TarnListener", parameters.c_str())) {
    return -1;
  }
  manager->run();
  return echo->count;
}
