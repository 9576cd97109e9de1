#include "dialog/text_format.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace textformat {

std::size_t utf8CharLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

std::size_t ansiCharLength(unsigned char lead) {
#ifdef _WIN32
  static const bool utf8 = GetACP() == CP_UTF8;
  if (utf8) return utf8CharLength(lead);
  return IsDBCSLeadByte(lead) ? 2 : 1;
#else
  return utf8CharLength(lead);
#endif
}

std::size_t wholeCharacterPrefix(std::string_view text, std::size_t maxBytes,
                                 CharLength charLength) {
  std::size_t end = 0;
  while (end < text.size()) {
    const std::size_t length = charLength(static_cast<unsigned char>(text[end]));
    // A character whose trail bytes are missing at the end of the text is no
    // whole character either.
    if (length > text.size() - end || length > maxBytes - end) break;
    end += length;
  }
  return end;
}

std::string format(std::string_view format, const std::vector<std::string_view>& arguments,
                   CharLength charLength, bool* cut) {
  constexpr std::size_t kMaxText = kLimit - 1;
  std::string out;
  out.reserve(kMaxText + 1);
  std::size_t nextArgument = 0;
  // Appends until the text is one byte past the limit: enough to know that
  // it must be cut, and the cut itself needs nothing beyond it.
  const auto append = [&out](std::string_view piece) {
    if (out.size() > kMaxText) return;
    out.append(piece.substr(0, kMaxText + 1 - out.size()));
  };
  std::size_t at = 0;
  while (at < format.size() && out.size() <= kMaxText) {
    const char c = format[at];
    if (c == '%' && at + 1 < format.size()) {
      const char next = format[at + 1];
      if (next == 's') {
        if (nextArgument < arguments.size()) append(arguments[nextArgument]);
        ++nextArgument;
        at += 2;
        continue;
      }
      if (next == '%') {
        append("%");
        at += 2;
        continue;
      }
    }
    std::size_t length = charLength(static_cast<unsigned char>(c));
    if (length > format.size() - at) length = format.size() - at;
    append(format.substr(at, length));
    at += length;
  }
  const std::size_t keep = wholeCharacterPrefix(out, kMaxText, charLength);
  const bool wasCut = keep < out.size();
  out.resize(keep);
  if (cut != nullptr) *cut = wasCut;
  return out;
}

}  // namespace textformat
