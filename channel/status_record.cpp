#include "channel/status_record.h"

#include <cstring>

#include "platform/text.h"

namespace tarn {
namespace {

std::uint32_t loadLittleEndian32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void storeLittleEndian32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
  out.push_back(static_cast<std::uint8_t>(v >> 16));
  out.push_back(static_cast<std::uint8_t>(v >> 24));
}

StatusField intField(const char* name, const wchar_t* wideName, std::uint32_t value) {
  StatusField f;
  f.name = name;
  f.wideName = wideName;
  f.kind = StatusField::Kind::kInt;
  f.intValue = static_cast<std::int32_t>(value);
  return f;
}

StatusField stringField(const char* name, const wchar_t* wideName, std::string text) {
  StatusField f;
  f.name = name;
  f.wideName = wideName;
  f.kind = StatusField::Kind::kString;
  f.text = std::move(text);
  return f;
}

StatusField wideField(const char* name, const wchar_t* wideName, std::wstring text) {
  StatusField f;
  f.name = name;
  f.wideName = wideName;
  f.kind = StatusField::Kind::kWString;
  f.wideText = std::move(text);
  return f;
}

// Appends to a fixed list that the decoder never fills beyond its size.
class FieldList {
 public:
  explicit FieldList(StatusFields* out) : out_(out) { out_->count = 0; }
  void add(StatusField field) {
    if (out_->count < out_->items.size()) out_->items[out_->count++] = std::move(field);
  }

 private:
  StatusFields* out_;
};

}  // namespace

HeaderResult decodeHeader(const std::uint8_t* data, std::size_t size, RecordHeader* out) {
  if (data == nullptr || size < kHeaderSize) return HeaderResult::kTruncated;
  if (std::memcmp(data, kMagic, sizeof kMagic) != 0) return HeaderResult::kBadMagic;
  out->recordClass = loadLittleEndian32(data + 4);
  out->subcode = loadLittleEndian32(data + 8);
  out->length = loadLittleEndian32(data + 12);
  return HeaderResult::kOk;
}

std::uint32_t PayloadCursor::readUInt32(std::uint32_t fallback) {
  if (!hasBytes(4)) return fallback;
  const std::uint32_t v = loadLittleEndian32(data_ + pos_);
  pos_ += 4;
  return v;
}

std::string PayloadCursor::readString() {
  const std::size_t start = pos_;
  for (std::size_t i = start; i < size_; ++i) {
    if (data_[i] == 0) {
      pos_ = i + 1;
      return std::string(reinterpret_cast<const char*>(data_ + start), i - start);
    }
  }
  return std::string();
}

std::wstring PayloadCursor::readWString() {
  const std::size_t start = pos_;
  std::u16string units;
  for (std::size_t i = start; size_ - i >= 2; i += 2) {
    const char16_t unit = static_cast<char16_t>(data_[i] | (data_[i + 1] << 8));
    if (unit == 0) {
      pos_ = i + 2;
      return platform::utf16ToWide(units);
    }
    units.push_back(unit);
  }
  return std::wstring();
}

void decodeStatusFields(const RecordHeader& header, const std::uint8_t* payload,
                        std::size_t keptSize, StatusFields* out) {
  FieldList fields(out);
  fields.add(intField("subcode", L"subcode", header.subcode));
  PayloadCursor cursor(payload, payload == nullptr ? 0 : keptSize);

  switch (header.recordClass) {
    case kPrinterJobClass:
      switch (header.subcode) {
        case kPortNames: {
          std::string port = cursor.readString();
          std::string printer = cursor.readString();
          fields.add(stringField("portName", L"portName", std::move(port)));
          fields.add(stringField("printerName", L"printerName", std::move(printer)));
          break;
        }
        case kPortNamesWide: {
          std::wstring port = cursor.readWString();
          std::wstring printer = cursor.readWString();
          fields.add(wideField("portName", L"portName", std::move(port)));
          fields.add(wideField("printerName", L"printerName", std::move(printer)));
          break;
        }
        case kJobStart: {
          const std::uint32_t job = cursor.readUInt32();
          fields.add(intField("jobID", L"jobID", job));
          fields.add(stringField("docName", L"docName", cursor.readString()));
          break;
        }
        case kJobStartWide: {
          const std::uint32_t job = cursor.readUInt32();
          fields.add(intField("jobID", L"jobID", job));
          fields.add(wideField("docName", L"docName", cursor.readWString()));
          break;
        }
        case kJobEnd:
          fields.add(intField("jobID", L"jobID", cursor.readUInt32()));
          break;
        case kSeverityStatus: {
          const std::uint32_t severity = cursor.readUInt32();
          const std::uint32_t status = cursor.readUInt32();
          fields.add(intField("severity", L"severity", severity));
          fields.add(intField("status", L"status", status));
          break;
        }
        default:
          break;
      }
      break;
    case kOemClass: {
      StatusField block;
      block.name = "oemMessages";
      block.wideName = L"oemMessages";
      block.kind = StatusField::Kind::kOemBlock;
      block.block = payload;
      block.blockSize = payload == nullptr ? 0 : keptSize;
      const auto size = static_cast<std::uint32_t>(block.blockSize);
      fields.add(std::move(block));
      fields.add(intField("oembufferSize", L"oembufferSize", size));
      break;
    }
    case kStatusClass:
      if (header.subcode == kStatusSubcode) {
        fields.add(intField("status", L"status", cursor.readUInt32()));
      }
      break;
    default:
      break;
  }
}

