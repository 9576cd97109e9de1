#include "bridge/ipp_codec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/tests/ipp_bytes.h"

namespace bridge {
namespace ipp {
namespace {

using testing::IppBytes;

std::vector<std::string> Texts(const Attribute* attribute) {
  std::vector<std::string> texts;
  if (attribute == nullptr) return texts;
  for (const Value& value : attribute->values) texts.emplace_back(value.text());
  return texts;
}

// RFC 8010 section 4.2: Print-Job response, successful, with an enum, an
// integer and a URI in the job group.
TEST(IppDecodeTest, RfcPrintJobResponse) {
  IppBytes bytes;
  bytes.Header(0x0000, 1)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x48, "attributes-natural-language", "en-us")
      .Attr(0x41, "status-message", "successful-ok")
      .U8(0x02)
      .Int(0x21, "job-id", 147)
      .Attr(0x45, "job-uri", "ipp://printer.example.com/ipp/print/pinetree/147")
      .Int(0x23, "job-state", 3)
      .End();
  DecodeResult result = DecodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  const Response& response = result.response;
  EXPECT_EQ(response.version_major, 1);
  EXPECT_EQ(response.version_minor, 1);
  EXPECT_EQ(response.status_code, kSuccessfulOk);
  EXPECT_TRUE(response.successful());
  EXPECT_EQ(response.request_id, 1u);
  ASSERT_EQ(response.groups.size(), 2u);
  EXPECT_EQ(response.groups[0].tag, kOperationAttributesTag);
  EXPECT_EQ(response.groups[0].attributes.size(), 3u);
  EXPECT_EQ(Texts(response.find(kOperationAttributesTag, "status-message")),
            std::vector<std::string>{"successful-ok"});
  const Attribute* job_id = response.find(kJobAttributesTag, "job-id");
  ASSERT_NE(job_id, nullptr);
  ASSERT_EQ(job_id->values.size(), 1u);
  EXPECT_EQ(job_id->values[0].integer(), 147);
  EXPECT_EQ(response.find(kJobAttributesTag, "job-state")->values[0].integer(), 3);
  EXPECT_EQ(Texts(response.find(kJobAttributesTag, "job-uri")),
            std::vector<std::string>{"ipp://printer.example.com/ipp/print/pinetree/147"});
  EXPECT_EQ(response.find(kOperationAttributesTag, "job-id"), nullptr);
}

// RFC 8010 section 4.3 and 4.4: a failed operation and one with an
// unsupported-attributes group decode; the status code is the caller's to
// judge, and an out-of-band value is kept with its tag.
TEST(IppDecodeTest, RfcResponsesWithOtherStatusCodes) {
  IppBytes failure;
  failure.Header(0x0400, 1)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x48, "attributes-natural-language", "en-us")
      .Attr(0x41, "status-message", "client-error-bad-request")
      .End();
  DecodeResult result = DecodeResponse(failure.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.response.status_code, 0x0400);
  EXPECT_FALSE(result.response.successful());

