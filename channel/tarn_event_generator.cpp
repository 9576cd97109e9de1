#include "channel/tarn_event_generator.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "framework/class_id.h"
#include "platform/debug_output.h"
#include "platform/thread.h"

namespace quor {
namespace {

const char kNoInputSource[] = "[TarnEventGenerator] no input source";
const char kWrongMagic[] = "[TarnEventGenerator] a record header without the magic TARN";
const char kReadFailed[] = "[TarnEventGenerator::statusRead] ReadFile() failed";

// Thrown when the owner asked the thread to stop: the loop ends without
// posting or stopping anything.
struct StopRequested {};

}  // namespace

struct TarnEventGenerator::Backlog {
  // Messages alive, and the bytes of the OEM blocks they hold.
  std::atomic<std::uint32_t> messages{0};
  std::atomic<std::uint64_t> oemBytes{0};
  // Set when the messages fall to kResumeQueuedMessages, and by a stop
  // request.
  platform::WakeSignal room;
};

namespace {

using Backlog = TarnEventGenerator::Backlog;

// The message of one status record.
//
// The reader decodes the record into the message's own storage (one heap
// block per record; a long text allocates too) and posts it. The entries go
// into the message's property holder the first time the holder is asked
// for, which is on the thread that delivers the message, normally by its
// first listener. The holder makes a handful of small allocations per entry;
// made and freed on one thread they stay cheap, while made on the reader's
// thread and freed on the main thread each would cross between the two.
//
// A message of a class-1 record owns a copy of the record's OEM block, so
// that "oemMessages" stays valid for as long as the message lives, however
// many records the reader has read since. Every message is counted in the
// backlog, and so are the bytes of its block.
class StatusRecordMessage : public vela::Message {
 public:
  StatusRecordMessage(const vela::Guid* source, std::int32_t code, std::shared_ptr<Backlog> backlog)
      : vela::Message(source, code, 0), backlog_(std::move(backlog)) {
    backlog_->messages.fetch_add(1);
  }
  ~StatusRecordMessage() override {
    backlog_->oemBytes.fetch_sub(block_.size());
    if (backlog_->messages.fetch_sub(1) == TarnEventGenerator::kResumeQueuedMessages + 1) {
      backlog_->room.set();
    }
  }

  vela::IPropertyHolder* getProperties() override {
    enterFields();
    return vela::Message::getProperties();
  }
  const vela::IPropertyHolder* getProperties() const override {
    enterFields();
    return vela::Message::getProperties();
  }

  // The reader's side, before the message is posted.
  tarn::StatusFields& fields() { return fields_; }
  // Takes a copy of the block when the blocks of the messages alive stay
  // within `limit` bytes; false (and no copy) otherwise.
  bool keepBlock(const std::uint8_t* data, std::size_t size, std::uint64_t limit) {
    std::atomic<std::uint64_t>& held = backlog_->oemBytes;
    std::uint64_t now = held.load();
    do {
      if (size > limit || now > limit - size) return false;
    } while (!held.compare_exchange_weak(now, now + size));
    try {
      block_.assign(data, data + size);
    } catch (...) {
      held.fetch_sub(size);
      throw;
    }
    return true;
  }
  // The entry "oemMessages" is null and "oembufferSize" 0.
  void dropBlock() { blockDropped_ = true; }

