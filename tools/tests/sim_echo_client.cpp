// Reads status records from pipe=NAME (NAME.status) or input=N, answers each
// with a request of the same class and subcode on NAME.requests or output=M,
// and exits with the number of whole records read once the stream ends.
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "channel/status_record.h"
#include "platform/byte_stream.h"

int wmain(int argc, wchar_t** argv) {
  platform::StreamHandle input = platform::kNoStream, output = platform::kNoStream;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg.rfind(L"pipe=", 0) == 0) {
      input = platform::openStreamForReading(arg.substr(5) + L".status");
      output = platform::openStreamForWriting(arg.substr(5) + L".requests");
    } else if (arg.rfind(L"input=", 0) == 0) {
      input = platform::streamFromNumber(static_cast<std::int32_t>(_wtoi(arg.c_str() + 6)));
    } else if (arg.rfind(L"output=", 0) == 0) {
      output = platform::streamFromNumber(static_cast<std::int32_t>(_wtoi(arg.c_str() + 7)));
    }
  }
  int records = 0;
  std::vector<std::uint8_t> payload;
  for (;;) {
    std::uint8_t header[tarn::kHeaderSize];
    tarn::RecordHeader decoded;
    if (!platform::readExactly(input, header, sizeof header) ||
        tarn::decodeHeader(header, sizeof header, &decoded) != tarn::HeaderResult::kOk) {
      break;
    }
    if (decoded.length > (64u << 20)) break;
    payload.resize(decoded.length);
    if (!platform::readExactly(input, payload.data(), payload.size())) break;
    ++records;
    const auto request = tarn::encodeRequest(decoded.recordClass, decoded.subcode);
    platform::writeAll(output, request.data(), request.size());
  }
  return records;
}
