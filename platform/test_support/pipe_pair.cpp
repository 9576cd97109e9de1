#include "platform/test_support/pipe_pair.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

#include <gtest/gtest.h>

namespace testsupport {

PipePair::PipePair() {
#ifdef _WIN32
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, nullptr, 0)) {
    ADD_FAILURE() << "CreatePipe failed with error " << GetLastError();
    return;
  }
  read_ = reinterpret_cast<platform::StreamHandle>(readEnd);
  write_ = reinterpret_cast<platform::StreamHandle>(writeEnd);
#else
  int ends[2] = {-1, -1};
  if (::pipe(ends) != 0) {
    ADD_FAILURE() << "pipe() failed with errno " << errno;
    return;
  }
  read_ = ends[0];
  write_ = ends[1];
#endif
}

PipePair::~PipePair() {
  platform::closeStream(read_);
  closeWriteEnd();
}

void PipePair::closeWriteEnd() {
  platform::closeStream(write_.exchange(platform::kNoStream));
}

}  // namespace testsupport
