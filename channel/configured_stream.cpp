#include "channel/configured_stream.h"

#include <string>

#include "platform/debug_output.h"
#include "platform/text.h"

namespace quor {

ConfiguredStream ConfiguredStream::open(const vela::IPropertyHolder& parameters,
                                        const char* numberKey, const wchar_t* suffix,
                                        Direction direction, const char* owner) {
  ConfiguredStream stream;
  const platform::StreamHandle given =
      platform::streamFromNumber(parameters.getInt(numberKey, 0));
  stream.borrowed_ = platform::BorrowedStream(given);
  if (platform::isUsableStream(given)) return stream;
  const wchar_t* pipe = parameters.getWString("pipe", nullptr);
  if (pipe == nullptr || *pipe == L'\0') return stream;
  const std::wstring name = std::wstring(pipe) + suffix;
  const platform::StreamHandle opened = direction == Direction::kReading
                                            ? platform::openStreamForReading(name)
                                            : platform::openStreamForWriting(name);
  stream.owned_.reset(opened);
  if (!stream.owned_) {
    stream.borrowed_ = platform::BorrowedStream(opened);
    platform::debugOutput(
        ("[" + std::string(owner) + "] cannot open " + platform::wideToUtf8(name) + "\n").c_str());
  }
  return stream;
}

}  // namespace quor
