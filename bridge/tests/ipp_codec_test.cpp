#include "bridge/ipp_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/tests/ipp_bytes.h"

namespace bridge {
namespace ipp {
namespace {

using testing::IppBytes;

std::vector<std::string> texts(const Attribute* attribute) {
  std::vector<std::string> texts;
  if (attribute == nullptr) return texts;
  for (const Value& value : attribute->values) texts.emplace_back(value.text());
  return texts;
}

// RFC 8010 section 4.2: Print-Job response, successful, with an enum, an
// integer and a URI in the job group.
TEST(IppDecodeTest, RfcPrintJobResponse) {
  IppBytes bytes;
  bytes.header(0x0000, 1)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x48, "attributes-natural-language", "en-us")
      .attr(0x41, "status-message", "successful-ok")
      .u8(0x02)
      .integer(0x21, "job-id", 147)
      .attr(0x45, "job-uri", "ipp://printer.example.com/ipp/print/pinetree/147")
      .integer(0x23, "job-state", 3)
      .end();
  DecodeResult result = decodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  const Response& response = result.response;
  EXPECT_EQ(response.versionMajor, 1);
  EXPECT_EQ(response.versionMinor, 1);
  EXPECT_EQ(response.statusCode, kSuccessfulOk);
  EXPECT_TRUE(response.successful());
  EXPECT_EQ(response.requestId, 1u);
  ASSERT_EQ(response.groups.size(), 2u);
  EXPECT_EQ(response.groups[0].tag, kOperationAttributesTag);
  EXPECT_EQ(response.groups[0].attributes.size(), 3u);
  EXPECT_EQ(texts(response.find(kOperationAttributesTag, "status-message")),
            std::vector<std::string>{"successful-ok"});
  const Attribute* jobId = response.find(kJobAttributesTag, "job-id");
  ASSERT_NE(jobId, nullptr);
  ASSERT_EQ(jobId->values.size(), 1u);
  EXPECT_EQ(jobId->values[0].integer(), 147);
  EXPECT_EQ(response.find(kJobAttributesTag, "job-state")->values[0].integer(), 3);
  EXPECT_EQ(texts(response.find(kJobAttributesTag, "job-uri")),
            std::vector<std::string>{"ipp://printer.example.com/ipp/print/pinetree/147"});
  EXPECT_EQ(response.find(kOperationAttributesTag, "job-id"), nullptr);
}

// RFC 8010 section 4.3 and 4.4: a failed operation and one with an
// unsupported-attributes group decode; the status code is the caller's to
// judge, and an out-of-band value is kept with its tag.
TEST(IppDecodeTest, RfcResponsesWithOtherStatusCodes) {
  IppBytes failure;
  failure.header(0x0400, 1)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x48, "attributes-natural-language", "en-us")
      .attr(0x41, "status-message", "client-error-bad-request")
      .end();
  DecodeResult result = decodeResponse(failure.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.response.statusCode, 0x0400);
  EXPECT_FALSE(result.response.successful());

