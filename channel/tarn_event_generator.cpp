#include "channel/tarn_event_generator.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <memory>
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

// The message of one status record, its entries entered when it is made (on
// the reader's thread).
//
// A message of a class-1 record owns a copy of the record's OEM block, so
// that "oemMessages" stays valid for as long as the message lives, however
// many records the reader has read since. A block the backlog had no room
// for is not copied: "oemMessages" is null and "oembufferSize" 0. The
// message holds its charge of the backlog until it is destroyed.
class StatusRecordMessage : public vela::Message {
 public:
  StatusRecordMessage(const vela::Guid* source, std::int32_t code,
                      const tarn::StatusFields& fields, bool keepBlock,
                      StatusBacklog::Charge charge)
      : vela::Message(source, code, 0), charge_(std::move(charge)) {
    vela::IPropertyHolder* properties = getProperties();
    try {
      for (const tarn::StatusField& field : fields) {
        switch (field.kind) {
          case tarn::StatusField::Kind::kInt:
            // The size of a dropped block reads 0, as after a failed
            // allocation.
            properties->setInt(field.wideName,
                               !keepBlock && std::wcscmp(field.wideName, L"oembufferSize") == 0
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
            if (keepBlock) block_.assign(field.block, field.block + field.blockSize);
            properties->setPointer(field.wideName, keepBlock ? block_.data() : nullptr);
            break;
        }
      }
    } catch (const std::bad_alloc&) {
      // The entries not entered read as missing.
      platform::debugOutput("[TarnEventGenerator] a status message lost entries: no memory\n");
    }
  }

 private:
  StatusBacklog::Charge charge_;
  std::vector<std::uint8_t> block_;
};

// What a message of these fields holds on the heap, counted from above: the
// object with its property holder, the counted pointer's block and the
// broker's queue slot, and per entry the holder's node, its key, its
// property object and its text (the OEM block is charged on its own). The
// channel tests check it against what making a message really allocates.
std::uint64_t messageBytes(const tarn::StatusFields& fields) {
  constexpr std::uint64_t kMessageOverhead = 256;
  constexpr std::uint64_t kEntryOverhead = 256;
  std::uint64_t bytes = sizeof(StatusRecordMessage) + kMessageOverhead;
  for (const tarn::StatusField& field : fields) {
    bytes += kEntryOverhead + field.text.size() + 1 + (field.wideText.size() + 1) * sizeof(wchar_t);
  }
  return bytes;
}

// Copies a text into a fixed buffer, cut to fit: no allocation.
template <std::size_t N>
void copyText(char (&to)[N], const char* from) {
  std::snprintf(to, N, "%s", from != nullptr ? from : "");
}

}  // namespace

TarnEventGenerator::TarnEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager)
    : AbstractEventGenerator(parameters, manager),
      stream_(ConfiguredStream::open(*parameters, "input", L".status",
                                     ConfiguredStream::Direction::kReading,
                                     "TarnEventGenerator")),
      readAhead_(new (std::nothrow) std::uint8_t[kReadAheadSize]),
      backlog_(std::make_shared<StatusBacklog>()) {
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
  if (!backlog_->waitForRoom([this] { return stopRequested(); })) throw StopRequested();
  tarn::decodeStatusFields(decoded, payload_.data(), payload_.size(), &fields_);
  StatusBacklog::Charge charge = StatusBacklog::charge(backlog_, messageBytes(fields_));
  bool keepBlock = false;
  for (const tarn::StatusField& field : fields_) {
    if (field.kind != tarn::StatusField::Kind::kOemBlock) continue;
    // Messages wait in the queue while the main thread is busy; their
    // blocks together may not grow without end.
    keepBlock = backlog_->chargeOem(&charge, field.blockSize);
    if (!keepBlock) {
      char line[160];
      std::snprintf(line, sizeof line,
                    "[TarnEventGenerator] OEM block of %zu bytes dropped: queued blocks "
                    "hold %llu bytes\n",
                    field.blockSize, static_cast<unsigned long long>(backlog_->oemBytes()));
      platform::debugOutput(line);
    }
  }
  auto* message = new (std::nothrow)
      StatusRecordMessage(getClassId(), code, fields_, keepBlock, std::move(charge));
  if (message == nullptr) throw std::runtime_error("failed to create Message instance");
  vela::counted_ptr<vela::IMessage> owner(static_cast<vela::IMessage*>(message));

  // Once the owner wants the thread gone, the broker may be going too.
  if (stopRequested()) throw StopRequested();
  // The broker takes its own reference; ours goes with `owner`.
  broker->post(owner);
}

void TarnEventGenerator::requestStop() {
  AbstractEventGenerator::requestStop();
  backlog_->wake();
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
