// A 16-byte identifier laid out like a Windows GUID: a 32-bit field, two
// 16-bit fields and eight bytes. Property type ids and the framework's class
// ids use it; the all-zero value means "none".
#ifndef FRAMEWORK_PROPERTIES_GUID_H_
#define FRAMEWORK_PROPERTIES_GUID_H_

#include <cstdint>
#include <cstring>

namespace vela {

struct Guid {
  std::uint32_t data1;
  std::uint16_t data2;
  std::uint16_t data3;
  std::uint8_t data4[8];
};

static_assert(sizeof(Guid) == 16, "a Guid is 16 bytes");

// Identifiers compare bytewise.
inline bool operator==(const Guid& a, const Guid& b) {
  return std::memcmp(&a, &b, sizeof(Guid)) == 0;
}
inline bool operator!=(const Guid& a, const Guid& b) {
  return !(a == b);
}
inline bool operator<(const Guid& a, const Guid& b) {
  return std::memcmp(&a, &b, sizeof(Guid)) < 0;
}

// The process-wide all-zero identifier, built on first use.
const Guid& nullGuid();

inline bool isNullGuid(const Guid& id) {
  return id == nullGuid();
}

}  // namespace vela

#endif  // FRAMEWORK_PROPERTIES_GUID_H_
