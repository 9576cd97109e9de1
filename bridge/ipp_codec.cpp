#include "bridge/ipp_codec.h"

namespace bridge {
namespace ipp {

const char* const kPrinterAttributesRequested[] = {
    "printer-state",  "printer-state-reasons", "printer-name",
    "printer-info",   "marker-names",          "marker-colors",
    "marker-levels",  "marker-low-levels",     "marker-types",
    "printer-supply", "printer-supply-description"};
const size_t kPrinterAttributesRequestedCount =
    sizeof(kPrinterAttributesRequested) / sizeof(kPrinterAttributesRequested[0]);

std::optional<int32_t> Value::integer() const { return std::nullopt; }
std::string_view Value::text() const { return {}; }
const Attribute* AttributeGroup::find(std::string_view) const { return nullptr; }
const Attribute* Response::find(uint8_t, std::string_view) const { return nullptr; }
DecodeResult DecodeResponse(const uint8_t*, size_t) { return {}; }
std::vector<uint8_t> EncodeGetPrinterAttributes(const RequestTarget&, uint32_t) { return {}; }
std::vector<uint8_t> EncodeGetJobAttributes(const RequestTarget&, uint32_t, int32_t) { return {}; }
std::vector<uint8_t> EncodeGetJobAttributesByUri(const RequestTarget&, uint32_t,
                                                 const std::string&) { return {}; }
std::vector<uint8_t> EncodeGetJobs(const RequestTarget&, uint32_t) { return {}; }
bool ResponseBuffer::append(const uint8_t*, size_t) { return false; }
bool ResponseBuffer::expect(uint64_t) { return false; }
void ResponseBuffer::clear() {}

}  // namespace ipp
}  // namespace bridge