  IppBytes ignored;
  ignored.header(0x0001, 1)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .u8(0x05)
      .integer(0x21, "copies", 20)
      .attr(0x10, "sides", "")
      .u8(0x02)
      .integer(0x21, "job-id", 147)
      .end();
  result = decodeResponse(ignored.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_TRUE(result.response.successful());  // successful-ok-ignored-or-substituted
  const Attribute* sides = result.response.find(kUnsupportedAttributesTag, "sides");
  ASSERT_NE(sides, nullptr);
  ASSERT_EQ(sides->values.size(), 1u);
  EXPECT_TRUE(sides->values[0].isOutOfBand());
  EXPECT_FALSE(sides->values[0].integer().has_value());
}

// RFC 8010 section 4.8: Get-Jobs response, two job groups, names with a
// language; and section 4.7's request (one attribute with three values).
TEST(IppDecodeTest, RfcGetJobsWithLanguageAndAdditionalValues) {
  IppBytes response;
  response.header(0x0000, 123)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x48, "attributes-natural-language", "en-us")
      .u8(0x02)
      .integer(0x21, "job-id", 147)
      .u8(0x36).u16(8).raw("job-name").u16(12).u16(5).raw("fr-ca").u16(3).raw("fou")
      .u8(0x02)
      .integer(0x21, "job-id", 148)
      .u8(0x36).u16(8).raw("job-name").u16(18).u16(5).raw("de-CH").u16(9).raw("isch guet")
      .end();
  DecodeResult result = decodeResponse(response.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  ASSERT_EQ(result.response.groups.size(), 3u);
  EXPECT_EQ(texts(result.response.groups[1].find("job-name")), std::vector<std::string>{"fou"});
  EXPECT_EQ(texts(result.response.groups[2].find("job-name")),
            std::vector<std::string>{"isch guet"});
  EXPECT_EQ(result.response.groups[2].find("job-id")->values[0].integer(), 148);

  IppBytes request;
  request.header(0x000a, 123)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x45, "printer-uri", "ipp://printer.example.com/ipp/print/pinetree")
      .integer(0x21, "limit", 50)
      .attr(0x44, "requested-attributes", "job-id")
      .more(0x44, "job-name")
      .more(0x44, "document-format")
      .end();
  result = decodeResponse(request.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(texts(result.response.find(kOperationAttributesTag, "requested-attributes")),
            (std::vector<std::string>{"job-id", "job-name", "document-format"}));
  EXPECT_EQ(result.response.find(kOperationAttributesTag, "limit")->values.size(), 1u);
}

// RFC 8010 section 4.6's media-col: a collection holding a collection, and
// a member with an additional value; then a nesting as deep as allowed.
TEST(IppDecodeTest, NestedCollections) {
  IppBytes bytes;
  bytes.header(0, 1)
      .u8(0x02)
      .attr(0x34, "media-col", "")
      .member("media-size")
      .attr(0x34, "", "")
      .member("x-dimension").moreInteger(0x21, 21000)
      .member("y-dimension").moreInteger(0x21, 29700)
      .attr(0x37, "", "")
      .member("media-color").more(0x44, "blue").more(0x44, "white")
      .member("media-type").more(0x44, "plain")
      .attr(0x37, "", "")
      .more(0x34, "")  // a second collection value of media-col
      .member("media-type").more(0x44, "photo")
      .attr(0x37, "", "")
      .attr(0x44, "after", "still-read")
      .end();
  DecodeResult result = decodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  const Attribute* mediaCol = result.response.find(kJobAttributesTag, "media-col");
  ASSERT_NE(mediaCol, nullptr);
  ASSERT_EQ(mediaCol->values.size(), 2u);
  const std::vector<Attribute>& members = mediaCol->values[0].members;
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "media-size");
  ASSERT_EQ(members[0].values.size(), 1u);
  const std::vector<Attribute>& size = members[0].values[0].members;
  ASSERT_EQ(size.size(), 2u);
  EXPECT_EQ(size[0].name, "x-dimension");
  EXPECT_EQ(size[0].values[0].integer(), 21000);
  EXPECT_EQ(size[1].values[0].integer(), 29700);
  EXPECT_EQ(texts(&members[1]), (std::vector<std::string>{"blue", "white"}));
  EXPECT_EQ(texts(&members[2]), std::vector<std::string>{"plain"});
  EXPECT_EQ(texts(&mediaCol->values[1].members[0]), std::vector<std::string>{"photo"});
  EXPECT_EQ(texts(result.response.find(kJobAttributesTag, "after")),
            std::vector<std::string>{"still-read"});

