// The block the status stream reader keeps the payload of one record in.
//
// One block serves record after record: it is replaced only when a record
// keeps more bytes than it holds, and it never holds more than the bound
// (tarn::kMaxKeptPayload, one mebibyte), so a hostile or broken length field
// cannot make the reader allocate more than that. The bytes of a longer
// payload beyond the bound are the reader's to drop.
//
// Threads: used by one thread at a time (the reader's own).
#ifndef CHANNEL_PAYLOAD_BUFFER_H_
#define CHANNEL_PAYLOAD_BUFFER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

#include "channel/status_record.h"

namespace tarn {

class PayloadBuffer {
 public:
  explicit PayloadBuffer(std::size_t bound = kMaxKeptPayload) : bound_(bound) {}
  PayloadBuffer(const PayloadBuffer&) = delete;
  PayloadBuffer& operator=(const PayloadBuffer&) = delete;

  // The bytes of a payload of `length` that a buffer with this bound keeps.
  std::size_t keptSize(std::uint64_t length) const {
    return length < bound_ ? static_cast<std::size_t>(length) : bound_;
  }

  // Makes room for the kept part of the next record's payload of `length`
  // bytes and answers its size, which size() reports from now on. When a
  // larger block is needed and cannot be allocated the buffer is left
  // empty (traced): the answer is 0, and the record keeps nothing.
  std::size_t reserve(std::uint64_t length);

  // The kept bytes of the current record: size() of them from data().
  std::uint8_t* data() { return block_.data(); }
  const std::uint8_t* data() const { return block_.data(); }
  std::size_t size() const { return size_; }
  // What the block holds without being replaced.
  std::size_t capacity() const { return block_.size(); }
  std::size_t bound() const { return bound_; }

 private:
  std::vector<std::uint8_t> block_;
  std::size_t size_ = 0;
  std::size_t bound_;
};

}  // namespace tarn

#endif  // CHANNEL_PAYLOAD_BUFFER_H_
