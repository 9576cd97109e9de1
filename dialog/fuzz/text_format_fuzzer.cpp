// Fuzz target: the dialog's text formatter against the plain reading of its
// rule. The first byte chooses the code page (UTF-8, or a double-byte code
// page whose lead bytes are 0x81 to 0xFE, as 936); the rest is the format and
// up to seven arguments, separated by 0x1F bytes. The formatter must give
// exactly what substituting every "%s" and "%%" into the whole text and then
// cutting it to whole characters within the limit gives, say whether it cut,
// and never read an argument as a format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "dialog/text_format.h"

namespace {

std::size_t doubleByteLength(unsigned char lead) {
  return lead >= 0x81 && lead <= 0xFE ? 2 : 1;
}

std::string substituteThenCut(std::string_view format, const std::vector<std::string_view>& args,
                              textformat::CharLength charLength, std::size_t* wholeSize) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t at = 0; at < format.size();) {
    if (format[at] == '%' && at + 1 < format.size()) {
      if (format[at + 1] == 's') {
        if (next < args.size()) out.append(args[next]);
        ++next;
        at += 2;
        continue;
      }
      if (format[at + 1] == '%') {
        out += '%';
        at += 2;
        continue;
      }
    }
    std::size_t length = charLength(static_cast<unsigned char>(format[at]));
    if (length > format.size() - at) length = format.size() - at;
    out.append(format.substr(at, length));
    at += length;
  }
  *wholeSize = out.size();
  out.resize(textformat::wholeCharacterPrefix(out, textformat::kLimit - 1, charLength));
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const textformat::CharLength charLength =
      data[0] & 1 ? doubleByteLength : textformat::utf8CharLength;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  std::vector<std::string_view> parts;
  for (std::size_t start = 0;;) {
    const std::size_t end = input.find('\x1f', start);
    if (end == std::string_view::npos || parts.size() == 7) {
      parts.push_back(input.substr(start));
      break;
    }
    parts.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  const std::string_view format = parts.front();
  const std::vector<std::string_view> arguments(parts.begin() + 1, parts.end());

  bool cut = false;
  const std::string result = textformat::format(format, arguments, charLength, &cut);
  std::size_t wholeSize = 0;
  const std::string expected = substituteThenCut(format, arguments, charLength, &wholeSize);
  if (result != expected) std::abort();
  if (result.size() > textformat::kLimit - 1) std::abort();
  if (textformat::wholeCharacterPrefix(result, SIZE_MAX, charLength) != result.size()) std::abort();
  if (cut != (wholeSize != result.size())) std::abort();
  return 0;
}
