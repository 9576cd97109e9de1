#include "channel/tarn_event_generator.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "framework/class_id.h"
#include "platform/debug_output.h"
#include "platform/text.h"

namespace quor {
namespace {

const char kNoInputSource[] = "[TarnEventGenerator] no input source";
const char kWrongMagic[] = "[TarnEventGenerator] a record header without the magic TARN";
const char kReadFailed[] = "[TarnEventGenerator::statusRead] ReadFile() failed";

// Thrown when the owner asked the thread to stop: the loop ends without
// posting or stopping anything.
struct StopRequested {};

// A status message that owns a copy of its record's OEM block, so that the
// "oemMessages" pointer stays valid for as long as the message lives, however
// many records the reader has read since. The bytes of the blocks of all
// living messages are counted in `held`, shared with the generator (a
// message may outlive it).
class OemStatusMessage : public vela::Message {
 public:
  OemStatusMessage(const vela::Guid* source, std::int32_t code,
                   std::shared_ptr<std::atomic<std::uint64_t>> held)
      : vela::Message(source, code, 0), held_(std::move(held)) {}
  ~OemStatusMessage() override { held_->fetch_sub(block_.size()); }

  // Takes a copy of the block when the blocks of the messages alive stay
  // within `limit` bytes; false (and no copy) otherwise.
  bool keepBlock(const std::uint8_t* data, std::size_t size, std::uint64_t limit) {
    std::uint64_t held = held_->load();
    do {
      if (size > limit || held > limit - size) return false;
    } while (!held_->compare_exchange_weak(held, held + size));
    block_.assign(data, data + size);
    return true;
  }
  std::uint8_t* block() { return block_.data(); }

 private:
  std::shared_ptr<std::atomic<std::uint64_t>> held_;
  std::vector<std::uint8_t> block_;
};

// Copies a text into a fixed buffer, cut to fit: no allocation.
template <std::size_t N>
void copyText(char (&to)[N], const char* from) {
  std::snprintf(to, N, "%s", from != nullptr ? from : "");
}

}  // namespace

TarnEventGenerator::TarnEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager)
    : AbstractEventGenerator(parameters, manager),
      oemBytesHeld_(std::make_shared<std::atomic<std::uint64_t>>(0)) {
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
    // A record of up to 4 GiB fed without pause would otherwise keep the
    // thread here whatever its owner asks.
    if (stopRequested()) throw StopRequested();
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
  auto* message = new (std::nothrow) OemStatusMessage(getClassId(), code, oemBytesHeld_);
  if (message == nullptr) throw std::runtime_error("failed to create Message instance");
  vela::counted_ptr<vela::IMessage> owner(static_cast<vela::IMessage*>(message));
  vela::IPropertyHolder* properties = message->getProperties();

  const std::vector<tarn::StatusField> fields =
      tarn::decodeStatusFields(decoded, payload_, static_cast<std::size_t>(keptSize_));
  bool blockDropped = false;
  for (const tarn::StatusField& field : fields) {
    const char* key = field.name.c_str();
    switch (field.kind) {
      case tarn::StatusField::Kind::kInt:
        // The size of a dropped block reads 0, as after a failed allocation.
        properties->setInt(key, blockDropped && field.name == "oembufferSize" ? 0 : field.intValue);
        break;
      case tarn::StatusField::Kind::kString:
        properties->setString(key, field.text.c_str());
        break;
      case tarn::StatusField::Kind::kWString:
        properties->setWString(key, field.wideText.c_str());
        break;
      case tarn::StatusField::Kind::kOemBlock:
        // Messages wait in the queue while the main thread is busy; their
        // blocks together may not grow without end.
        if (message->keepBlock(field.block, field.blockSize, kMaxQueuedOemBytes)) {
          properties->setPointer(key, message->block());
        } else {
          blockDropped = true;
          properties->setPointer(key, nullptr);
          char line[160];
          std::snprintf(line, sizeof line,
                        "[TarnEventGenerator] OEM block of %zu bytes dropped: queued blocks "
                        "hold %llu bytes\n",
                        field.blockSize, static_cast<unsigned long long>(oemBytesHeld_->load()));
          platform::debugOutput(line);
        }
        break;
    }
  }
  // Once the owner wants the thread gone, the broker may be going too.
  if (stopRequested()) throw StopRequested();
  // The broker takes its own reference; ours goes with `owner`.
  broker->post(owner);
}

std::uint32_t TarnEventGenerator::run() {
  char reason[200] = "";
  bool stopped = false;
  try {
    if (handle_ == platform::kNoStream) throw std::domain_error(kNoInputSource);
    for (;;) {
      // A stream that never runs dry never blocks a read, so a stop request
      // is looked at between records and not only by cancelling a read.
      if (stopRequested()) throw StopRequested();
      std::uint8_t header[tarn::kHeaderSize];
      statusRead(header, sizeof header);
      if (!isValidHeader(header)) throw std::domain_error(kWrongMagic);
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
  } catch (const StopRequested&) {
    stopped = true;
  } catch (const std::exception& error) {
    copyText(reason, error.what());
  } catch (...) {
    copyText(reason, "unknown exception");
  }
  // A read released by the owner's stop request fails like any other; the
  // owner is tearing down and wants nothing more from this thread.
  if (stopped || stopRequested()) {
    platform::debugOutput("[TarnEventGenerator] reading ended: stop requested\n");
    return 0;
  }
  // The stop comes first: nothing below may keep the program from ending,
  // and the trace is built without allocating (after an out-of-memory
  // failure an allocation may fail again).
  manager_->getEventBroker()->stop(getClassId(), false);
  char line[256];
  std::snprintf(line, sizeof line, "[TarnEventGenerator] reading ended: %s\n", reason);
  platform::debugOutput(line);
  return 0;
}

vela::IPropertyHolder* MakeTarnEventGenerator(vela::IPropertyHolder* parameters,
                                              IInstanceManager* manager) {
  return new (std::nothrow) TarnEventGenerator(parameters, manager);
}

}  // namespace quor
