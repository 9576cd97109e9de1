// Byte streams of the printer channel: the status stream the monitor reads and
// the request stream it writes.
//
// A stream is an operating-system handle carried as a number, as it travels on
// a command line ("input=123"): a HANDLE's value on Windows, a file
// descriptor in the native build. On Windows the streams are named pipes (or
// any handle ReadFile and WriteFile accept); natively FIFOs, pipes or files
// stand in for them.
//
// All functions may be called from any thread; a handle is used by one thread
// at a time. A read blocked on one thread is released from another with
// platform::cancelSynchronousIo (platform/thread.h): the read then fails.
#ifndef PLATFORM_BYTE_STREAM_H_
#define PLATFORM_BYTE_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

using StreamHandle = std::intptr_t;

// The null handle ("no stream") and the invalid handle (what a failed open
// gives: INVALID_HANDLE_VALUE on Windows).
inline constexpr StreamHandle kNoStream = 0;
inline constexpr StreamHandle kInvalidStream = -1;

// True for every handle but the two above.
inline bool isUsableStream(StreamHandle handle) {
  return handle != kNoStream && handle != kInvalidStream;
}

// Turns a number from the configuration into a handle. The number is taken as
// a signed 32-bit value and sign-extended, so -1 and 0xFFFFFFFF both give the
// invalid handle.
inline StreamHandle streamFromNumber(std::int32_t number) {
  return static_cast<StreamHandle>(number);
}

// Opens an existing stream by name, for reading or for writing, without
// sharing and without waiting for the other end (a FIFO without a writer is
// opened at once; its first read then reports the end of the stream). Returns
// kInvalidStream when the stream cannot be opened (it does not exist, it is
// busy, access is denied).
StreamHandle openStreamForReading(const std::wstring& name);
StreamHandle openStreamForWriting(const std::wstring& name);

// Closes a handle; unusable handles are ignored.
void closeStream(StreamHandle handle);

// One read of at most count bytes. Returns false when the read fails, when it
// was interrupted by cancelSynchronousIo, and when the stream has ended (the
// writer closed it, or a file is at its end); otherwise stores the number of
// bytes read in *got (at least 1 natively; on Windows a pipe may deliver 0).
// A message longer than count, on a pipe read in message mode, arrives over
// several reads like any other bytes.
bool readSome(StreamHandle handle, void* destination, std::size_t count, std::size_t* got);

// Reads until exactly count bytes have arrived, however the writer split them.
// Returns false as soon as one read fails (see readSome); the bytes that did
// arrive are then in destination but count as lost.
bool readExactly(StreamHandle handle, void* destination, std::size_t count);

// One synchronous write of count bytes. Returns false when it fails; stores
// the number of bytes written in *written when given. A write to a stream
// whose reader has gone fails; it never ends the process.
bool writeOnce(StreamHandle handle, const void* source, std::size_t count,
               std::size_t* written = nullptr);

// Writes until all count bytes are written or a write fails.
bool writeAll(StreamHandle handle, const void* source, std::size_t count);

}  // namespace platform

#endif  // PLATFORM_BYTE_STREAM_H_
