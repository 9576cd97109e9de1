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
  IppBytes& U8(int value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    return *this;
  }
  IppBytes& U16(int value) { return U8(value >> 8).U8(value); }
  IppBytes& U32(uint32_t value) {
    return U8(static_cast<int>(value >> 24))
        .U8(static_cast<int>(value >> 16))
        .U8(static_cast<int>(value >> 8))
        .U8(static_cast<int>(value));
  }
  IppBytes& Raw(std::string_view text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  // version 1.1, status (or operation) and request id.
  IppBytes& Header(int status, uint32_t request_id) {
    return U8(1).U8(1).U16(status).U32(request_id);
  }
  // tag, name-length, name, value-length, value.
  IppBytes& Attr(int tag, std::string_view name, std::string_view value) {
    return U8(tag)
        .U16(static_cast<int>(name.size()))
        .Raw(name)
        .U16(static_cast<int>(value.size()))
        .Raw(value);
  }
  IppBytes& Int(int tag, std::string_view name, int32_t value) {
    return U8(tag)
        .U16(static_cast<int>(name.size()))
        .Raw(name)
        .U16(4)
        .U32(static_cast<uint32_t>(value));
  }
  // An additional value: the same with an empty name.
  IppBytes& More(int tag, std::string_view value) { return Attr(tag, "", value); }
  IppBytes& MoreInt(int tag, int32_t value) { return Int(tag, "", value); }
  IppBytes& Member(std::string_view name) { return Attr(0x4a, "", name); }
  IppBytes& End() { return U8(0x03); }

  const std::vector<uint8_t>& bytes() const { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace testing
}  // namespace bridge

#endif  // BRIDGE_TESTS_IPP_BYTES_H_