  auto nested = [](int depth) {
    IppBytes deep;
    deep.header(0, 1).u8(0x04).attr(0x34, "deep", "");
    for (int i = 1; i < depth; ++i) deep.member("inner").more(0x34, "");
    for (int i = 0; i < depth; ++i) deep.attr(0x37, "", "");
    return deep.end();
  };
  EXPECT_TRUE(decodeResponse(nested(kMaxCollectionDepth).bytes()).ok());
  IppBytes tooDeep = nested(kMaxCollectionDepth + 1);
  result = decodeResponse(tooDeep.bytes());
  EXPECT_EQ(result.error, DecodeError::kTooDeep);
  // The innermost begCollection: header, group tag, the outer begCollection
  // (1+2+4+2), then per level a member (1+2+2+5) and a begCollection (1+2+2).
  EXPECT_EQ(result.offset, 8u + 1 + 9 + (kMaxCollectionDepth - 1) * 15u + 10);
}

// Every refusal, with the offset of the element it refuses. Lengths that
// lie point past the body; the decoder must neither read there nor accept.
TEST(IppDecodeTest, MalformedBodiesAreRefusedWithTheirOffset) {
  struct Case {
    const char* what;
    IppBytes bytes;
    DecodeError error;
    size_t offset;
  };
  auto header = [] {
    IppBytes bytes;
    bytes.header(0, 7).u8(0x04);  // 9 bytes: the group tag at 8
    return bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"header cut", IppBytes().u8(1).u8(1).u16(0).u8(0), DecodeError::kTruncated, 0});
  cases.push_back({"no end tag", header(), DecodeError::kTruncated, 9});
  cases.push_back({"name length past the end",
                   header().u8(0x44).u16(80).raw("printer-state"), DecodeError::kTruncated, 10});
  cases.push_back({"value length past the end",
                   header().u8(0x44).u16(1).raw("a").u16(0xffff).raw("abc").end(),
                   DecodeError::kTruncated, 13});
  cases.push_back({"value length cut", header().u8(0x44).u16(1).raw("a").u8(0),
                   DecodeError::kTruncated, 13});
  cases.push_back({"name length cut", header().u8(0x21).u8(0), DecodeError::kTruncated, 10});
  cases.push_back({"integer cut inside", header().integer(0x21, "n", 5).u8(0x21).u16(1).raw("m").u16(4).u16(0),
                   DecodeError::kTruncated, 23});
  cases.push_back({"additional value first", header().more(0x44, "orphan").end(),
                   DecodeError::kAdditionalValueFirst, 9});
  cases.push_back({"additional value after a new group",
                   header().attr(0x44, "a", "x").u8(0x02).more(0x44, "y").end(),
                   DecodeError::kAdditionalValueFirst, 17});
  cases.push_back({"reserved tag", header().u8(0x00), DecodeError::kReservedTag, 9});
  cases.push_back({"attribute before a group",
                   IppBytes().header(0, 1).attr(0x44, "a", "x").end(),
                   DecodeError::kOutsideGroup, 8});
  cases.push_back({"member outside a collection", header().member("x").end(),
                   DecodeError::kBadCollection, 9});
  cases.push_back({"end outside a collection", header().attr(0x37, "", "").end(),
                   DecodeError::kBadCollection, 9});
  cases.push_back({"collection not ended",
                   header().attr(0x34, "c", "").member("m").more(0x21, "1234"),
                   DecodeError::kTruncated, 30});
  cases.push_back({"group inside a collection",
                   header().attr(0x34, "c", "").member("m").u8(0x02).end(),
                   DecodeError::kBadCollection, 21});
  cases.push_back({"value before any member",
                   header().attr(0x34, "c", "").more(0x44, "x").attr(0x37, "", "").end(),
                   DecodeError::kAdditionalValueFirst, 15});
  cases.push_back({"named value inside a collection",
                   header().attr(0x34, "c", "").attr(0x44, "named", "x").attr(0x37, "", "").end(),
                   DecodeError::kBadCollection, 15});
  cases.push_back({"member without a name",
                   header().attr(0x34, "c", "").member("").attr(0x37, "", "").end(),
                   DecodeError::kBadCollection, 15});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeResult result = decodeResponse(c.bytes.bytes());
    EXPECT_EQ(result.error, c.error) << result.message;
    EXPECT_EQ(result.offset, c.offset) << result.message;
    EXPECT_NE(result.message.find("at byte " + std::to_string(c.offset)), std::string::npos)
        << result.message;
    EXPECT_TRUE(result.response.groups.empty());
  }
}

