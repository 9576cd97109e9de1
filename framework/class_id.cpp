#include "framework/class_id.h"

#include <cstdio>

#include "platform/text.h"

namespace quor {

std::string classIdText(const ClassId& id) {
  // At most 2 + 8 + 3 * (1 + 4) + 16 characters.
  char text[64];
  int length = std::snprintf(text, sizeof text, "{%x-%x-%x-", static_cast<unsigned>(id.data1),
                             static_cast<unsigned>(id.data2), static_cast<unsigned>(id.data3));
  for (std::uint8_t byte : id.data4) {
    length += std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "%x",
                            static_cast<unsigned>(byte));
  }
  std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "}");
  return text;
}

std::wstring classIdWideText(const ClassId& id) {
  return platform::utf8ToWide(classIdText(id));
}

}  // namespace quor
