// The record format of the status and request streams.
//
// Both streams carry records of a fixed 16-byte header followed by a payload:
//
//   offset 0  "TARN" (four ASCII bytes)
//   offset 4  class    u32 little-endian
//   offset 8  subcode  u32 little-endian
//   offset 12 length   u32 little-endian, payload bytes after the header
//
// Only the first kMaxKeptPayload bytes of a payload are ever held and
// decoded; the rest of a longer record is consumed and dropped by the stream
// reader. Decoding here is pure: it works on bytes already read, never reads
// outside them and allocates nothing beyond the kept payload, so the pipe
// reader and the fuzz target drive the same code.
#ifndef CHANNEL_STATUS_RECORD_H_
#define CHANNEL_STATUS_RECORD_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tarn {

inline constexpr std::size_t kHeaderSize = 16;
inline constexpr std::uint32_t kMaxKeptPayload = 0x100000;  // one mebibyte
inline constexpr std::size_t kDiscardChunk = 4096;
inline constexpr char kMagic[4] = {'T', 'A', 'R', 'N'};

// Record classes and the subcodes this system knows.
enum RecordClass : std::uint32_t {
  kPrinterJobClass = 0,
  kOemClass = 1,
  kStatusClass = 2,
};
enum PrinterJobSubcode : std::uint32_t {
  kPortNames = 0,       // port name, printer name (narrow)
  kPortNamesWide = 1,   // port name, printer name (wide)
  kJobStart = 2,        // job id, document name (narrow)
  kJobStartWide = 3,    // job id, document name (wide)
  kJobEnd = 4,          // job id
  kSeverityStatus = 5,  // severity, status code
};
inline constexpr std::uint32_t kStatusSubcode = 3;  // class 2: status code

struct RecordHeader {
  std::uint32_t recordClass = 0;
  std::uint32_t subcode = 0;
  std::uint32_t length = 0;
};

enum class HeaderResult { kOk, kTruncated, kBadMagic };

// Decodes the 16 bytes at `data`. Fewer than 16 bytes give kTruncated; a
// header whose first four bytes are not "TARN" gives kBadMagic and leaves
// `out` untouched.
HeaderResult decodeHeader(const std::uint8_t* data, std::size_t size, RecordHeader* out);

// The number of payload bytes of a record of `length` that are kept.
constexpr std::uint32_t keptLength(std::uint32_t length) {
  return length < kMaxKeptPayload ? length : kMaxKeptPayload;
}

// A forward cursor over a kept payload. Every read is bounded by the end of
// the payload. A field that is not wholly there reads as 0 or as the empty
// text and leaves the cursor where it was.
class PayloadCursor {
 public:
  PayloadCursor(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

  bool hasBytes(std::size_t n) const { return size_ - pos_ >= n; }
  std::size_t position() const { return pos_; }
  std::size_t remaining() const { return size_ - pos_; }

  // Little-endian u32, or `fallback` when fewer than 4 bytes remain.
  std::uint32_t readUInt32(std::uint32_t fallback = 0);
  // Bytes up to a zero byte; empty when no zero byte follows.
  std::string readString();
  // UTF-16LE code units up to a zero unit, as a wide string; empty when no
  // zero unit follows.
  std::wstring readWString();

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// One named entry of a decoded status record, in payload order.
struct StatusField {
  enum class Kind { kInt, kString, kWString, kOemBlock };
  // The entry's key, narrow and wide (static texts).
  const char* name = "";
  const wchar_t* wideName = L"";
  Kind kind = Kind::kInt;
  std::int32_t intValue = 0;  // u32 fields keep their bits
  std::string text;
  std::wstring wideText;
  const std::uint8_t* block = nullptr;  // kOemBlock: points into the payload
  std::size_t blockSize = 0;
};

// The most entries one status record yields ("subcode" and two more).
inline constexpr std::size_t kMaxStatusFields = 3;

// The entries of one record, held without a heap block of their own (only a
// text too long for its string's own storage allocates).
struct StatusFields {
  std::array<StatusField, kMaxStatusFields> items;
  std::size_t count = 0;

  const StatusField* begin() const { return items.data(); }
  const StatusField* end() const { return items.data() + count; }
};

// Decodes the entries a status record yields into `out`, replacing what it
// held: "subcode" first, then the fields its class and subcode carry.
// Unknown classes and subcodes yield "subcode" alone.
void decodeStatusFields(const RecordHeader& header, const std::uint8_t* payload,
                        std::size_t keptSize, StatusFields* out);
// The same entries as a list.
std::vector<StatusField> decodeStatusFields(const RecordHeader& header, const std::uint8_t* payload,
                                            std::size_t keptSize);

// Builds payloads field by field, in wire format.
class PayloadWriter {
 public:
  PayloadWriter& u32(std::uint32_t value);
  // The bytes and a terminating zero byte.
  PayloadWriter& narrow(std::string_view text);
  // UTF-16LE code units and a terminating zero unit.
  PayloadWriter& wide(std::wstring_view text);
  // Raw bytes, no terminator.
  PayloadWriter& bytes(const void* data, std::size_t size);

  const std::vector<std::uint8_t>& data() const { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
};

// A whole record: header with the payload's size as its length, then the
// payload.
std::vector<std::uint8_t> encodeRecord(std::uint32_t recordClass, std::uint32_t subcode,
                                       const std::vector<std::uint8_t>& payload);
// A header whose length field says `length`, whatever follows.
std::vector<std::uint8_t> encodeHeader(std::uint32_t recordClass, std::uint32_t subcode,
                                       std::uint32_t length);

// A request record: the header alone, length 0.
std::vector<std::uint8_t> encodeRequest(std::uint32_t recordClass, std::uint32_t subcode);

// Status records as the port monitor writes them.
std::vector<std::uint8_t> encodePortNames(std::string_view port, std::string_view printer);
std::vector<std::uint8_t> encodePortNamesWide(std::wstring_view port, std::wstring_view printer);
std::vector<std::uint8_t> encodeJobStart(std::uint32_t jobId, std::string_view document);
std::vector<std::uint8_t> encodeJobStartWide(std::uint32_t jobId, std::wstring_view document);
std::vector<std::uint8_t> encodeJobEnd(std::uint32_t jobId);
std::vector<std::uint8_t> encodeSeverityStatus(std::uint32_t severity, std::uint32_t status);
std::vector<std::uint8_t> encodeOemBlock(const void* data, std::size_t size);
std::vector<std::uint8_t> encodeStatus(std::uint32_t status,
                                       std::uint32_t subcode = kStatusSubcode);

}  // namespace tarn

#endif  // CHANNEL_STATUS_RECORD_H_
