#include "channel/tarn_listener.h"

#include <new>
#include <string>

#include "channel/status_record.h"
#include "framework/class_id.h"
#include "platform/debug_output.h"
#include "platform/text.h"

namespace quor {

TarnListener::TarnListener(vela::IPropertyHolder* parameters, IInstanceManager* manager)
    : manager_(manager) {
  setPointer("listener", static_cast<vela::IListener*>(this));
  handle_ = platform::streamFromNumber(parameters->getInt("output", 0));
  if (platform::isUsableStream(handle_)) return;
  const wchar_t* pipe = parameters->getWString("pipe", nullptr);
  if (pipe == nullptr || *pipe == L'\0') return;
  const std::wstring name = std::wstring(pipe) + L".requests";
  handle_ = platform::openStreamForWriting(name);
  openedHere_ = platform::isUsableStream(handle_);
  if (!openedHere_) {
    platform::debugOutput(
        ("[TarnListener] cannot open " + platform::wideToUtf8(name) + "\n").c_str());
  }
}

TarnListener::~TarnListener() {
  if (openedHere_) platform::closeStream(handle_);
}

const vela::Guid* TarnListener::getClassId() const {
  return &kTarnListenerClassId;
}

bool TarnListener::receive(vela::IMessage* message) {
  if (message == nullptr || message->getSource() == nullptr ||
      *message->getSource() != *getClassId()) {
    return false;
  }
  if (handle_ == platform::kNoStream) return false;
  const std::int32_t subcode = message->getProperties()->getInt("subcode", 0);
  const auto request = tarn::encodeRequest(static_cast<std::uint32_t>(message->getCode()),
                                           static_cast<std::uint32_t>(subcode));
  platform::writeOnce(handle_, request.data(), request.size());
  return false;
}

vela::IPropertyHolder* MakeTarnListener(vela::IPropertyHolder* parameters,
                                        IInstanceManager* manager) {
  return new (std::nothrow) TarnListener(parameters, manager);
}

}  // namespace quor