std::vector<StatusField> decodeStatusFields(const RecordHeader& header, const std::uint8_t* payload,
                                            std::size_t keptSize) {
  StatusFields fixed;
  decodeStatusFields(header, payload, keptSize, &fixed);
  return std::vector<StatusField>(fixed.begin(), fixed.end());
}

PayloadWriter& PayloadWriter::u32(std::uint32_t value) {
  storeLittleEndian32(bytes_, value);
  return *this;
}

PayloadWriter& PayloadWriter::narrow(std::string_view text) {
  bytes_.insert(bytes_.end(), text.begin(), text.end());
  bytes_.push_back(0);
  return *this;
}

PayloadWriter& PayloadWriter::wide(std::wstring_view text) {
  for (char16_t unit : platform::wideToUtf16(text)) {
    bytes_.push_back(static_cast<std::uint8_t>(unit));
    bytes_.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  bytes_.push_back(0);
  bytes_.push_back(0);
  return *this;
}

PayloadWriter& PayloadWriter::bytes(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + size);
  return *this;
}

std::vector<std::uint8_t> encodeHeader(std::uint32_t recordClass, std::uint32_t subcode,
                                       std::uint32_t length) {
  std::vector<std::uint8_t> out(kMagic, kMagic + sizeof kMagic);
  storeLittleEndian32(out, recordClass);
  storeLittleEndian32(out, subcode);
  storeLittleEndian32(out, length);
  return out;
}

std::vector<std::uint8_t> encodeRecord(std::uint32_t recordClass, std::uint32_t subcode,
                                       const std::vector<std::uint8_t>& payload) {
  std::vector<std::uint8_t> out =
      encodeHeader(recordClass, subcode, static_cast<std::uint32_t>(payload.size()));
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

std::vector<std::uint8_t> encodeRequest(std::uint32_t recordClass, std::uint32_t subcode) {
  return encodeHeader(recordClass, subcode, 0);
}

std::vector<std::uint8_t> encodePortNames(std::string_view port, std::string_view printer) {
  return encodeRecord(kPrinterJobClass, kPortNames,
                      PayloadWriter().narrow(port).narrow(printer).data());
}

std::vector<std::uint8_t> encodePortNamesWide(std::wstring_view port, std::wstring_view printer) {
  return encodeRecord(kPrinterJobClass, kPortNamesWide,
                      PayloadWriter().wide(port).wide(printer).data());
}

std::vector<std::uint8_t> encodeJobStart(std::uint32_t jobId, std::string_view document) {
  return encodeRecord(kPrinterJobClass, kJobStart,
                      PayloadWriter().u32(jobId).narrow(document).data());
}

std::vector<std::uint8_t> encodeJobStartWide(std::uint32_t jobId, std::wstring_view document) {
  return encodeRecord(kPrinterJobClass, kJobStartWide,
                      PayloadWriter().u32(jobId).wide(document).data());
}

std::vector<std::uint8_t> encodeJobEnd(std::uint32_t jobId) {
  return encodeRecord(kPrinterJobClass, kJobEnd, PayloadWriter().u32(jobId).data());
}

std::vector<std::uint8_t> encodeSeverityStatus(std::uint32_t severity, std::uint32_t status) {
  return encodeRecord(kPrinterJobClass, kSeverityStatus,
                      PayloadWriter().u32(severity).u32(status).data());
}

std::vector<std::uint8_t> encodeOemBlock(const void* data, std::size_t size) {
  return encodeRecord(kOemClass, 0, PayloadWriter().bytes(data, size).data());
}

std::vector<std::uint8_t> encodeStatus(std::uint32_t status, std::uint32_t subcode) {
  return encodeRecord(kStatusClass, subcode, PayloadWriter().u32(status).data());
}

}  // namespace tarn