 private:
  void enterFields() const {
    if (entered_.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> guard(entering_);
    if (entered_.load(std::memory_order_relaxed)) return;
    auto* self = const_cast<StatusRecordMessage*>(this);
    vela::IPropertyHolder* properties = self->vela::Message::getProperties();
    try {
      for (const tarn::StatusField& field : fields_) {
        switch (field.kind) {
          case tarn::StatusField::Kind::kInt:
            // The size of a dropped block reads 0, as after a failed
            // allocation.
            properties->setInt(field.wideName,
                               blockDropped_ && std::wcscmp(field.wideName, L"oembufferSize") == 0
                                   ? 0
                                   : field.intValue);
            break;
          case tarn::StatusField::Kind::kString:
            properties->setString(field.wideName, field.text.c_str());
            break;
          case tarn::StatusField::Kind::kWString:
            properties->setWString(field.wideName, field.wideText.c_str());
            break;
          case tarn::StatusField::Kind::kOemBlock:
            properties->setPointer(field.wideName, blockDropped_ ? nullptr : self->block_.data());
            break;
        }
      }
    } catch (...) {
      // Out of memory: the entries not entered read as missing.
      platform::debugOutput("[TarnEventGenerator] a status message lost entries: no memory\n");
    }
    entered_.store(true, std::memory_order_release);
  }

  tarn::StatusFields fields_;
  std::shared_ptr<Backlog> backlog_;
  std::vector<std::uint8_t> block_;
  bool blockDropped_ = false;
  mutable std::atomic<bool> entered_{false};
  mutable std::mutex entering_;
};

// Copies a text into a fixed buffer, cut to fit: no allocation.
template <std::size_t N>
void copyText(char (&to)[N], const char* from) {
  std::snprintf(to, N, "%s", from != nullptr ? from : "");
}

}  // namespace

TarnEventGenerator::TarnEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager)
    : AbstractEventGenerator(parameters, manager),
      stream_(ConfiguredStream::open(*parameters, "input", L".status",
                                     ConfiguredStream::Direction::kReading, "TarnEventGenerator")),
      readAhead_(new (std::nothrow) std::uint8_t[kReadAheadSize]),
      backlog_(std::make_shared<Backlog>()) {
  if (!readAhead_) {
    platform::debugOutput("[TarnEventGenerator] no read-ahead buffer: records are read piecemeal\n");
  }
  // Without a usable handle the broker still starts the thread when the
  // generator is added; its loop then ends at once and stops the broker.
  if (platform::isUsableStream(stream_.get())) requestStart();
}

TarnEventGenerator::~TarnEventGenerator() {
  // run() uses the members; the thread must be gone before they are.
  stopAndJoin();
}

const vela::Guid* TarnEventGenerator::getClassId() const {
  return &kTarnEventGeneratorClassId;
}

std::uint64_t TarnEventGenerator::reserveBuffer(std::uint8_t*& buffer, std::uint64_t capacity,
                                                std::uint64_t needed) {
  const std::uint64_t usable = payload_.keptSize(needed);
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
  std::uint8_t* to = destination;
  while (count > 0) {
    if (aheadBegin_ == aheadEnd_) {
      // What the read-ahead buffer could not hold goes straight to its
      // place, without a copy.
      if (!readAhead_ || count >= kReadAheadSize) {
        if (!platform::readExactly(stream_.get(), to, static_cast<std::size_t>(count))) {
          throw std::domain_error(kReadFailed);
        }
        return destination;
      }
      std::size_t got = 0;
      if (!platform::readSome(stream_.get(), readAhead_.get(), kReadAheadSize, &got)) {
        throw std::domain_error(kReadFailed);
      }
      aheadBegin_ = 0;
      aheadEnd_ = got;
      continue;  // a read of no bytes (a zero-length message) asks again
    }
    const std::size_t available = aheadEnd_ - aheadBegin_;
    const std::size_t take = count < available ? static_cast<std::size_t>(count) : available;
    std::memcpy(to, readAhead_.get() + aheadBegin_, take);
    aheadBegin_ += take;
    to += take;
    count -= take;
  }
  return destination;
}

void TarnEventGenerator::statusSkip(std::uint64_t count) {
  std::uint8_t scratch[tarn::kDiscardChunk];
  while (count > 0) {
    // A record of up to 4 GiB fed without pause would otherwise keep the
    // thread here whatever its owner asks.
    if (stopRequested()) throw StopRequested();
    if (aheadBegin_ == aheadEnd_ && readAhead_) {
      std::size_t got = 0;
      if (!platform::readSome(stream_.get(), readAhead_.get(), kReadAheadSize, &got)) {
        throw std::domain_error(kReadFailed);
      }
      aheadBegin_ = 0;
      aheadEnd_ = got;
    }
    if (aheadBegin_ != aheadEnd_) {
      const std::size_t available = aheadEnd_ - aheadBegin_;
      const std::size_t take = count < available ? static_cast<std::size_t>(count) : available;
      aheadBegin_ += take;
      count -= take;
    } else if (!readAhead_) {
      const std::uint64_t chunk = count < sizeof scratch ? count : sizeof scratch;
      statusRead(scratch, chunk);
      count -= chunk;
    }
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
  // A backlog at its bound waits for the main thread to deliver some of it.
  if (backlog_->messages.load() >= kMaxQueuedMessages) {
    platform::debugOutput("[TarnEventGenerator] too many messages wait for delivery: reading pauses\n");
    while (backlog_->messages.load() > kResumeQueuedMessages) {
      if (stopRequested()) throw StopRequested();
      backlog_->room.wait(platform::kInfinite);
    }
  }
  auto* message = new (std::nothrow) StatusRecordMessage(getClassId(), code, backlog_);
  if (message == nullptr) throw std::runtime_error("failed to create Message instance");
  vela::counted_ptr<vela::IMessage> owner(static_cast<vela::IMessage*>(message));

  tarn::decodeStatusFields(decoded, payload_.data(), payload_.size(), &message->fields());
  for (const tarn::StatusField& field : message->fields()) {
    if (field.kind != tarn::StatusField::Kind::kOemBlock) continue;
    // Messages wait in the queue while the main thread is busy; their
    // blocks together may not grow without end.
    if (!message->keepBlock(field.block, field.blockSize, kMaxQueuedOemBytes)) {
      message->dropBlock();
      char line[160];
      std::snprintf(line, sizeof line,
                    "[TarnEventGenerator] OEM block of %zu bytes dropped: queued blocks "
                    "hold %llu bytes\n",
                    field.blockSize, static_cast<unsigned long long>(backlog_->oemBytes.load()));
      platform::debugOutput(line);
    }
  }
  // Once the owner wants the thread gone, the broker may be going too.
  if (stopRequested()) throw StopRequested();
  // The broker takes its own reference; ours goes with `owner`.
  broker->post(owner);
}

void TarnEventGenerator::requestStop() {
  AbstractEventGenerator::requestStop();
  backlog_->room.set();
}

std::uint32_t TarnEventGenerator::run() {
  char reason[200] = "";
  bool stopped = false;
  try {
    if (stream_.get() == platform::kNoStream) throw std::domain_error(kNoInputSource);
    for (;;) {
      // A stream that never runs dry never blocks a read, so a stop request
      // is looked at between records and not only by cancelling a read.
      if (stopRequested()) throw StopRequested();
      std::uint8_t header[tarn::kHeaderSize];
      statusRead(header, sizeof header);
      if (!isValidHeader(header)) throw std::domain_error(kWrongMagic);
      tarn::RecordHeader decoded;
      tarn::decodeHeader(header, sizeof header, &decoded);
      const std::size_t keep = payload_.reserve(decoded.length);
      cursor_ = tarn::PayloadCursor(statusRead(payload_.data(), keep), keep);
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
