#include "channel/tarn_listener.h"

#include <new>

#include "channel/status_record.h"
#include "framework/class_id.h"

namespace quor {

TarnListener::TarnListener(vela::IPropertyHolder* parameters, IInstanceManager* manager)
    : manager_(manager),
      stream_(ConfiguredStream::open(*parameters, "output", L".requests",
                                     ConfiguredStream::Direction::kWriting, "TarnListener")) {
  setPointer("listener", static_cast<vela::IListener*>(this));
}

TarnListener::~TarnListener() = default;

const vela::Guid* TarnListener::getClassId() const {
  return &kTarnListenerClassId;
}

bool TarnListener::receive(vela::IMessage* message) {
  if (message == nullptr || message->getSource() == nullptr ||
      *message->getSource() != *getClassId()) {
    return false;
  }
  if (stream_.get() == platform::kNoStream) return false;
  const std::int32_t subcode = message->getProperties()->getInt("subcode", 0);
  const auto request = tarn::encodeRequest(static_cast<std::uint32_t>(message->getCode()),
                                           static_cast<std::uint32_t>(subcode));
  platform::writeOnce(stream_.get(), request.data(), request.size());
  return false;
}

vela::IPropertyHolder* MakeTarnListener(vela::IPropertyHolder* parameters,
                                        IInstanceManager* manager) {
  return new (std::nothrow) TarnListener(parameters, manager);
}

}  // namespace quor