  IppBytes ignored;
  ignored.Header(0x0001, 1)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .U8(0x05)
      .Int(0x21, "copies", 20)
      .Attr(0x10, "sides", "")
      .U8(0x02)
      .Int(0x21, "job-id", 147)
      .End();
  result = DecodeResponse(ignored.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_TRUE(result.response.successful());  // successful-ok-ignored-or-substituted
  const Attribute* sides = result.response.find(kUnsupportedAttributesTag, "sides");
  ASSERT_NE(sides, nullptr);
  ASSERT_EQ(sides->values.size(), 1u);
  EXPECT_TRUE(sides->values[0].is_out_of_band());
  EXPECT_FALSE(sides->values[0].integer().has_value());
}

// RFC 8010 section 4.8: Get-Jobs response, two job groups, names with a
// language; and section 4.7's request (one attribute with three values).
TEST(IppDecodeTest, RfcGetJobsWithLanguageAndAdditionalValues) {
  IppBytes response;
  response.Header(0x0000, 123)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x48, "attributes-natural-language", "en-us")
      .U8(0x02)
      .Int(0x21, "job-id", 147)
      .U8(0x36)
      .U16(8)
      .Raw("job-name")
      .U16(12)
      .U16(5)
      .Raw("fr-ca")
      .U16(3)
      .Raw("fou")
      .U8(0x02)
      .Int(0x21, "job-id", 148)
      .U8(0x36)
      .U16(8)
      .Raw("job-name")
      .U16(18)
      .U16(5)
      .Raw("de-CH")
      .U16(9)
      .Raw("isch guet")
      .End();
  DecodeResult result = DecodeResponse(response.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  ASSERT_EQ(result.response.groups.size(), 3u);
  EXPECT_EQ(Texts(result.response.groups[1].find("job-name")), std::vector<std::string>{"fou"});
  EXPECT_EQ(Texts(result.response.groups[2].find("job-name")),
            std::vector<std::string>{"isch guet"});
  EXPECT_EQ(result.response.groups[2].find("job-id")->values[0].integer(), 148);

  IppBytes request;
  request.Header(0x000a, 123)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x45, "printer-uri", "ipp://printer.example.com/ipp/print/pinetree")
      .Int(0x21, "limit", 50)
      .Attr(0x44, "requested-attributes", "job-id")
      .More(0x44, "job-name")
      .More(0x44, "document-format")
      .End();
  result = DecodeResponse(request.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(Texts(result.response.find(kOperationAttributesTag, "requested-attributes")),
            (std::vector<std::string>{"job-id", "job-name", "document-format"}));
  EXPECT_EQ(result.response.find(kOperationAttributesTag, "limit")->values.size(), 1u);
}

// RFC 8010 section 4.6's media-col: a collection holding a collection, and
// a member with an additional value; then a nesting as deep as allowed.
TEST(IppDecodeTest, NestedCollections) {
  IppBytes bytes;
  bytes.Header(0, 1)
      .U8(0x02)
      .Attr(0x34, "media-col", "")
      .Member("media-size")
      .Attr(0x34, "", "")
      .Member("x-dimension")
      .MoreInt(0x21, 21000)
      .Member("y-dimension")
      .MoreInt(0x21, 29700)
      .Attr(0x37, "", "")
      .Member("media-color")
      .More(0x44, "blue")
      .More(0x44, "white")
      .Member("media-type")
      .More(0x44, "plain")
      .Attr(0x37, "", "")
      .More(0x34, "")  // a second collection value of media-col
      .Member("media-type")
      .More(0x44, "photo")
      .Attr(0x37, "", "")
      .Attr(0x44, "after", "still-read")
      .End();
  DecodeResult result = DecodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  const Attribute* media_col = result.response.find(kJobAttributesTag, "media-col");
  ASSERT_NE(media_col, nullptr);
  ASSERT_EQ(media_col->values.size(), 2u);
  const std::vector<Attribute>& members = media_col->values[0].members;
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].name, "media-size");
  ASSERT_EQ(members[0].values.size(), 1u);
  const std::vector<Attribute>& size = members[0].values[0].members;
  ASSERT_EQ(size.size(), 2u);
  EXPECT_EQ(size[0].name, "x-dimension");
  EXPECT_EQ(size[0].values[0].integer(), 21000);
  EXPECT_EQ(size[1].values[0].integer(), 29700);
  EXPECT_EQ(Texts(&members[1]), (std::vector<std::string>{"blue", "white"}));
  EXPECT_EQ(Texts(&members[2]), std::vector<std::string>{"plain"});
  EXPECT_EQ(Texts(&media_col->values[1].members[0]), std::vector<std::string>{"photo"});
  EXPECT_EQ(Texts(result.response.find(kJobAttributesTag, "after")),
            std::vector<std::string>{"still-read"});

