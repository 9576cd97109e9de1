#include "platform/byte_stream.h"

#include <windows.h>

namespace platform {

namespace {

HANDLE toHandle(StreamHandle handle) {
  return reinterpret_cast<HANDLE>(handle);
}

StreamHandle fromHandle(HANDLE handle) {
  return reinterpret_cast<StreamHandle>(handle);
}

// The largest count one ReadFile or WriteFile call is given.
DWORD clampCount(std::size_t count) {
  return count > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(count);
}

}  // namespace

// The streams are pipes another process serves. Whoever serves the name
// (the port monitor, or a process that took the name before it) may ask to
// act as this program's user; at the identification level it learns who the
// user is and can do nothing as the user. Wine 8 does not model the level (a
// server's ImpersonateNamedPipeClient gets an impersonation token whatever
// the client passed), so no test under Wine can see this; on Windows it holds.
constexpr DWORD kIdentifyOnly = SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

StreamHandle openStreamForReading(const std::wstring& name) {
  return fromHandle(
      CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, kIdentifyOnly, nullptr));
}

StreamHandle openStreamForWriting(const std::wstring& name) {
  return fromHandle(
      CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, kIdentifyOnly, nullptr));
}

void closeStream(StreamHandle handle) {
  if (isUsableStream(handle)) CloseHandle(toHandle(handle));
}

bool readSome(StreamHandle handle, void* destination, std::size_t count, std::size_t* got) {
  *got = 0;
  DWORD read = 0;
  // On a pipe read in message mode, ERROR_MORE_DATA says that the bytes
  // arrived and the rest of the message follows with the next read.
  if (!ReadFile(toHandle(handle), destination, clampCount(count), &read, nullptr) &&
      GetLastError() != ERROR_MORE_DATA) {
    return false;
  }
  // A pipe may complete a read with no bytes (a zero-length write) and the
  // next read waits for more; a file at its end answers every read with no
  // bytes at once, so asking again would spin forever.
  if (read == 0 && count > 0 && GetFileType(toHandle(handle)) == FILE_TYPE_DISK) return false;
  *got = read;
  return true;
}

bool writeOnce(StreamHandle handle, const void* source, std::size_t count, std::size_t* written) {
  DWORD done = 0;
  const BOOL ok = WriteFile(toHandle(handle), source, clampCount(count), &done, nullptr);
  if (written) *written = done;
  return ok != FALSE;
}

}  // namespace platform
