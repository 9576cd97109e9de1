// Hand-built IPP messages for the tests: each call appends the bytes of one
// wire element as RFC 8010 section 3 lays them out, so a test reads like the
// protocol's own examples.
#ifndef BRIDGE_TESTS_IPP_BYTES_H_
#define BRIDGE_TESTS_IPP_BYTES_H_

#include <cstdint>
#include <string_view>
#include <vector>

namespace bridge {
namespace testing {

class IppBytes {
 public:
  IppBytes& u8(int value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    return *this;
  }
  IppBytes& u16(int value) { return u8(value >> 8).u8(value); }
  IppBytes& u32(uint32_t value) {
    return u8(static_cast<int>(value >> 24)).u8(static_cast<int>(value >> 16))
        .u8(static_cast<int>(value >> 8)).u8(static_cast<int>(value));
  }
  IppBytes& raw(std::string_view text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  // version 1.1, status (or operation) and request id.
  IppBytes& header(int status, uint32_t requestId) {
    return u8(1).u8(1).u16(status).u32(requestId);
  }
  // tag, name-length, name, value-length, value.
  IppBytes& attr(int tag, std::string_view name, std::string_view value) {
    return u8(tag).u16(static_cast<int>(name.size())).raw(name)
        .u16(static_cast<int>(value.size())).raw(value);
  }
  IppBytes& integer(int tag, std::string_view name, int32_t value) {
    return u8(tag).u16(static_cast<int>(name.size())).raw(name).u16(4)
        .u32(static_cast<uint32_t>(value));
  }
  // An additional value: the same with an empty name.
  IppBytes& more(int tag, std::string_view value) { return attr(tag, "", value); }
  IppBytes& moreInteger(int tag, int32_t value) { return integer(tag, "", value); }
  IppBytes& member(std::string_view name) { return attr(0x4a, "", name); }
  IppBytes& end() { return u8(0x03); }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace testing
}  // namespace bridge

#endif  // BRIDGE_TESTS_IPP_BYTES_H_
