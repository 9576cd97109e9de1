#include "channel/status_record.h"

#include <gtest/gtest.h>

#include <cstring>

namespace tarn {
namespace {

using Bytes = std::vector<std::uint8_t>;

const StatusField* field(const std::vector<StatusField>& fields, const std::string& name) {
  for (const auto& f : fields) {
    if (f.name == name) return &f;
  }
  return nullptr;
}

std::vector<std::string> names(const std::vector<StatusField>& fields) {
  std::vector<std::string> out;
  for (const auto& f : fields) out.push_back(f.name);
  return out;
}

// Splits an encoded record into its header and payload and decodes it.
std::vector<StatusField> decode(const Bytes& record) {
  RecordHeader header;
  EXPECT_EQ(decodeHeader(record.data(), record.size(), &header), HeaderResult::kOk);
  const std::size_t available = record.size() - kHeaderSize;
  const std::size_t kept = std::min<std::size_t>(keptLength(header.length), available);
  return decodeStatusFields(header, record.data() + kHeaderSize, kept);
}

TEST(RecordHeaderTest, TruncatedHeadersAreNotDecoded) {
  const Bytes record = encodeStatus(10001);
  RecordHeader header;
  for (std::size_t size = 0; size < kHeaderSize; ++size) {
    SCOPED_TRACE(size);
    EXPECT_EQ(decodeHeader(record.data(), size, &header), HeaderResult::kTruncated);
  }
  EXPECT_EQ(decodeHeader(nullptr, 16, &header), HeaderResult::kTruncated);
}

TEST(RecordHeaderTest, AWrongMagicInAnyOneByteIsRejected) {
  const Bytes good = encodeRequest(2, 7);
  for (std::size_t i = 0; i < 4; ++i) {
    for (int delta : {1, -1, 0x20}) {
      Bytes bad = good;
      bad[i] = static_cast<std::uint8_t>(bad[i] + delta);
      RecordHeader header{99, 99, 99};
      SCOPED_TRACE(testing::Message() << "byte " << i << " delta " << delta);
      EXPECT_EQ(decodeHeader(bad.data(), bad.size(), &header), HeaderResult::kBadMagic);
      EXPECT_EQ(header.recordClass, 99u);
    }
  }
}

TEST(RecordHeaderTest, FieldsAreLittleEndian) {
  const std::uint8_t raw[16] = {'T',  'A', 'R', 'N', 0x02, 0,    0,    0,
                                0x03, 0,   0,   0,   0x78, 0x56, 0x34, 0x12};
  RecordHeader header;
  ASSERT_EQ(decodeHeader(raw, sizeof raw, &header), HeaderResult::kOk);
  EXPECT_EQ(header.recordClass, 2u);
  EXPECT_EQ(header.subcode, 3u);
  EXPECT_EQ(header.length, 0x12345678u);
}

TEST(RecordHeaderTest, KeptPayloadNeverExceedsOneMebibyte) {
  EXPECT_EQ(keptLength(0), 0u);
  EXPECT_EQ(keptLength(1048576), 1048576u);
  EXPECT_EQ(keptLength(1048577), 1048576u);
  EXPECT_EQ(keptLength(0xFFFFFFFFu), 1048576u);
}

TEST(RecordHeaderTest, RequestIsAHeaderAlone) {
  const Bytes expected = {'T', 'A', 'R', 'N', 2, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(encodeRequest(2, 7), expected);
}

TEST(PayloadCursorTest, MissingU32ReadsZeroAndCursorStays) {
  const std::uint8_t three[3] = {1, 2, 3};
  PayloadCursor cursor(three, sizeof three);
  EXPECT_EQ(cursor.readUInt32(), 0u);
  EXPECT_EQ(cursor.position(), 0u);
  EXPECT_EQ(cursor.readUInt32(42), 42u);
  EXPECT_EQ(cursor.readString(), "");  // no terminator in 1, 2, 3
  EXPECT_EQ(cursor.position(), 0u);
}

TEST(PayloadCursorTest, UnterminatedTextsReadEmptyAndLeaveTheCursor) {
  // "ab\0" then "cd" without terminator: the second text is empty and the
  // u32 after it starts where the unterminated text began.
  const Bytes narrow = PayloadWriter().narrow("ab").bytes("cd", 2).data();
  PayloadCursor cursor(narrow.data(), narrow.size());
  EXPECT_EQ(cursor.readString(), "ab");
  EXPECT_EQ(cursor.readString(), "");
  EXPECT_EQ(cursor.position(), 3u);

  // A wide text whose only zero byte is the high half of a unit, and an odd
  // trailing byte: no zero unit, so it reads empty.
  const std::uint8_t wide[] = {'x', 0, 0, 'y', 0};
  PayloadCursor wideCursor(wide, sizeof wide);
  EXPECT_EQ(wideCursor.readWString(), L"");
  EXPECT_EQ(wideCursor.position(), 0u);
}

TEST(PayloadCursorTest, WideTextsAreUtf16LittleEndianWithSurrogatePairs) {
  // Build the bytes by hand: U+1F5A8 is the pair D83D DDA8 on the wire.
  const std::uint8_t raw[] = {'P', 0, 0xE8, 0x00, 0x53, 0x62, 0x3D, 0xD8, 0xA8, 0xDD, 0, 0};
  PayloadCursor cursor(raw, sizeof raw);
  const std::wstring decoded = cursor.readWString();
  EXPECT_EQ(cursor.position(), sizeof raw);
  std::wstring expected = L"P\x00E8\x6253";
  if (sizeof(wchar_t) == 2) {
    expected += L"\xD83D\xDDA8";
  } else {
    expected += static_cast<wchar_t>(0x1F5A8);
  }
  EXPECT_EQ(decoded, expected);

  // The writer produces the same bytes from the same text.
  const Bytes written = PayloadWriter().wide(expected).data();
  EXPECT_EQ(written, Bytes(raw, raw + sizeof raw));
}

TEST(PayloadCursorTest, WideTextMayStartAtAnOddOffset) {
  // "z\0" puts the wide text at offset 2 of a payload that starts at an odd
  // address: reads are bytewise, never aligned loads.
  const Bytes payload = PayloadWriter().bytes("?", 1).narrow("z").wide(L"ok").u32(5).data();
  PayloadCursor cursor(payload.data() + 1, payload.size() - 1);
  EXPECT_EQ(cursor.readString(), "z");
  EXPECT_EQ(cursor.readWString(), L"ok");
  EXPECT_EQ(cursor.readUInt32(), 5u);
  EXPECT_FALSE(cursor.hasBytes(1));
}

TEST(StatusFieldsTest, EachClassAndSubcodeYieldsItsEntriesInPayloadOrder) {
  struct Case {
    const char* what;
    Bytes record;
    std::vector<std::string> names;
  };
  const Case cases[] = {
      {"port names", encodePortNames("USB001", "Inkjet"), {"subcode", "portName", "printerName"}},
      {"port names wide",
       encodePortNamesWide(L"USB001", L"Inkjet"),
       {"subcode", "portName", "printerName"}},
      {"job start", encodeJobStart(7, "a"), {"subcode", "jobID", "docName"}},
      {"job start wide", encodeJobStartWide(7, L"a"), {"subcode", "jobID", "docName"}},
      {"job end", encodeJobEnd(7), {"subcode", "jobID"}},
      {"severity status", encodeSeverityStatus(2, 41000), {"subcode", "severity", "status"}},
      {"class 0 subcode 6", encodeRecord(0, 6, Bytes{1, 2, 3, 4}), {"subcode"}},
      {"oem block", encodeOemBlock("0123456789", 10), {"subcode", "oemMessages", "oembufferSize"}},
      {"status", encodeStatus(10209), {"subcode", "status"}},
      {"class 2 subcode 1", encodeStatus(10209, 1), {"subcode"}},
      {"class 9", encodeRecord(9, 3, Bytes{1, 0, 0, 0}), {"subcode"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(names(decode(c.record)), c.names);
  }
}

TEST(StatusFieldsTest, ValuesAreDecoded) {
  auto job = decode(encodeJobStart(7, "a"));
  EXPECT_EQ(field(job, "subcode")->intValue, 2);
  EXPECT_EQ(field(job, "jobID")->intValue, 7);
  EXPECT_EQ(field(job, "docName")->kind, StatusField::Kind::kString);
  EXPECT_EQ(field(job, "docName")->text, "a");

  auto wide = decodeStatusFields(RecordHeader{0, 1, 0}, nullptr, 0);
  EXPECT_EQ(field(wide, "portName")->kind, StatusField::Kind::kWString);

  auto status = decode(encodeSeverityStatus(0xFFFFFFFFu, 11011));
  EXPECT_EQ(field(status, "severity")->intValue, -1);  // u32 bits kept in a signed int
  EXPECT_EQ(field(status, "status")->intValue, 11011);

  const char oem[10] = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0};
  const Bytes record = encodeOemBlock(oem, sizeof oem);
  auto block = decode(record);
  ASSERT_EQ(field(block, "oemMessages")->blockSize, 10u);
  EXPECT_EQ(std::memcmp(field(block, "oemMessages")->block, oem, 10), 0);
  EXPECT_EQ(field(block, "oembufferSize")->intValue, 10);
}

TEST(StatusFieldsTest, TruncatedPayloadsReadZeroAndEmpty) {
  // Length 0, class 0, subcode 0: both names empty.
  auto empty = decode(encodeRecord(0, 0, Bytes{}));
  EXPECT_EQ(field(empty, "portName")->text, "");
  EXPECT_EQ(field(empty, "printerName")->text, "");

  // Severity and status with only 4 bytes: status reads 0.
  auto half = decode(encodeRecord(0, 5, PayloadWriter().u32(3).data()));
  EXPECT_EQ(field(half, "severity")->intValue, 3);
  EXPECT_EQ(field(half, "status")->intValue, 0);

  // Port name without its terminator: both texts read empty.
  auto unterminated = decode(encodeRecord(0, 0, PayloadWriter().bytes("USB", 3).data()));
  EXPECT_EQ(field(unterminated, "portName")->text, "");
  EXPECT_EQ(field(unterminated, "printerName")->text, "");

  // A header that promises more payload than arrived decodes what is there.
  Bytes cut = encodeJobStart(7, "document");
  cut.resize(kHeaderSize + 6);
  auto partial = decode(cut);
  EXPECT_EQ(field(partial, "jobID")->intValue, 7);
  EXPECT_EQ(field(partial, "docName")->text, "");
}

TEST(StatusFieldsTest, DecodingStaysInsideTheKeptPayload) {
  // The bytes after the kept size hold a terminator; decoding must not see it.
  const Bytes payload = PayloadWriter().bytes("abc", 3).narrow("").data();
  auto fields = decodeStatusFields(RecordHeader{0, 0, 4}, payload.data(), 3);
  EXPECT_EQ(field(fields, "portName")->text, "");

  // A kept payload of exactly one mebibyte with no terminator anywhere.
  Bytes big(kMaxKeptPayload, 'x');
  auto bigFields = decodeStatusFields(RecordHeader{0, 0, 0xFFFFFFFFu}, big.data(), big.size());
  EXPECT_EQ(field(bigFields, "portName")->text, "");
}

TEST(StatusFieldsTest, NarrowTextsPassThroughUnconverted) {
  const std::string latin1 = "Pr\xEAt \xFF";
  auto fields = decode(encodePortNames(latin1, "\xE5\xB0\xB1"));
  EXPECT_EQ(field(fields, "portName")->text, latin1);
  EXPECT_EQ(field(fields, "printerName")->text, "\xE5\xB0\xB1");
}

}  // namespace
}  // namespace tarn
