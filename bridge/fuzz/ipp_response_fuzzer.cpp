// Fuzz target: any bytes as an IPP response body. Each input is decoded, and
// what the decoder answers must keep its own promises: a refusal names an
// offset inside the body and leaves no attributes; an accepted body yields a
// tree within the limits (depth, number of values, no value longer than the
// wire allows, no more bytes than the body holds) with only the tags that
// belong where they stand. The decoded response then goes through the
// printer snapshot and the choice of a status code, which must choose only
// codes of the table. (The response buffer that collects a body up to the
// cap is left to the unit tests: filling a mebibyte under AddressSanitizer
// costs some 17 ms, a hundred times a decode.)
//
// Run with -malloc_limit_mb=2 and -max_len=1048576: a body may be as large
// as the 1 MiB cap, and no list of the decoded form may grow past 1 MiB (a
// vector that does asks for twice its size at once: a crash). libFuzzer's
// own copy of an input of max_len is exactly 1 MiB, so the limit cannot be 1.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "bridge/ipp_codec.h"
#include "bridge/printer_status.h"

namespace {

using bridge::ipp::Attribute;
using bridge::ipp::Value;

struct Totals {
  size_t items = 0;
  size_t bytes = 0;
};

void check(bool condition) {
  if (!condition) std::abort();
}

void checkAttributes(const std::vector<Attribute>& attributes, int depth, Totals* totals);

void checkValue(const Value& value, int depth, Totals* totals) {
  ++totals->items;
  totals->bytes += value.bytes.size();
  check(value.bytes.size() <= 0xffff);
  // Tags that structure the body never arrive as values.
  check(value.tag > bridge::ipp::kLastDelimiterTag);
  check(value.tag != bridge::ipp::kMemberAttrNameTag);
  check(value.tag != bridge::ipp::kEndCollectionTag);
  check(value.tag != bridge::ipp::kExtensionTag);
  std::string_view text = value.text();
  if (!text.empty()) {
    check(text.data() >= value.bytes.data() &&
          text.data() + text.size() <= value.bytes.data() + value.bytes.size());
  }
  if (value.tag == bridge::ipp::kBegCollectionTag) {
    check(depth <= bridge::ipp::kMaxCollectionDepth);
    check(value.bytes.empty());
    checkAttributes(value.members, depth + 1, totals);
  } else {
    check(value.members.empty());
  }
}

void checkAttributes(const std::vector<Attribute>& attributes, int depth, Totals* totals) {
  for (const Attribute& attribute : attributes) {
    ++totals->items;
    totals->bytes += attribute.name.size();
    check(!attribute.name.empty() && attribute.name.size() <= 0xffff);
    for (const Value& value : attribute.values) checkValue(value, depth, totals);
  }
}

void checkChoice(const bridge::StatusChoice& choice) {
  if (!choice.code) return;
  static const uint32_t kCodes[] = {42000, 40021, 40020, 41000, 10300, 10301, 10302,
                                    10303, 10307, 11011, 11010, 10209, 10210, 10211,
                                    10212, 10217, 10023, 10001};
  bool known = false;
  for (uint32_t code : kCodes) known = known || *choice.code == code;
  check(known);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  bridge::ipp::DecodeResult result = bridge::ipp::decodeResponse(data, size);
  if (!result.ok()) {
    check(result.offset <= size);
    check(result.message.find("at byte " + std::to_string(result.offset)) != std::string::npos);
    check(result.response.groups.empty());
  } else {
    Totals totals;
    for (const bridge::ipp::AttributeGroup& group : result.response.groups) {
      check(group.tag >= 1 && group.tag <= bridge::ipp::kLastDelimiterTag &&
            group.tag != bridge::ipp::kEndOfAttributesTag);
      checkAttributes(group.attributes, 1, &totals);
    }
    check(totals.items <= bridge::ipp::kMaxValues);
    check(totals.bytes <= size);

    bridge::PrinterSnapshot printer = bridge::readPrinterSnapshot(result.response);
    for (const std::string& reason : printer.reasons) check(!reason.empty() && reason != "none");
    std::vector<bridge::JobSnapshot> jobs = bridge::readJobs(result.response);
    std::optional<int32_t> oldest = bridge::oldestJobNotCompleted(jobs);
    check(!oldest || *oldest > 0);
    bridge::JobState jobState = bridge::readJobSnapshot(result.response).state;
    checkChoice(bridge::chooseStatusCode(printer, jobState));
    bridge::JobStatusMemory memory;
    for (int poll = 0; poll < 2; ++poll) {
      std::optional<uint32_t> sent = memory.update(printer, jobState);
      // The same snapshot twice: the second poll changes nothing.
      check(poll == 0 || !sent);
      checkChoice(memory.lastChoice());
    }
  }

  // A body above the cap is refused without being read: the size alone
  // decides (AddressSanitizer would see a read past the input).
  check(bridge::ipp::decodeResponse(data, size + bridge::ipp::kMaxResponseBytes + 1).error ==
        bridge::ipp::DecodeError::kTooLarge);
  return 0;
}
