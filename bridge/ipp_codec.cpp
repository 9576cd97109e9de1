#include "bridge/ipp_codec.h"

#include <utility>

namespace bridge {
namespace ipp {

const char* const kPrinterAttributesRequested[] = {
    "printer-state",  "printer-state-reasons", "printer-name",
    "printer-info",   "marker-names",          "marker-colors",
    "marker-levels",  "marker-low-levels",     "marker-types",
    "printer-supply", "printer-supply-description"};
const size_t kPrinterAttributesRequestedCount =
    sizeof(kPrinterAttributesRequested) / sizeof(kPrinterAttributesRequested[0]);

namespace {

// Every value length and name length on the wire is 16 bits.
constexpr size_t kMaxFieldBytes = 0xffff;

uint16_t bigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t bigEndian32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}

// A read-only cursor over the body. Every read says whether the bytes were
// there; a read that fails leaves the cursor where it was.
class Cursor {
 public:
  Cursor(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  size_t offset() const { return offset_; }
  size_t remaining() const { return size_ - offset_; }

  bool readU8(uint8_t* out) {
    if (remaining() < 1) return false;
    *out = data_[offset_++];
    return true;
  }
  bool readU16(uint16_t* out) {
    if (remaining() < 2) return false;
    *out = bigEndian16(data_ + offset_);
    offset_ += 2;
    return true;
  }
  bool readU32(uint32_t* out) {
    if (remaining() < 4) return false;
    *out = bigEndian32(data_ + offset_);
    offset_ += 4;
    return true;
  }
  // Copies `count` bytes; checked before anything is allocated.
  bool readBytes(size_t count, std::string* out) {
    if (remaining() < count) return false;
    out->assign(reinterpret_cast<const char*>(data_ + offset_), count);
    offset_ += count;
    return true;
  }
  bool skip(size_t count) {
    if (remaining() < count) return false;
    offset_ += count;
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t offset_ = 0;
};

// Tags whose values the decoder keeps; the others are skipped whole.
bool isKnownValueTag(uint8_t tag) {
  return (tag >= 0x10 && tag <= 0x1f) ||               // out-of-band
         (tag >= kIntegerTag && tag <= kEnumTag) ||     // integer, boolean, enum
         (tag >= kOctetStringTag && tag <= kEndCollectionTag) ||
         (tag >= kTextWithoutLanguageTag && tag <= kMemberAttrNameTag);
}

// One tag-name-value element as it stands on the wire.
struct Element {
  size_t offset = 0;  // of its tag
  uint8_t tag = 0;
  std::string name;
  std::string value;
};

class Decoder {
 public:
  Decoder(const uint8_t* data, size_t size, DecodeResult* result)
      : cursor_(data, size), result_(result) {}

  bool run() {
    Response& response = result_->response;
    uint16_t status = 0;
    if (!cursor_.readU8(&response.versionMajor) || !cursor_.readU8(&response.versionMinor) ||
        !cursor_.readU16(&status) || !cursor_.readU32(&response.requestId)) {
      return fail(DecodeError::kTruncated, 0, "truncated header (8 bytes needed)");
    }
    response.statusCode = status;
    return decodeGroups();
  }

 private:
  bool fail(DecodeError error, size_t offset, const std::string& what) {
    result_->error = error;
    result_->offset = offset;
    result_->message = what + " at byte " + std::to_string(offset);
    return false;
  }

  // Reads the name and value of the element whose tag was just read.
  bool readElement(Element* element) {
    uint16_t nameLength = 0;
    uint16_t valueLength = 0;
    if (!cursor_.readU16(&nameLength)) {
      return fail(DecodeError::kTruncated, cursor_.offset(), "truncated name length");
    }
    if (!cursor_.readBytes(nameLength, &element->name)) {
      return fail(DecodeError::kTruncated, cursor_.offset() - 2,
                  "name length " + std::to_string(nameLength) + " beyond the body");
    }
    if (!cursor_.readU16(&valueLength)) {
      return fail(DecodeError::kTruncated, cursor_.offset(), "truncated value length");
    }
    // A value of an unknown tag is skipped without being copied.
    bool keep = isKnownValueTag(element->tag);
    bool there = keep ? cursor_.readBytes(valueLength, &element->value)
                      : cursor_.skip(valueLength);
    if (!there) {
      return fail(DecodeError::kTruncated, cursor_.offset() - 2,
                  "value length " + std::to_string(valueLength) + " beyond the body");
    }
    return true;
  }

  bool countItem(size_t offset) {
    if (++items_ > kMaxValues) {
      return fail(DecodeError::kTooManyValues, offset,
                  "more than " + std::to_string(kMaxValues) + " attributes and values");
    }
    return true;
  }

  bool decodeGroups() {
    std::vector<AttributeGroup>& groups = result_->response.groups;
    // Index of the attribute that additional values join; none at a group's start.
    size_t current = SIZE_MAX;
    for (;;) {
      Element element;
      element.offset = cursor_.offset();
      if (!cursor_.readU8(&element.tag)) {
        return fail(DecodeError::kTruncated, element.offset, "no end-of-attributes tag");
      }
      if (element.tag == kEndOfAttributesTag) return true;
      if (element.tag <= kLastDelimiterTag) {
        if (element.tag == 0) {
          return fail(DecodeError::kReservedTag, element.offset, "reserved delimiter tag 0x00");
        }
        groups.push_back(AttributeGroup{element.tag, {}});
        current = SIZE_MAX;
        continue;
      }
      if (!readElement(&element)) return false;
      if (groups.empty()) {
        return fail(DecodeError::kOutsideGroup, element.offset, "attribute before any group");
      }
      if (element.tag == kMemberAttrNameTag || element.tag == kEndCollectionTag) {
        return fail(DecodeError::kBadCollection, element.offset,
                    element.tag == kEndCollectionTag ? "endCollection outside a collection"
                                                     : "memberAttrName outside a collection");
      }
      std::vector<Attribute>& attributes = groups.back().attributes;
      if (element.name.empty()) {
        if (current == SIZE_MAX) {
          return fail(DecodeError::kAdditionalValueFirst, element.offset,
                      "additional value without an attribute before it");
        }
      } else {
        if (!countItem(element.offset)) return false;
        attributes.push_back(Attribute{std::move(element.name), {}});
        current = attributes.size() - 1;
      }
      if (!addValue(&element, 1, &attributes[current])) return false;
    }
  }

  // Adds the element's value to `attribute` (decoding a collection first);
  // a value of an unknown tag is left out. `depth` is the depth the value
  // would have as a collection.
  bool addValue(Element* element, int depth, Attribute* attribute) {
    if (!isKnownValueTag(element->tag)) return true;
    if (!countItem(element->offset)) return false;
    Value value;
    value.tag = element->tag;
    if (element->tag == kBegCollectionTag) {
      if (depth > kMaxCollectionDepth) {
        return fail(DecodeError::kTooDeep, element->offset,
                    "collections nested deeper than " + std::to_string(kMaxCollectionDepth));
      }
      // The begCollection's own value is meaningless; members follow it.
      if (!decodeCollection(depth, &value.members)) return false;
    } else {
      value.bytes = std::move(element->value);
    }
    attribute->values.push_back(std::move(value));
    return true;
  }

  // Reads members up to the matching endCollection.
  bool decodeCollection(int depth, std::vector<Attribute>* members) {
    size_t current = SIZE_MAX;
    for (;;) {
      Element element;
      element.offset = cursor_.offset();
      if (!cursor_.readU8(&element.tag)) {
        return fail(DecodeError::kTruncated, element.offset, "collection not ended");
      }
      if (element.tag <= kLastDelimiterTag) {
        return fail(DecodeError::kBadCollection, element.offset, "delimiter tag inside a collection");
      }
      if (!readElement(&element)) return false;
      if (!element.name.empty()) {
        return fail(DecodeError::kBadCollection, element.offset,
                    "value with a name inside a collection");
      }
      if (element.tag == kEndCollectionTag) return true;
      if (element.tag == kMemberAttrNameTag) {
        if (element.value.empty()) {
          return fail(DecodeError::kBadCollection, element.offset, "member without a name");
        }
        if (!countItem(element.offset)) return false;
        members->push_back(Attribute{std::move(element.value), {}});
        current = members->size() - 1;
        continue;
      }
      if (current == SIZE_MAX) {
        return fail(DecodeError::kAdditionalValueFirst, element.offset,
                    "collection value without a member name before it");
      }
      if (!addValue(&element, depth + 1, &(*members)[current])) return false;
    }
  }

  Cursor cursor_;
  DecodeResult* result_;
  size_t items_ = 0;
};

// Builds a request; remembers when a text was too long to encode.
class RequestWriter {
 public:
  RequestWriter(uint16_t operation, uint32_t requestId, const RequestTarget& target,
                bool withPrinterUri) {
    u8(1);  // version 1.1
    u8(1);
    u16(operation);
    u8(static_cast<uint8_t>(requestId >> 24));
    u8(static_cast<uint8_t>(requestId >> 16));
    u8(static_cast<uint8_t>(requestId >> 8));
    u8(static_cast<uint8_t>(requestId));
    u8(kOperationAttributesTag);
    // The first two attributes must be these, in this order.
    attribute(kCharsetTag, "attributes-charset", "utf-8");
    attribute(kNaturalLanguageTag, "attributes-natural-language", "en");
    if (withPrinterUri) attribute(kUriTag, "printer-uri", target.printerUri);
    if (!target.userName.empty()) {
      attribute(kNameWithoutLanguageTag, "requesting-user-name", target.userName);
    }
  }

  void attribute(uint8_t tag, std::string_view name, std::string_view value) {
    u8(tag);
    field(name);
    field(value);
  }
  void additionalValue(uint8_t tag, std::string_view value) {
    u8(tag);
    u16(0);
    field(value);
  }
  void integer(std::string_view name, int32_t value) {
    u8(kIntegerTag);
    field(name);
    u16(4);
    uint32_t bits = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) u8(static_cast<uint8_t>(bits >> shift));
  }
  void keywordAttribute(std::string_view name, const char* const* keywords, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (i == 0) {
        attribute(kKeywordTag, name, keywords[i]);
      } else {
        additionalValue(kKeywordTag, keywords[i]);
      }
    }
  }