  auto nested = [](int depth) {
    IppBytes deep;
    deep.Header(0, 1).U8(0x04).Attr(0x34, "deep", "");
    for (int i = 1; i < depth; ++i) deep.Member("inner").More(0x34, "");
    for (int i = 0; i < depth; ++i) deep.Attr(0x37, "", "");
    return deep.End();
  };
  EXPECT_TRUE(DecodeResponse(nested(kMaxCollectionDepth).bytes()).ok());
  IppBytes too_deep = nested(kMaxCollectionDepth + 1);
  result = DecodeResponse(too_deep.bytes());
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
    bytes.Header(0, 7).U8(0x04);  // 9 bytes: the group tag at 8
    return bytes;
  };
  std::vector<Case> cases;
  cases.push_back({"header cut", IppBytes().U8(1).U8(1).U16(0).U8(0), DecodeError::kTruncated, 0});
  cases.push_back({"no end tag", header(), DecodeError::kTruncated, 9});
  cases.push_back({"name length past the end", header().U8(0x44).U16(80).Raw("printer-state"),
                   DecodeError::kTruncated, 10});
  cases.push_back({"value length past the end",
                   header().U8(0x44).U16(1).Raw("a").U16(0xffff).Raw("abc").End(),
                   DecodeError::kTruncated, 13});
  cases.push_back(
      {"value length cut", header().U8(0x44).U16(1).Raw("a").U8(0), DecodeError::kTruncated, 13});
  cases.push_back({"name length cut", header().U8(0x21).U8(0), DecodeError::kTruncated, 10});
  cases.push_back({"integer cut inside",
                   header().Int(0x21, "n", 5).U8(0x21).U16(1).Raw("m").U16(4).U16(0),
                   DecodeError::kTruncated, 23});
  cases.push_back({"additional value first", header().More(0x44, "orphan").End(),
                   DecodeError::kAdditionalValueFirst, 9});
  cases.push_back({"additional value after a new group",
                   header().Attr(0x44, "a", "x").U8(0x02).More(0x44, "y").End(),
                   DecodeError::kAdditionalValueFirst, 17});
  cases.push_back({"reserved tag", header().U8(0x00), DecodeError::kReservedTag, 9});
  cases.push_back({"attribute before a group", IppBytes().Header(0, 1).Attr(0x44, "a", "x").End(),
                   DecodeError::kOutsideGroup, 8});
  cases.push_back(
      {"member outside a collection", header().Member("x").End(), DecodeError::kBadCollection, 9});
  cases.push_back({"end outside a collection", header().Attr(0x37, "", "").End(),
                   DecodeError::kBadCollection, 9});
  cases.push_back({"collection not ended",
                   header().Attr(0x34, "c", "").Member("m").More(0x21, "1234"),
                   DecodeError::kTruncated, 30});
  cases.push_back({"group inside a collection",
                   header().Attr(0x34, "c", "").Member("m").U8(0x02).End(),
                   DecodeError::kBadCollection, 21});
  cases.push_back({"value before any member",
                   header().Attr(0x34, "c", "").More(0x44, "x").Attr(0x37, "", "").End(),
                   DecodeError::kAdditionalValueFirst, 15});
  cases.push_back({"named value inside a collection",
                   header().Attr(0x34, "c", "").Attr(0x44, "named", "x").Attr(0x37, "", "").End(),
                   DecodeError::kBadCollection, 15});
  cases.push_back({"member without a name",
                   header().Attr(0x34, "c", "").Member("").Attr(0x37, "", "").End(),
                   DecodeError::kBadCollection, 15});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DecodeResult result = DecodeResponse(c.bytes.bytes());
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
  bytes.Header(0, 1)
      .U8(0x04)
      .Attr(0x44, "printer-state-reasons", "media-jam-error")
      .More(0x38, "reserved tag")
      .More(0x7f, std::string("\x40\0\0\x01"
                              "extension",
                              13))
      .More(0x44, "cover-open-warning")
      .Attr(0x52, "x-vendor", "unknown")  // named, unknown: no value kept
      .More(0x44, "known")
      .Attr(0x34, "col", "")
      .Member("m")
      .More(0x2f, "skip")
      .More(0x21, std::string("\0\0\0\x02", 4))
      .Attr(0x37, "", "")
      .End()
      .Raw("document data after the attributes");
  DecodeResult result = DecodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(Texts(result.response.find(kPrinterAttributesTag, "printer-state-reasons")),
            (std::vector<std::string>{"media-jam-error", "cover-open-warning"}));
  EXPECT_EQ(Texts(result.response.find(kPrinterAttributesTag, "x-vendor")),
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
  many.Header(0, 1).U8(0x04).Int(0x21, "marker-levels", -2);
  for (int i = 1; i < 1000; ++i) many.MoreInt(0x21, i);
  many.Attr(0x41, "single", "one").End();
  DecodeResult result = DecodeResponse(many.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  const Attribute* levels = result.response.find(kPrinterAttributesTag, "marker-levels");
  ASSERT_EQ(levels->values.size(), 1000u);
  EXPECT_EQ(levels->values[0].integer(), -2);
  EXPECT_EQ(levels->values[999].integer(), 999);
  EXPECT_EQ(Texts(result.response.find(kPrinterAttributesTag, "single")),
            std::vector<std::string>{"one"});

  // kMaxValues values pass; one more is refused where it starts.
  auto values = [](size_t count) {
    IppBytes bytes;
    bytes.Header(0, 1).U8(0x04).Attr(0x44, "k", "");
    for (size_t i = 1; i < count; ++i) bytes.More(0x44, "");
    return bytes.End();
  };
  // One attribute counts as one item beside its values.
  EXPECT_TRUE(DecodeResponse(values(kMaxValues - 1).bytes()).ok());
  result = DecodeResponse(values(kMaxValues).bytes());
  EXPECT_EQ(result.error, DecodeError::kTooManyValues);
  EXPECT_EQ(result.offset, 15u + (kMaxValues - 2) * 5);

  // A body of exactly 1 MiB is decoded; one byte more is refused unread.
  IppBytes full;
  full.Header(0, 1).U8(0x04).Attr(0x41, "printer-info", "x").End();
  full.Raw(std::string(kMaxResponseBytes - full.size(), 'd'));
  ASSERT_EQ(full.size(), kMaxResponseBytes);
  EXPECT_TRUE(DecodeResponse(full.bytes()).ok());
  full.U8('d');
  result = DecodeResponse(full.bytes());
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
  EXPECT_TRUE(DecodeResponse(buffer.body()).ok());
  EXPECT_FALSE(buffer.append(full.bytes().data(), 1));
  EXPECT_TRUE(buffer.refused());
  EXPECT_TRUE(buffer.body().empty());
  EXPECT_FALSE(buffer.append(full.bytes().data(), 0));
}

// Texts whose own structure lies read as empty; integers of the wrong size
// are no integers.
TEST(IppDecodeTest, ValueAccessorsCheckTheirOwnLengths) {
  Value text_with_language{kTextWithLanguageTag,
                           std::string("\0\x02"
                                       "en"
                                       "\0\x09"
                                       "short",
                                       9),
                           {}};
  EXPECT_EQ(text_with_language.text(), "");
  Value language_too_long{kNameWithLanguageTag,
                          std::string("\0\x09"
                                      "en",
                                      4),
                          {}};
  EXPECT_EQ(language_too_long.text(), "");
  Value good{kNameWithLanguageTag,
             std::string("\0\x02"
                         "en"
                         "\0\x02"
                         "ok",
                         8),
             {}};
  EXPECT_EQ(good.text(), "ok");
  Value short_integer{kIntegerTag, std::string("\0\0\x01", 3), {}};
  EXPECT_FALSE(short_integer.integer().has_value());
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
  IppBytes get_jobs;
  get_jobs.Header(0x000a, 0x01020304)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x48, "attributes-natural-language", "en")
      .Attr(0x45, "printer-uri", "ipp://localhost:8631/ipp/print")
      .Attr(0x42, "requesting-user-name", "alice")
      .Attr(0x44, "which-jobs", "not-completed")
      .Attr(0x44, "requested-attributes", "job-id")
      .More(0x44, "job-state")
      .More(0x44, "job-name")
      .End();
  EXPECT_EQ(EncodeGetJobs(target, 0x01020304), get_jobs.bytes());

  IppBytes get_job;
  get_job.Header(0x0009, 9)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x48, "attributes-natural-language", "en")
      .Attr(0x45, "printer-uri", "ipp://localhost:8631/ipp/print")
      .Int(0x21, "job-id", 42)
      .Attr(0x44, "requested-attributes", "job-state")
      .More(0x44, "job-state-reasons")
      .More(0x44, "job-name")
      .End();
  EXPECT_EQ(EncodeGetJobAttributes(RequestTarget{target.printer_uri, ""}, 9, 42), get_job.bytes());

  IppBytes by_uri;
  by_uri.Header(0x0009, 10)
      .U8(0x01)
      .Attr(0x47, "attributes-charset", "utf-8")
      .Attr(0x48, "attributes-natural-language", "en")
      .Attr(0x42, "requesting-user-name", "alice")
      .Attr(0x45, "job-uri", "ipp://localhost:8631/ipp/print/42")
      .Attr(0x44, "requested-attributes", "job-state")
      .More(0x44, "job-state-reasons")
      .More(0x44, "job-name")
      .End();
  EXPECT_EQ(EncodeGetJobAttributesByUri(target, 10, "ipp://localhost:8631/ipp/print/42"),
            by_uri.bytes());

  // Get-Printer-Attributes, read back through the decoder.
  DecodeResult result = DecodeResponse(EncodeGetPrinterAttributes(target, 77));
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.response.status_code, kGetPrinterAttributes);  // the operation id
  EXPECT_EQ(result.response.request_id, 77u);
  ASSERT_EQ(result.response.groups.size(), 1u);
  const std::vector<Attribute>& attributes = result.response.groups[0].attributes;
  ASSERT_EQ(attributes.size(), 5u);
  EXPECT_EQ(attributes[0].name, "attributes-charset");
  EXPECT_EQ(attributes[1].name, "attributes-natural-language");
  EXPECT_EQ(attributes[2].name, "printer-uri");
  EXPECT_EQ(attributes[3].name, "requesting-user-name");
  EXPECT_EQ(Texts(&attributes[4]),
            (std::vector<std::string>{"printer-state", "printer-state-reasons", "printer-name",
                                      "printer-info", "marker-names", "marker-colors",
                                      "marker-levels", "marker-low-levels", "marker-types",
                                      "printer-supply", "printer-supply-description"}));

  // A text IPP cannot carry is refused, not cut.
  EXPECT_TRUE(EncodeGetJobs(RequestTarget{std::string(70000, 'u'), ""}, 1).empty());
}

}  // namespace
}  // namespace ipp
}  // namespace bridge
