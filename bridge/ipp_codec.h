// A small IPP/1.1 codec: the three requests the status bridge sends and a
// decoder for any response, over a bounded cursor.
//
// The decoder trusts nothing in the body: every length is checked against the
// bytes that are left before anything is copied, the body itself is refused
// above kMaxResponseBytes, collections nest at most kMaxCollectionDepth deep
// and the number of decoded attributes and values is bounded, so a hostile
// printer can make it neither read nor allocate beyond those limits. Every
// refusal names its byte offset.
//
// Portable (no operating system); all functions may be called from any thread.
#ifndef BRIDGE_IPP_CODEC_H_
#define BRIDGE_IPP_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bridge {
namespace ipp {

// Delimiter tags: each starts an attribute group, or ends the attributes.
constexpr uint8_t kOperationAttributesTag = 0x01;
constexpr uint8_t kJobAttributesTag = 0x02;
constexpr uint8_t kEndOfAttributesTag = 0x03;
constexpr uint8_t kPrinterAttributesTag = 0x04;
constexpr uint8_t kUnsupportedAttributesTag = 0x05;
// Tags 0x00 to 0x0f are delimiters; 0x00 is reserved and refused.
constexpr uint8_t kLastDelimiterTag = 0x0f;

// Out-of-band value tags (the value says why there is no value).
constexpr uint8_t kUnsupportedValueTag = 0x10;
constexpr uint8_t kUnknownValueTag = 0x12;
constexpr uint8_t kNoValueTag = 0x13;
// Integer value tags.
constexpr uint8_t kIntegerTag = 0x21;
constexpr uint8_t kBooleanTag = 0x22;
constexpr uint8_t kEnumTag = 0x23;
// Octet-string value tags.
constexpr uint8_t kOctetStringTag = 0x30;
constexpr uint8_t kDateTimeTag = 0x31;
constexpr uint8_t kResolutionTag = 0x32;
constexpr uint8_t kRangeOfIntegerTag = 0x33;
constexpr uint8_t kBegCollectionTag = 0x34;
constexpr uint8_t kTextWithLanguageTag = 0x35;
constexpr uint8_t kNameWithLanguageTag = 0x36;
constexpr uint8_t kEndCollectionTag = 0x37;
// Character-string value tags.
constexpr uint8_t kTextWithoutLanguageTag = 0x41;
constexpr uint8_t kNameWithoutLanguageTag = 0x42;
constexpr uint8_t kKeywordTag = 0x44;
constexpr uint8_t kUriTag = 0x45;
constexpr uint8_t kUriSchemeTag = 0x46;
constexpr uint8_t kCharsetTag = 0x47;
constexpr uint8_t kNaturalLanguageTag = 0x48;
constexpr uint8_t kMimeMediaTypeTag = 0x49;
constexpr uint8_t kMemberAttrNameTag = 0x4a;
// The value's first four bytes name a tag beyond one byte; never decoded.
constexpr uint8_t kExtensionTag = 0x7f;

// Operation ids.
constexpr uint16_t kGetJobAttributes = 0x0009;
constexpr uint16_t kGetJobs = 0x000a;
constexpr uint16_t kGetPrinterAttributes = 0x000b;

// Status codes: 0x0000 to 0x00ff are successes, 0x0400 and up client errors,
// 0x0500 and up server errors.
constexpr uint16_t kSuccessfulOk = 0x0000;
constexpr uint16_t kClientErrorNotFound = 0x0406;

// A response larger than this is refused whole, before it is buffered.
constexpr size_t kMaxResponseBytes = 1024 * 1024;
// Collections inside collections, counting the outermost as 1.
constexpr int kMaxCollectionDepth = 16;
// Attributes, members and values (at any depth) in one response: far above
// what the attributes the bridge asks for hold (some fifty), above a whole
// printer's description, and low enough that no list of them needs more
// than 1 MiB.
constexpr size_t kMaxValues = 16384;

struct Attribute;

// One value of an attribute, with the tag it came with.
struct Value {
  uint8_t tag = 0;
  // The value's bytes as sent (for the -WithLanguage tags, the whole
  // language-and-text structure; see text()).
  std::string bytes;
  // The members of a collection (tag kBegCollectionTag), in order.
  std::vector<Attribute> members;