  std::vector<uint8_t> finish() {
    u8(kEndOfAttributesTag);
    if (tooLong_) return {};
    return std::move(out_);
  }

 private:
  void u8(uint8_t byte) { out_.push_back(byte); }
  void u16(uint16_t value) {
    u8(static_cast<uint8_t>(value >> 8));
    u8(static_cast<uint8_t>(value));
  }
  void field(std::string_view text) {
    if (text.size() > kMaxFieldBytes) {
      tooLong_ = true;
      return;
    }
    u16(static_cast<uint16_t>(text.size()));
    out_.insert(out_.end(), text.begin(), text.end());
  }

  std::vector<uint8_t> out_;
  bool tooLong_ = false;
};

}  // namespace

std::optional<int32_t> Value::integer() const {
  if ((tag == kIntegerTag || tag == kEnumTag) && bytes.size() == 4) {
    return static_cast<int32_t>(bigEndian32(reinterpret_cast<const uint8_t*>(bytes.data())));
  }
  if (tag == kBooleanTag && bytes.size() == 1) return bytes[0] != 0 ? 1 : 0;
  return std::nullopt;
}

std::string_view Value::text() const {
  if (tag == kTextWithLanguageTag || tag == kNameWithLanguageTag) {
    // Two length-prefixed strings: the language, then the text.
    const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
    size_t size = bytes.size();
    if (size < 2) return {};
    size_t language = bigEndian16(p);
    if (size < 2 + language + 2) return {};
    size_t length = bigEndian16(p + 2 + language);
    if (size - (4 + language) < length) return {};
    return std::string_view(bytes).substr(4 + language, length);
  }
  if (tag == kOctetStringTag ||
      (tag >= kTextWithoutLanguageTag && tag <= kMimeMediaTypeTag)) {
    return bytes;
  }
  return {};
}

const Attribute* AttributeGroup::find(std::string_view name) const {
  for (const Attribute& attribute : attributes) {
    if (attribute.name == name) return &attribute;
  }
  return nullptr;
}

const Attribute* Response::find(uint8_t groupTag, std::string_view name) const {
  for (const AttributeGroup& group : groups) {
    if (group.tag != groupTag) continue;
    if (const Attribute* attribute = group.find(name)) return attribute;
  }
  return nullptr;
}

DecodeResult decodeResponse(const uint8_t* data, size_t size) {
  DecodeResult result;
  if (size > kMaxResponseBytes) {
    result.error = DecodeError::kTooLarge;
    result.offset = kMaxResponseBytes;
    result.message = "response of " + std::to_string(size) + " bytes, more than " +
                     std::to_string(kMaxResponseBytes) + " at byte " +
                     std::to_string(kMaxResponseBytes);
    return result;
  }
  Decoder decoder(data, size, &result);
  if (!decoder.run()) result.response = Response();
  return result;
}

std::vector<uint8_t> encodeGetPrinterAttributes(const RequestTarget& target,
                                                uint32_t requestId) {
  RequestWriter writer(kGetPrinterAttributes, requestId, target, true);
  writer.keywordAttribute("requested-attributes", kPrinterAttributesRequested,
                  kPrinterAttributesRequestedCount);
  return writer.finish();
}

namespace {
const char* const kJobAttributesRequested[] = {"job-state", "job-state-reasons", "job-name"};
const char* const kJobsRequested[] = {"job-id", "job-state", "job-name"};
}  // namespace

std::vector<uint8_t> encodeGetJobAttributes(const RequestTarget& target, uint32_t requestId,
                                            int32_t jobId) {
  RequestWriter writer(kGetJobAttributes, requestId, target, true);
  writer.integer("job-id", jobId);
  writer.keywordAttribute("requested-attributes", kJobAttributesRequested, 3);
  return writer.finish();
}

std::vector<uint8_t> encodeGetJobAttributesByUri(const RequestTarget& target,
                                                 uint32_t requestId,
                                                 const std::string& jobUri) {
  RequestWriter writer(kGetJobAttributes, requestId, target, false);
  writer.attribute(kUriTag, "job-uri", jobUri);
  writer.keywordAttribute("requested-attributes", kJobAttributesRequested, 3);
  return writer.finish();
}

std::vector<uint8_t> encodeGetJobs(const RequestTarget& target, uint32_t requestId) {
  RequestWriter writer(kGetJobs, requestId, target, true);
  writer.attribute(kKeywordTag, "which-jobs", "not-completed");
  writer.keywordAttribute("requested-attributes", kJobsRequested, 3);
  return writer.finish();
}

bool ResponseBuffer::append(const uint8_t* data, size_t size) {
  if (refused_) return false;
  if (size > kMaxResponseBytes - body_.size()) {
    refused_ = true;
    // Give the memory back at once: the body will never be read.
    std::vector<uint8_t>().swap(body_);
    return false;
  }
  body_.insert(body_.end(), data, data + size);
  return true;
}

bool ResponseBuffer::expect(uint64_t contentLength) {
  if (refused_) return false;
  if (contentLength > kMaxResponseBytes) {
    refused_ = true;
    std::vector<uint8_t>().swap(body_);
    return false;
  }
  body_.reserve(static_cast<size_t>(contentLength));
  return true;
}

void ResponseBuffer::clear() {
  std::vector<uint8_t>().swap(body_);
  refused_ = false;
}

}  // namespace ipp
}  // namespace bridge
