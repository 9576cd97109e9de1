// An anonymous pipe over the platform's stream handles (CreatePipe on
// Windows, pipe() natively), for tests of readers that block.
#ifndef PLATFORM_TEST_SUPPORT_PIPE_PAIR_H_
#define PLATFORM_TEST_SUPPORT_PIPE_PAIR_H_

#include <atomic>

#include "platform/byte_stream.h"

namespace testsupport {

class PipePair {
 public:
  // Creates the pipe; a pipe the system refuses fails the test (both ends
  // then stay kNoStream).
  PipePair();
  // Closes whichever ends are still open.
  ~PipePair();
  PipePair(const PipePair&) = delete;
  PipePair& operator=(const PipePair&) = delete;

  platform::StreamHandle readEnd() const { return read_; }
  platform::StreamHandle writeEnd() const { return write_.load(); }
  // Closes the write end once, from any thread: a reader blocked on the read
  // end then sees the end of the stream.
  void closeWriteEnd();

 private:
  platform::StreamHandle read_ = platform::kNoStream;
  std::atomic<platform::StreamHandle> write_{platform::kNoStream};
};

}  // namespace testsupport

#endif  // PLATFORM_TEST_SUPPORT_PIPE_PAIR_H_
