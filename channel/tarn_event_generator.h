// TarnEventGenerator: reads status records from the status stream on a thread
// of its own and posts one message per record to the event broker.
//
// Configuration (read once, in the constructor): "input", an open stream
// handle given as a number, or else "pipe", the base name of the stream pair
// (".status" is appended). The thread reads until the stream ends, fails or
// shows a wrong magic, and then stops the broker; it never reopens the stream.
// When its owner asks it to stop it ends without posting or stopping
// anything more.
//
// Backlog: the messages of the reader that wait for delivery are bounded by
// the memory they hold (StatusBacklog: 16 MiB, some 30,000 status records);
// at the bound the reader stops reading until the main thread has delivered
// half of it, and meanwhile the port monitor's further writes wait in the
// pipe. While the main thread delivers, the reader keeps the backlog near
// 1 MiB instead. A flood of records therefore cannot grow the monitor's memory
// without end, however slowly the main thread delivers, and a realistic job
// never makes its port monitor wait.
//
// Reading: one read of the stream asks for up to kReadAheadSize bytes, so a
// stream that carries many small records costs one system call for many of
// them. A read returns as soon as any bytes have arrived, and a record is
// posted only once all of its bytes (including those dropped beyond the
// kept mebibyte) have been read, so nothing waits for bytes that are not
// there yet and no record is delivered before it has fully arrived.
//
// Threads: the constructor and destructor run on the creating thread (the
// main thread); run() and the reading operations below run on the
// generator's own thread, which is the only user of the handle, the
// read-ahead buffer and the payload buffer. Destruction first stops and
// joins that thread.
#ifndef CHANNEL_TARN_EVENT_GENERATOR_H_
#define CHANNEL_TARN_EVENT_GENERATOR_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "channel/configured_stream.h"
#include "channel/payload_buffer.h"
#include "channel/status_backlog.h"
#include "channel/status_record.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "platform/byte_stream.h"
#include "platform/wake_signal.h"

namespace quor {

class TarnEventGenerator : public AbstractEventGenerator {
 public:
  TarnEventGenerator(vela::IPropertyHolder* parameters, IInstanceManager* manager);
  ~TarnEventGenerator() override;

  // {4AD54A4F-7906-4C40-BB19-03B778A08D4C}; also the source of its messages.
  const vela::Guid* getClassId() const override;

  // The usable size for `needed` payload bytes: the smaller of needed and
  // one mebibyte. Replaces the block when `capacity` is smaller; 0 (and a
  // null buffer) when that allocation fails. The read loop keeps its payload
  // in a tarn::PayloadBuffer, which owns its block and its bound; this form
  // is kept for callers that manage a raw block themselves.
  virtual std::uint64_t reserveBuffer(std::uint8_t*& buffer, std::uint64_t capacity,
                                      std::uint64_t needed);
  // Reads exactly count bytes into destination and returns it, taking the
  // bytes already read ahead first; throws std::domain_error when a read
  // fails or the stream ends.
  virtual std::uint8_t* statusRead(std::uint8_t* destination, std::uint64_t count);
  // Reads and drops exactly count bytes, one read (of up to kReadAheadSize
  // bytes) at a time, and looks for a stop request before each; throws as
  // statusRead.
  virtual void statusSkip(std::uint64_t count);
  // True when the header starts with "TARN".
  virtual bool isValidHeader(const std::uint8_t* header);
  // Field readers over the kept payload of the current record; see
  // tarn::PayloadCursor.
  virtual bool hasBytes(std::uint64_t n);
  virtual std::string readString();
  virtual std::wstring readWString();
  virtual std::uint32_t readUInt32(std::uint32_t defaultValue);
  // Builds the message of the current record and posts it.
  virtual void postStatus(const std::uint8_t* header, EventBroker* broker);

  // The read loop; ends when reading fails and then stops the broker. A stop
  // request ends it too, between records or between chunks of a skip, or
  // while it waits for the backlog to shrink, and then it neither posts nor
  // stops anything.
  std::uint32_t run() override;
  // Also wakes the loop from a wait for the backlog to shrink.
  void requestStop() override;

  // The most bytes the OEM blocks of this generator's messages hold while
  // they wait to be delivered; the block of a record beyond that is dropped
  // ("oemMessages" null, "oembufferSize" 0, traced) and the record is
  // otherwise delivered.
  static constexpr std::uint64_t kMaxQueuedOemBytes = StatusBacklog::kOemBytes;
  // The most one read of the stream asks for.
  static constexpr std::size_t kReadAheadSize = 64 * 1024;

  platform::StreamHandle handle() const { return stream_.get(); }
  // True when the stream was opened here from "pipe" (and is closed here).
  bool openedHere() const { return stream_.isOwned(); }

  // What this generator's living messages hold.
  const StatusBacklog& backlog() const { return *backlog_; }

 private:
  ConfiguredStream stream_;
  tarn::PayloadBuffer payload_;  // the current record's kept payload
  tarn::PayloadCursor cursor_{nullptr, 0};
  // Bytes read from the stream and not yet used: [aheadBegin_, aheadEnd_) of
  // readAhead_. Without the buffer (its allocation failed) every read asks
  // for exactly what is needed.
  std::unique_ptr<std::uint8_t[]> readAhead_;
  std::size_t aheadBegin_ = 0;
  std::size_t aheadEnd_ = 0;
  // Shared with the messages, which may outlive the generator.
  std::shared_ptr<StatusBacklog> backlog_;
  // The entries of the record being posted, reused from record to record.
  tarn::StatusFields fields_;
};

// Makes a TarnEventGenerator; null when it cannot be allocated.
vela::IPropertyHolder* MakeTarnEventGenerator(vela::IPropertyHolder* parameters,
                                              IInstanceManager* manager);

}  // namespace quor

#endif  // CHANNEL_TARN_EVENT_GENERATOR_H_
