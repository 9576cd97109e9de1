#include "platform/byte_stream.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include "platform/text.h"

namespace platform {

namespace {

int toFd(StreamHandle handle) {
  return static_cast<int>(handle);
}

// Opens without blocking on a FIFO whose other end is not open yet, then
// makes the descriptor blocking, as a Windows pipe handle is.
StreamHandle openStream(const std::wstring& name, int mode) {
  const std::string path = wideToUtf8(name);
  const int fd = ::open(path.c_str(), mode | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return kInvalidStream;
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
    ::close(fd);
    return kInvalidStream;
  }
  return fd;
}

}  // namespace

StreamHandle openStreamForReading(const std::wstring& name) {
  return openStream(name, O_RDONLY);
}

StreamHandle openStreamForWriting(const std::wstring& name) {
  return openStream(name, O_WRONLY);
}

void closeStream(StreamHandle handle) {
  if (isUsableStream(handle)) ::close(toFd(handle));
}

bool readSome(StreamHandle handle, void* destination, std::size_t count, std::size_t* got) {
  *got = 0;
  if (!isUsableStream(handle)) return false;
  if (count == 0) return true;
  // Not repeated on EINTR: an interrupted read is how cancelSynchronousIo
  // releases a reader, and it fails as an aborted ReadFile does.
  const ssize_t n = ::read(toFd(handle), destination, count);
  // No bytes from a blocking descriptor means the writer has gone or the
  // file has ended.
  if (n <= 0) return false;
  *got = static_cast<std::size_t>(n);
  return true;
}

bool writeOnce(StreamHandle handle, const void* source, std::size_t count, std::size_t* written) {
  if (written) *written = 0;
  if (!isUsableStream(handle)) return false;
  // A write to a pipe without a reader raises SIGPIPE, which would end the
  // process. Block it on this thread for the write and take the one the
  // write raised back afterwards, leaving the process's dispositions alone.
  sigset_t pipe_only, previous, pending;
  sigemptyset(&pipe_only);
  sigaddset(&pipe_only, SIGPIPE);
  sigemptyset(&pending);
  sigpending(&pending);
  const bool was_pending = sigismember(&pending, SIGPIPE) == 1;
  pthread_sigmask(SIG_BLOCK, &pipe_only, &previous);
  ssize_t n;
  do {
    n = ::write(toFd(handle), source, count);
  } while (n < 0 && errno == EINTR);
  if (n < 0 && errno == EPIPE && !was_pending) {
    const timespec no_wait = {0, 0};
    while (sigtimedwait(&pipe_only, nullptr, &no_wait) < 0 && errno == EINTR) {
    }
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  if (n < 0) return false;
  if (written) *written = static_cast<std::size_t>(n);
  return true;
}

}  // namespace platform
