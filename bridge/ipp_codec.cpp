#include "bridge/ipp_codec.h"

#include <utility>

namespace bridge {
namespace ipp {

const char* const kPrinterAttributesRequested[] = {"printer-state",
                                                   "printer-state-reasons",
                                                   "printer-name",
                                                   "printer-info",
                                                   "marker-names",
                                                   "marker-colors",
                                                   "marker-levels",
                                                   "marker-low-levels",
                                                   "marker-types",
                                                   "printer-supply",
                                                   "printer-supply-description"};
const size_t kPrinterAttributesRequestedCount =
    sizeof(kPrinterAttributesRequested) / sizeof(kPrinterAttributesRequested[0]);

namespace {

// Every value length and name length on the wire is 16 bits.
constexpr size_t kMaxFieldBytes = 0xffff;

uint16_t BigEndian16(const uint8_t* p) {
  return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t BigEndian32(const uint8_t* p) {
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

  bool ReadU8(uint8_t* out) {
    if (remaining() < 1) return false;
    *out = data_[offset_++];
    return true;
  }
  bool ReadU16(uint16_t* out) {
    if (remaining() < 2) return false;
    *out = BigEndian16(data_ + offset_);
    offset_ += 2;
    return true;
  }
  bool ReadU32(uint32_t* out) {
    if (remaining() < 4) return false;
    *out = BigEndian32(data_ + offset_);
    offset_ += 4;
    return true;
  }
  // Copies `count` bytes; checked before anything is allocated.
  bool ReadBytes(size_t count, std::string* out) {
    if (remaining() < count) return false;
    out->assign(reinterpret_cast<const char*>(data_ + offset_), count);
    offset_ += count;
    return true;
  }
  bool Skip(size_t count) {
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
bool IsKnownValueTag(uint8_t tag) {
  return (tag >= 0x10 && tag <= 0x1f) ||             // out-of-band
         (tag >= kIntegerTag && tag <= kEnumTag) ||  // integer, boolean, enum
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

  bool Run() {
    Response& response = result_->response;
    uint16_t status = 0;
    if (!cursor_.ReadU8(&response.version_major) || !cursor_.ReadU8(&response.version_minor) ||
        !cursor_.ReadU16(&status) || !cursor_.ReadU32(&response.request_id)) {
      return Fail(DecodeError::kTruncated, 0, "truncated header (8 bytes needed)");
    }
    response.status_code = status;
    return DecodeGroups();
  }

 private:
  bool Fail(DecodeError error, size_t offset, const std::string& what) {
    result_->error = error;
    result_->offset = offset;
    result_->message = what + " at byte " + std::to_string(offset);
    return false;
  }

  // Reads the name and value of the element whose tag was just read.
  bool ReadElement(Element* element) {
    uint16_t name_length = 0;
    uint16_t value_length = 0;
    if (!cursor_.ReadU16(&name_length)) {
      return Fail(DecodeError::kTruncated, cursor_.offset(), "truncated name length");
    }
    if (!cursor_.ReadBytes(name_length, &element->name)) {
      return Fail(DecodeError::kTruncated, cursor_.offset() - 2,
                  "name length " + std::to_string(name_length) + " beyond the body");
    }
    if (!cursor_.ReadU16(&value_length)) {
      return Fail(DecodeError::kTruncated, cursor_.offset(), "truncated value length");
    }
    // A value of an unknown tag is skipped without being copied.
    bool keep = IsKnownValueTag(element->tag);
    bool there =
        keep ? cursor_.ReadBytes(value_length, &element->value) : cursor_.Skip(value_length);
    if (!there) {
      return Fail(DecodeError::kTruncated, cursor_.offset() - 2,
                  "value length " + std::to_string(value_length) + " beyond the body");
    }
    return true;
  }

  bool Count(size_t offset) {
    if (++items_ > kMaxValues) {
      return Fail(DecodeError::kTooManyValues, offset,
                  "more than " + std::to_string(kMaxValues) + " attributes and values");
    }
    return true;
  }

  bool DecodeGroups() {
    std::vector<AttributeGroup>& groups = result_->response.groups;
    // Index of the attribute that additional values join; none at a group's start.
    size_t current = SIZE_MAX;
    for (;;) {
      Element element;
      element.offset = cursor_.offset();
      if (!cursor_.ReadU8(&element.tag)) {
        return Fail(DecodeError::kTruncated, element.offset, "no end-of-attributes tag");
      }
      if (element.tag == kEndOfAttributesTag) return true;
      if (element.tag <= kLastDelimiterTag) {
        if (element.tag == 0) {
          return Fail(DecodeError::kReservedTag, element.offset, "reserved delimiter tag 0x00");
        }
        groups.push_back(AttributeGroup{element.tag, {}});
        current = SIZE_MAX;
        continue;
      }
      if (!ReadElement(&element)) return false;
      if (groups.empty()) {
        return Fail(DecodeError::kOutsideGroup, element.offset, "attribute before any group");
      }
      if (element.tag == kMemberAttrNameTag || element.tag == kEndCollectionTag) {
        return Fail(DecodeError::kBadCollection, element.offset,
                    element.tag == kEndCollectionTag ? "endCollection outside a collection"
                                                     : "memberAttrName outside a collection");
      }
      std::vector<Attribute>& attributes = groups.back().attributes;
      if (element.name.empty()) {
        if (current == SIZE_MAX) {
          return Fail(DecodeError::kAdditionalValueFirst, element.offset,
                      "additional value without an attribute before it");
        }
      } else {
        if (!Count(element.offset)) return false;
        attributes.push_back(Attribute{std::move(element.name), {}});
        current = attributes.size() - 1;
      }
      if (!AddValue(&element, 1, &attributes[current])) return false;
    }
  }

  // Adds the element's value to `attribute` (decoding a collection first);
  // a value of an unknown tag is left out. `depth` is the depth the value
  // would have as a collection.
  bool AddValue(Element* element, int depth, Attribute* attribute) {
    if (!IsKnownValueTag(element->tag)) return true;
    if (!Count(element->offset)) return false;
    Value value;
    value.tag = element->tag;
    if (element->tag == kBegCollectionTag) {
      if (depth > kMaxCollectionDepth) {
        return Fail(DecodeError::kTooDeep, element->offset,
                    "collections nested deeper than " + std::to_string(kMaxCollectionDepth));
      }
      // The begCollection's own value is meaningless; members follow it.
      if (!DecodeCollection(depth, &value.members)) return false;
    } else {
      value.bytes = std::move(element->value);
    }
    attribute->values.push_back(std::move(value));
    return true;
  }

  // Reads members up to the matching endCollection.
  bool DecodeCollection(int depth, std::vector<Attribute>* members) {
    size_t current = SIZE_MAX;
    for (;;) {
      Element element;
      element.offset = cursor_.offset();
      if (!cursor_.ReadU8(&element.tag)) {
        return Fail(DecodeError::kTruncated, element.offset, "collection not ended");
      }
      if (element.tag <= kLastDelimiterTag) {
        return Fail(DecodeError::kBadCollection, element.offset,
                    "delimiter tag inside a collection");
      }
      if (!ReadElement(&element)) return false;
      if (!element.name.empty()) {
        return Fail(DecodeError::kBadCollection, element.offset,
                    "value with a name inside a collection");
      }
      if (element.tag == kEndCollectionTag) return true;
      if (element.tag == kMemberAttrNameTag) {
        if (element.value.empty()) {
          return Fail(DecodeError::kBadCollection, element.offset, "member without a name");
        }
        if (!Count(element.offset)) return false;
        members->push_back(Attribute{std::move(element.value), {}});
        current = members->size() - 1;
        continue;
      }
      if (current == SIZE_MAX) {
        return Fail(DecodeError::kAdditionalValueFirst, element.offset,
                    "collection value without a member name before it");
      }
      if (!AddValue(&element, depth + 1, &(*members)[current])) return false;
    }
  }

  Cursor cursor_;
  DecodeResult* result_;
  size_t items_ = 0;
};

// Builds a request; remembers when a text was too long to encode.
class RequestWriter {
 public:
  RequestWriter(uint16_t operation, uint32_t request_id, const RequestTarget& target,
                bool with_printer_uri) {
    U8(1);  // version 1.1
    U8(1);
    U16(operation);
    U8(static_cast<uint8_t>(request_id >> 24));
    U8(static_cast<uint8_t>(request_id >> 16));
    U8(static_cast<uint8_t>(request_id >> 8));
    U8(static_cast<uint8_t>(request_id));
    U8(kOperationAttributesTag);
    // The first two attributes must be these, in this order.
    Attribute(kCharsetTag, "attributes-charset", "utf-8");
    Attribute(kNaturalLanguageTag, "attributes-natural-language", "en");
    if (with_printer_uri) Attribute(kUriTag, "printer-uri", target.printer_uri);
    if (!target.user_name.empty()) {
      Attribute(kNameWithoutLanguageTag, "requesting-user-name", target.user_name);
    }
  }

  void Attribute(uint8_t tag, std::string_view name, std::string_view value) {
    U8(tag);
    Text(name);
    Text(value);
  }
  void AdditionalValue(uint8_t tag, std::string_view value) {
    U8(tag);
    U16(0);
    Text(value);
  }
  void Integer(std::string_view name, int32_t value) {
    U8(kIntegerTag);
    Text(name);
    U16(4);
    uint32_t bits = static_cast<uint32_t>(value);
    for (int shift = 24; shift >= 0; shift -= 8) U8(static_cast<uint8_t>(bits >> shift));
  }
  void Keywords(std::string_view name, const char* const* keywords, size_t count) {
    for (size_t i = 0; i < count; ++i) {
      if (i == 0) {
        Attribute(kKeywordTag, name, keywords[i]);
      } else {
        AdditionalValue(kKeywordTag, keywords[i]);
      }
    }
  }

  std::vector<uint8_t> Finish() {
    U8(kEndOfAttributesTag);
    if (too_long_) return {};
    return std::move(out_);
  }

 private:
  void U8(uint8_t byte) { out_.push_back(byte); }
  void U16(uint16_t value) {
    U8(static_cast<uint8_t>(value >> 8));
    U8(static_cast<uint8_t>(value));
  }
  void Text(std::string_view text) {
    if (text.size() > kMaxFieldBytes) {
      too_long_ = true;
      return;
    }
    U16(static_cast<uint16_t>(text.size()));
    out_.insert(out_.end(), text.begin(), text.end());
  }

  std::vector<uint8_t> out_;
  bool too_long_ = false;
};

}  // namespace

std::optional<int32_t> Value::integer() const {
  if ((tag == kIntegerTag || tag == kEnumTag) && bytes.size() == 4) {
    return static_cast<int32_t>(BigEndian32(reinterpret_cast<const uint8_t*>(bytes.data())));
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
    size_t language = BigEndian16(p);
    if (size < 2 + language + 2) return {};
    size_t length = BigEndian16(p + 2 + language);
    if (size - (4 + language) < length) return {};
    return std::string_view(bytes).substr(4 + language, length);
  }
  if (tag == kOctetStringTag || (tag >= kTextWithoutLanguageTag && tag <= kMimeMediaTypeTag)) {
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

const Attribute* Response::find(uint8_t group_tag, std::string_view name) const {
  for (const AttributeGroup& group : groups) {
    if (group.tag != group_tag) continue;
    if (const Attribute* attribute = group.find(name)) return attribute;
  }
  return nullptr;
}

DecodeResult DecodeResponse(const uint8_t* data, size_t size) {
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
  if (!decoder.Run()) result.response = Response();
  return result;
}

std::vector<uint8_t> EncodeGetPrinterAttributes(const RequestTarget& target, uint32_t request_id) {
  RequestWriter writer(kGetPrinterAttributes, request_id, target, true);
  writer.Keywords("requested-attributes", kPrinterAttributesRequested,
                  kPrinterAttributesRequestedCount);
  return writer.Finish();
}

namespace {
const char* const kJobAttributesRequested[] = {"job-state", "job-state-reasons", "job-name"};
const char* const kJobsRequested[] = {"job-id", "job-state", "job-name"};
}  // namespace

std::vector<uint8_t> EncodeGetJobAttributes(const RequestTarget& target, uint32_t request_id,
                                            int32_t job_id) {
  RequestWriter writer(kGetJobAttributes, request_id, target, true);
  writer.Integer("job-id", job_id);
  writer.Keywords("requested-attributes", kJobAttributesRequested, 3);
  return writer.Finish();
}

std::vector<uint8_t> EncodeGetJobAttributesByUri(const RequestTarget& target, uint32_t request_id,
                                                 const std::string& job_uri) {
  RequestWriter writer(kGetJobAttributes, request_id, target, false);
  writer.Attribute(kUriTag, "job-uri", job_uri);
  writer.Keywords("requested-attributes", kJobAttributesRequested, 3);
  return writer.Finish();
}

std::vector<uint8_t> EncodeGetJobs(const RequestTarget& target, uint32_t request_id) {
  RequestWriter writer(kGetJobs, request_id, target, true);
  writer.Attribute(kKeywordTag, "which-jobs", "not-completed");
  writer.Keywords("requested-attributes", kJobsRequested, 3);
  return writer.Finish();
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

bool ResponseBuffer::expect(uint64_t content_length) {
  if (refused_) return false;
  if (content_length > kMaxResponseBytes) {
    refused_ = true;
    std::vector<uint8_t>().swap(body_);
    return false;
  }
  body_.reserve(static_cast<size_t>(content_length));
  return true;
}

void ResponseBuffer::clear() {
  std::vector<uint8_t>().swap(body_);
  refused_ = false;
}

}  // namespace ipp
}  // namespace bridge
