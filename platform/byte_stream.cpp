#include "platform/byte_stream.h"

namespace platform {

bool readExactly(StreamHandle handle, void* destination, std::size_t count) {
  auto* out = static_cast<unsigned char*>(destination);
  std::size_t done = 0;
  while (done < count) {
    std::size_t got = 0;
    if (!readSome(handle, out + done, count - done, &got)) return false;
    done += got;
  }
  return true;
}

bool writeAll(StreamHandle handle, const void* source, std::size_t count) {
  const auto* in = static_cast<const unsigned char*>(source);
  std::size_t done = 0;
  while (done < count) {
    std::size_t written = 0;
    if (!writeOnce(handle, in + done, count - done, &written)) return false;
    // A write that takes nothing would repeat forever.
    if (written == 0) return false;
    done += written;
  }
  return true;
}

}  // namespace platform