  // The integer of an integer or enum (4 bytes, big-endian) or of a boolean
  // (1 byte); nothing for any other tag or length.
  std::optional<int32_t> integer() const;
  // The text of a character-string value or of an octetString; for
  // textWithLanguage and nameWithLanguage the text part alone (empty when the
  // structure's own lengths do not fit). Empty for other tags.
  std::string_view text() const;
  bool isOutOfBand() const { return tag >= 0x10 && tag <= 0x1f; }
};

// An attribute (or a collection's member) with all its values.
struct Attribute {
  std::string name;
  std::vector<Value> values;
};

// The attributes of one group, in the order they came.
struct AttributeGroup {
  uint8_t tag = 0;  // a delimiter tag: kOperationAttributesTag, ...
  std::vector<Attribute> attributes;

  // The first attribute of this name, or null.
  const Attribute* find(std::string_view name) const;
};

struct Response {
  uint8_t versionMajor = 0;
  uint8_t versionMinor = 0;
  // The operation's outcome as the printer stated it; the caller decides what
  // to make of a code other than kSuccessfulOk (the attributes of a failed
  // operation still decode, the printer often explains itself in them).
  uint16_t statusCode = 0;
  uint32_t requestId = 0;
  std::vector<AttributeGroup> groups;

  bool successful() const { return statusCode <= 0x00ff; }
  // The first attribute of this name in the first group with this tag that
  // has it, or null.
  const Attribute* find(uint8_t groupTag, std::string_view name) const;
};

// Why a body was refused.
enum class DecodeError {
  kNone,
  kTooLarge,             // the body exceeds kMaxResponseBytes
  kTruncated,            // a length or field runs past the end of the body
  kReservedTag,          // delimiter tag 0x00
  kAdditionalValueFirst, // a value with an empty name and no attribute before it
  kBadCollection,        // a member or end of collection outside one, a value
                         // with a name inside one, a collection not ended
  kTooDeep,              // collections nested beyond kMaxCollectionDepth
  kTooManyValues,        // more than kMaxValues attributes and values
  kOutsideGroup,         // an attribute before any delimiter tag
};

struct DecodeResult {
  DecodeError error = DecodeError::kNone;
  size_t offset = 0;    // where the refused element starts
  std::string message;  // "truncated value length at byte 37"
  Response response;    // filled when error is kNone

  bool ok() const { return error == DecodeError::kNone; }
};

// Decodes one response body. Bytes after the end-of-attributes tag (document
// data) are ignored.
DecodeResult decodeResponse(const uint8_t* data, size_t size);
inline DecodeResult decodeResponse(const std::vector<uint8_t>& body) {
  return decodeResponse(body.data(), body.size());
}

// The operation attributes every request carries.
struct RequestTarget {
  std::string printerUri;  // ipp://host:port/path
  std::string userName;    // requesting-user-name; left out when empty
};

// The attributes the bridge reads from the printer.
extern const char* const kPrinterAttributesRequested[];
extern const size_t kPrinterAttributesRequestedCount;

// Each encode function answers an empty vector when a text is longer than
// IPP can carry (65535 bytes), rather than cutting it.

// Get-Printer-Attributes with requested-attributes: the printer's state,
// reasons, name, info, markers and supplies.
std::vector<uint8_t> encodeGetPrinterAttributes(const RequestTarget& target,
                                                uint32_t requestId);
// Get-Job-Attributes for job-id on printer-uri, asking for job-state,
// job-state-reasons and job-name.
std::vector<uint8_t> encodeGetJobAttributes(const RequestTarget& target,
                                            uint32_t requestId,
                                            int32_t jobId);
// The same, naming the job by its job-uri instead (printer-uri left out).
std::vector<uint8_t> encodeGetJobAttributesByUri(const RequestTarget& target,
                                                 uint32_t requestId,
                                                 const std::string& jobUri);
// Get-Jobs with which-jobs=not-completed, asking for job-id, job-state and
// job-name.
std::vector<uint8_t> encodeGetJobs(const RequestTarget& target,
                                   uint32_t requestId);

// Collects a response body as it arrives in pieces and refuses it as soon as
// it would exceed kMaxResponseBytes, without buffering the excess.
class ResponseBuffer {
 public:
  // Appends the piece; false (and nothing appended) when the body would then
  // exceed the limit. Once refused, the buffer stays refused.
  bool append(const uint8_t* data, size_t size);
  // A Content-Length announced before the body: false when above the limit.
  // Reserves room for it otherwise.
  bool expect(uint64_t contentLength);
  bool refused() const { return refused_; }
  const std::vector<uint8_t>& body() const { return body_; }
  void clear();

 private:
  std::vector<uint8_t> body_;
  bool refused_ = false;
};

}  // namespace ipp
}  // namespace bridge

#endif  // BRIDGE_IPP_CODEC_H_