// Values of tags the decoder does not know are skipped whole, wherever they
// stand; what follows them is read as usual.
TEST(IppDecodeTest, UnknownValueTagsAreSkipped) {
  IppBytes bytes;
  bytes.header(0, 1)
      .u8(0x04)
      .attr(0x44, "printer-state-reasons", "media-jam-error")
      .more(0x38, "reserved tag")
      .more(0x7f, std::string("\x40\0\0\x01" "extension", 13))
      .more(0x44, "cover-open-warning")
      .attr(0x52, "x-vendor", "unknown")  // named, unknown: no value kept
      .more(0x44, "known")
      .attr(0x34, "col", "")
      .member("m").more(0x2f, "skip").more(0x21, std::string("\0\0\0\x02", 4))
      .attr(0x37, "", "")
      .end()
      .raw("document data after the attributes");
  DecodeResult result = decodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(texts(result.response.find(kPrinterAttributesTag, "printer-state-reasons")),
            (std::vector<std::string>{"media-jam-error", "cover-open-warning"}));
  EXPECT_EQ(texts(result.response.find(kPrinterAttributesTag, "x-vendor")),
            std::vector<std::string>{"known"});
  const Attribute* col = result.response.find(kPrinterAttributesTag, "col");
  ASSERT_NE(col, nullptr);
  ASSERT_EQ(col->values[0].members[0].values.size(), 1u);
  EXPECT_EQ(col->values[0].members[0].values[0].integer(), 2);
}

