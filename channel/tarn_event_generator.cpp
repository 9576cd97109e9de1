#include "channel/tarn_event_generator.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

#include "framework/class_id.h"
#include "platform/debug_output.h"
#include "platform/text.h"

namespace quor {
namespace {

const char kNoInputSource[] = "[TarnEventGenerator] no input source";
const char kReadFailed[] = "[TarnEventGenerator::statusRead] ReadFile() failed";

// A status message that owns a copy of its record's OEM block, so that the
// "oemMessages" pointer stays valid for as long as the message lives, however
// many records the reader has read since.
class OemStatusMessage : public vela::Message {
 public:
  OemStatusMessage(const vela::Guid* source, std::int32_t code) : vela::Message(source, code, 0) {}
  std::vector<std::uint8_t>& block() { return block_; }

 private:
  std::vector<std::uint8_t> block_;
};

}  // namespace

TarnEventGenerator::TarnEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager)
    : AbstractEventGenerator(parameters, manager) {
  handle_ = platform::streamFromNumber(parameters->getInt("input", 0));
  if (!platform::isUsableStream(handle_)) {
    const wchar_t* pipe = parameters->getWString("pipe", nullptr);
    if (pipe != nullptr && *pipe != L'\0') {
      const std::wstring name = std::wstring(pipe) + L".status";
      handle_ = platform::openStreamForReading(name);
      openedHere_ = platform::isUsableStream(handle_);
      if (!openedHere_) {
        platform::debugOutput(
            ("[TarnEventGenerator] cannot open " + platform::wideToUtf8(name) + "\n").c_str());
      }
    }
  }
  // Without a usable handle the broker still starts the thread when the
  // generator is added; its loop then ends at once and stops the broker.
  if (platform::isUsableStream(handle_)) requestStart();
}

TarnEventGenerator::~TarnEventGenerator() {
  // run() uses the members below; the thread must be gone before they are.
  stopAndJoin();
  if (openedHere_) platform::closeStream(handle_);
  delete[] payload_;
}

const vela::Guid* TarnEventGenerator::getClassId() const {
  return &kTarnEventGeneratorClassId;
}

std::uint64_t TarnEventGenerator::reserveBuffer(std::uint8_t*& buffer, std::uint64_t capacity,
                                                std::uint64_t needed) {
  const std::uint64_t usable = needed < tarn::kMaxKeptPayload ? needed : tarn::kMaxKeptPayload;
  if (capacity >= usable) return usable;
  delete[] buffer;
  buffer = new (std::nothrow) std::uint8_t[usable];
  if (buffer == nullptr) {
    platform::debugOutput("[TarnEventGenerator] payload buffer allocation failed\n");
    return 0;
  }
  return usable;
}

std::uint8_t* TarnEventGenerator::statusRead(std::uint8_t* destination, std::uint64_t count) {
  if (!platform::readExactly(handle_, destination, static_cast<std::size_t>(count))) {
    throw std::domain_error(kReadFailed);
  }
  return destination;
}

void TarnEventGenerator::statusSkip(std::uint64_t count) {
  std::uint8_t scratch[tarn::kDiscardChunk];
  while (count > 0) {
    const std::uint64_t chunk = count < sizeof scratch ? count : sizeof scratch;
    statusRead(scratch, chunk);
    count -= chunk;
  }
}

bool TarnEventGenerator::isValidHeader(const std::uint8_t* header) {
  return std::memcmp(header, tarn::kMagic, sizeof tarn::kMagic) == 0;
}

bool TarnEventGenerator::hasBytes(std::uint64_t n) {
  return cursor_.hasBytes(n);
}

std::string TarnEventGenerator::readString() {
  return cursor_.readString();
}

std::wstring TarnEventGenerator::readWString() {
  return cursor_.readWString();
}

std::uint32_t TarnEventGenerator::readUInt32(std::uint32_t defaultValue) {
  return cursor_.readUInt32(defaultValue);
}

void TarnEventGenerator::postStatus(const std::uint8_t* header, EventBroker* broker) {
  tarn::RecordHeader decoded;
  tarn::decodeHeader(header, tarn::kHeaderSize, &decoded);
  const auto code = static_cast<std::int32_t>(decoded.recordClass);
  auto* message = new (std::nothrow) OemStatusMessage(getClassId(), code);
  if (message == nullptr) throw std::runtime_error("failed to create Message instance");
  vela::counted_ptr<vela::IMessage> owner(static_cast<vela::IMessage*>(message));
  vela::IPropertyHolder* properties = message->getProperties();

  const std::vector<tarn::StatusField> fields =
      tarn::decodeStatusFields(decoded, payload_, static_cast<std::size_t>(keptSize_));
  for (const tarn::StatusField& field : fields) {
    const char* key = field.name.c_str();
    switch (field.kind) {
      case tarn::StatusField::Kind::kInt:
        properties->setInt(key, field.intValue);
        break;
      case tarn::StatusField::Kind::kString:
        properties->setString(key, field.text.c_str());
        break;
      case tarn::StatusField::Kind::kWString:
        properties->setWString(key, field.wideText.c_str());
        break;
      case tarn::StatusField::Kind::kOemBlock:
        message->block().assign(field.block, field.block + field.blockSize);
        properties->setPointer(key, message->block().data());
        break;
    }
  }
  // The broker takes its own reference; ours goes with `owner`.
  broker->post(owner);
}

std::uint32_t TarnEventGenerator::run() {
  try {
    if (handle_ == platform::kNoStream) throw std::domain_error(kNoInputSource);
    for (;;) {
      std::uint8_t header[tarn::kHeaderSize];
      statusRead(header, sizeof header);
      if (!isValidHeader(header)) throw std::domain_error(kNoInputSource);
      tarn::RecordHeader decoded;
      tarn::decodeHeader(header, sizeof header, &decoded);
      const std::uint64_t keep = reserveBuffer(payload_, payloadCapacity_, decoded.length);
      if (payload_ == nullptr) {
        payloadCapacity_ = 0;
      } else if (payloadCapacity_ < keep) {
        payloadCapacity_ = keep;
      }
      keptSize_ = keep;
      cursor_ = tarn::PayloadCursor(statusRead(payload_, keep), static_cast<std::size_t>(keep));
      statusSkip(decoded.length - keep);
      postStatus(header, manager_->getEventBroker());
    }
  } catch (const std::exception& error) {
    platform::debugOutput(
        (std::string("[TarnEventGenerator] reading ended: ") + error.what() + "\n").c_str());
  } catch (...) {
    platform::debugOutput("[TarnEventGenerator] reading ended: unknown exception\n");
  }
  manager_->getEventBroker()->stop(getClassId(), false);
  return 0;
}

vela::IPropertyHolder* MakeTarnEventGenerator(vela::IPropertyHolder* parameters,
                                              IInstanceManager* manager) {
  return new (std::nothrow) TarnEventGenerator(parameters, manager);
}

}  // namespace quor
