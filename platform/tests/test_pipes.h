// Pipes for tests of the stream layer and its users.
//
// On Windows these are real named pipes, served the way the port monitor
// serves them (CreateNamedPipeW, then a client end opened by name); natively
// FIFOs in the temporary folder stand in for them. Header-only so that the
// tests of every folder can share it.
#ifndef PLATFORM_TESTS_TEST_PIPES_H_
#define PLATFORM_TESTS_TEST_PIPES_H_

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/byte_stream.h"
#include "platform/text.h"

namespace platform::testing {

// A fresh name for a stream pair, unique in this machine for this process.
inline std::wstring uniquePipeBase(const char* purpose) {
  static std::atomic<int> counter{0};
  const std::string tail = std::string("monitor-test-") + purpose + "-" +
#ifdef _WIN32
                           std::to_string(GetCurrentProcessId())
#else
                           std::to_string(::getpid())
#endif
                           + "-" + std::to_string(counter.fetch_add(1));
#ifdef _WIN32
  return L"\\\\.\\pipe\\" + utf8ToWide(tail);
#else
  const char* tmp = ::getenv("TMPDIR");
  return utf8ToWide(std::string(tmp && *tmp ? tmp : "/tmp") + "/" + tail);
#endif
}

// A fresh path of an ordinary file in the temporary folder.
inline std::wstring uniqueTempFile(const char* purpose) {
  static std::atomic<int> counter{0};
  const std::string tail = std::string("monitor-test-") + purpose + "-" +
#ifdef _WIN32
                           std::to_string(GetCurrentProcessId())
#else
                           std::to_string(::getpid())
#endif
                           + "-" + std::to_string(counter.fetch_add(1)) + ".bin";
#ifdef _WIN32
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder + utf8ToWide(tail);
#else
  const char* tmp = ::getenv("TMPDIR");
  return utf8ToWide(std::string(tmp && *tmp ? tmp : "/tmp") + "/" + tail);
#endif
}

// The serving end of one stream, created under `name` before any client opens
// it. `outbound`: the server writes and the client reads (the status stream);
// otherwise the client writes and the server reads (the request stream).
// Returns kInvalidStream on failure.
inline StreamHandle serveStream(const std::wstring& name, bool outbound) {
#ifdef _WIN32
  HANDLE pipe = CreateNamedPipeW(
      name.c_str(), outbound ? PIPE_ACCESS_OUTBOUND : PIPE_ACCESS_INBOUND,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  return reinterpret_cast<StreamHandle>(pipe);
#else
  const std::string path = wideToUtf8(name);
  ::unlink(path.c_str());
  if (::mkfifo(path.c_str(), 0600) != 0) return kInvalidStream;
  // The server of the status stream holds both ends, so that it can write
  // before the client opens and the client sees the end of the stream once
  // the server closes. The server of the request stream only reads.
  if (!outbound) return openStreamForReading(name);
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  return fd < 0 ? kInvalidStream : fd;
#endif
}

// Accepts the client of a served stream (after the client opened it).
inline bool acceptClient(StreamHandle server) {
#ifdef _WIN32
  if (ConnectNamedPipe(reinterpret_cast<HANDLE>(server), nullptr)) return true;
  return GetLastError() == ERROR_PIPE_CONNECTED;
#else
  (void)server;
  return true;
#endif
}

// Removes what serveStream left in the file system.
inline void unserveStream(const std::wstring& name) {
#ifdef _WIN32
  (void)name;
#else
  ::unlink(wideToUtf8(name).c_str());
#endif
}

// Number of bytes waiting to be read, without reading them; -1 on failure.
inline long long bytesWaiting(StreamHandle handle) {
#ifdef _WIN32
  DWORD available = 0;
  if (!PeekNamedPipe(reinterpret_cast<HANDLE>(handle), nullptr, 0, nullptr, &available, nullptr)) {
    return -1;
  }
  return available;
#else
  int available = 0;
  if (::ioctl(static_cast<int>(handle), FIONREAD, &available) != 0) return -1;
  return available;
#endif
}

// A connected stream: the server end and a client end opened by name, as the
// monitor opens it.
struct ConnectedStream {
  std::wstring name;
  StreamHandle server = kInvalidStream;
  StreamHandle client = kInvalidStream;

  bool ok() const { return isUsableStream(server) && isUsableStream(client); }
  void closeServer() {
    closeStream(server);
    server = kInvalidStream;
  }
  void closeClient() {
    closeStream(client);
    client = kInvalidStream;
  }
  ~ConnectedStream() {
    closeServer();
    closeClient();
    unserveStream(name);
  }
};

// Serves a stream under a fresh name and connects a client to it. For an
// outbound stream the server writes what the client reads.
inline void connectStream(ConnectedStream* stream, const char* purpose, bool outbound) {
  stream->name = uniquePipeBase(purpose);
  stream->server = serveStream(stream->name, outbound);
  if (!isUsableStream(stream->server)) return;
  stream->client =
      outbound ? openStreamForReading(stream->name) : openStreamForWriting(stream->name);
  if (isUsableStream(stream->client) && !acceptClient(stream->server)) stream->closeClient();
}

}  // namespace platform::testing

#endif  // PLATFORM_TESTS_TEST_PIPES_H_