// One value, many values, and the bounds: the body's size and the number of
// values.
TEST(IppDecodeTest, ValueCountsAndSizeLimits) {
  IppBytes many;
  many.header(0, 1).u8(0x04).integer(0x21, "marker-levels", -2);
  for (int i = 1; i < 1000; ++i) many.moreInteger(0x21, i);
  many.attr(0x41, "single", "one").end();
  DecodeResult result = decodeResponse(many.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  const Attribute* levels = result.response.find(kPrinterAttributesTag, "marker-levels");
  ASSERT_EQ(levels->values.size(), 1000u);
  EXPECT_EQ(levels->values[0].integer(), -2);
  EXPECT_EQ(levels->values[999].integer(), 999);
  EXPECT_EQ(texts(result.response.find(kPrinterAttributesTag, "single")),
            std::vector<std::string>{"one"});

  // kMaxValues values pass; one more is refused where it starts.
  auto values = [](size_t count) {
    IppBytes bytes;
    bytes.header(0, 1).u8(0x04).attr(0x44, "k", "");
    for (size_t i = 1; i < count; ++i) bytes.more(0x44, "");
    return bytes.end();
  };
  // One attribute counts as one item beside its values.
  EXPECT_TRUE(decodeResponse(values(kMaxValues - 1).bytes()).ok());
  result = decodeResponse(values(kMaxValues).bytes());
  EXPECT_EQ(result.error, DecodeError::kTooManyValues);
  EXPECT_EQ(result.offset, 15u + (kMaxValues - 2) * 5);

  // A body of exactly 1 MiB is decoded; one byte more is refused unread.
  IppBytes full;
  full.header(0, 1).u8(0x04).attr(0x41, "printer-info", "x").end();
  full.raw(std::string(kMaxResponseBytes - full.size(), 'd'));
  ASSERT_EQ(full.size(), kMaxResponseBytes);
  EXPECT_TRUE(decodeResponse(full.bytes()).ok());
  full.u8('d');
  result = decodeResponse(full.bytes());
  EXPECT_EQ(result.error, DecodeError::kTooLarge);
  EXPECT_EQ(result.offset, kMaxResponseBytes);

  ResponseBuffer buffer;
  EXPECT_FALSE(buffer.expect(kMaxResponseBytes + 1));
  EXPECT_TRUE(buffer.refused());
  EXPECT_FALSE(buffer.append(full.bytes().data(), 1));
  buffer.clear();
  EXPECT_TRUE(buffer.expect(kMaxResponseBytes));
  const size_t piece = 64 * 1024;
  for (size_t sent = 0; sent < kMaxResponseBytes; sent += piece) {
    ASSERT_TRUE(buffer.append(full.bytes().data() + sent, piece));
  }
  EXPECT_EQ(buffer.body().size(), kMaxResponseBytes);
  EXPECT_TRUE(decodeResponse(buffer.body()).ok());
  EXPECT_FALSE(buffer.append(full.bytes().data(), 1));
  EXPECT_TRUE(buffer.refused());
  EXPECT_TRUE(buffer.body().empty());
  EXPECT_FALSE(buffer.append(full.bytes().data(), 0));
}

// Texts whose own structure lies read as empty; integers of the wrong size
// are no integers.
TEST(IppDecodeTest, ValueAccessorsCheckTheirOwnLengths) {
  Value textWithLanguage{kTextWithLanguageTag, std::string("\0\x02" "en" "\0\x09" "short", 9), {}};
  EXPECT_EQ(textWithLanguage.text(), "");
  Value languageTooLong{kNameWithLanguageTag, std::string("\0\x09" "en", 4), {}};
  EXPECT_EQ(languageTooLong.text(), "");
  Value good{kNameWithLanguageTag, std::string("\0\x02" "en" "\0\x02" "ok", 8), {}};
  EXPECT_EQ(good.text(), "ok");
  Value shortInteger{kIntegerTag, std::string("\0\0\x01", 3), {}};
  EXPECT_FALSE(shortInteger.integer().has_value());
  Value boolean{kBooleanTag, std::string("\x01", 1), {}};
  EXPECT_EQ(boolean.integer(), 1);
  Value keyword{kKeywordTag, "idle", {}};
  EXPECT_FALSE(keyword.integer().has_value());
  Value integer{kIntegerTag, std::string("\0\0\0\x05", 4), {}};
  EXPECT_EQ(integer.text(), "");
}

// The requests, byte for byte: the operation attributes in the order IPP
// requires (charset, language, target, user), then the operation's own.
TEST(IppEncodeTest, RequestsAreLaidOutExactly) {
  RequestTarget target{"ipp://localhost:8631/ipp/print", "alice"};
  IppBytes getJobs;
  getJobs.header(0x000a, 0x01020304)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x48, "attributes-natural-language", "en")
      .attr(0x45, "printer-uri", "ipp://localhost:8631/ipp/print")
      .attr(0x42, "requesting-user-name", "alice")
      .attr(0x44, "which-jobs", "not-completed")
      .attr(0x44, "requested-attributes", "job-id")
      .more(0x44, "job-state")
      .more(0x44, "job-name")
      .end();
  EXPECT_EQ(encodeGetJobs(target, 0x01020304), getJobs.bytes());

  IppBytes getJob;
  getJob.header(0x0009, 9)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x48, "attributes-natural-language", "en")
      .attr(0x45, "printer-uri", "ipp://localhost:8631/ipp/print")
      .integer(0x21, "job-id", 42)
      .attr(0x44, "requested-attributes", "job-state")
      .more(0x44, "job-state-reasons")
      .more(0x44, "job-name")
      .end();
  EXPECT_EQ(encodeGetJobAttributes(RequestTarget{target.printerUri, ""}, 9, 42),
            getJob.bytes());

  IppBytes byUri;
  byUri.header(0x0009, 10)
      .u8(0x01)
      .attr(0x47, "attributes-charset", "utf-8")
      .attr(0x48, "attributes-natural-language", "en")
      .attr(0x42, "requesting-user-name", "alice")
      .attr(0x45, "job-uri", "ipp://localhost:8631/ipp/print/42")
      .attr(0x44, "requested-attributes", "job-state")
      .more(0x44, "job-state-reasons")
      .more(0x44, "job-name")
      .end();
  EXPECT_EQ(encodeGetJobAttributesByUri(target, 10, "ipp://localhost:8631/ipp/print/42"),
            byUri.bytes());

  // Get-Printer-Attributes, read back through the decoder.
  DecodeResult result = decodeResponse(encodeGetPrinterAttributes(target, 77));
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.response.statusCode, kGetPrinterAttributes);  // the operation id
  EXPECT_EQ(result.response.requestId, 77u);
  ASSERT_EQ(result.response.groups.size(), 1u);
  const std::vector<Attribute>& attributes = result.response.groups[0].attributes;
  ASSERT_EQ(attributes.size(), 5u);
  EXPECT_EQ(attributes[0].name, "attributes-charset");
  EXPECT_EQ(attributes[1].name, "attributes-natural-language");
  EXPECT_EQ(attributes[2].name, "printer-uri");
  EXPECT_EQ(attributes[3].name, "requesting-user-name");
  EXPECT_EQ(texts(&attributes[4]),
            (std::vector<std::string>{"printer-state", "printer-state-reasons", "printer-name",
                                      "printer-info", "marker-names", "marker-colors",
                                      "marker-levels", "marker-low-levels", "marker-types",
                                      "printer-supply", "printer-supply-description"}));

  // A text IPP cannot carry is refused, not cut.
  EXPECT_TRUE(encodeGetJobs(RequestTarget{std::string(70000, 'u'), ""}, 1).empty());
}

}  // namespace
}  // namespace ipp
}  // namespace bridge
