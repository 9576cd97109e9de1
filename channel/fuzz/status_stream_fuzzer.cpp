// Fuzz target: any byte sequence as the status stream, read by the status
// stream reader's own loop (reads, header check, payload buffer, decoding,
// messages). The bytes reach it through a real file descriptor, so the reads
// are the reader's own. Run with -malloc_limit_mb=2: no record may make the
// reader allocate more than its one-mebibyte buffer (plus small change).
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "channel/tarn_event_generator.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "framework/properties/property_holder.h"
#include "platform/debug_output.h"

namespace {

class CountingBroker : public quor::EventBroker {
 public:
  using quor::EventBroker::EventBroker;
  bool stop(const vela::Guid* source, bool flag) override {
    ++stops;
    return quor::EventBroker::stop(source, flag);
  }
  int stops = 0;
};

class FuzzManager : public quor::AbstractInstanceManager {
 public:
  FuzzManager() : broker(this) { broker_ = &broker; }
  CountingBroker broker;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The trace of every ended stream would drown the fuzzer's own output.
  static platform::ScopedDebugOutputCapture quiet([](const std::string&) {});
  const int fd = memfd_create("status", MFD_CLOEXEC);
  if (fd < 0) std::abort();
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = write(fd, data + done, size - done);
    if (n <= 0) std::abort();
    done += static_cast<std::size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  {
    FuzzManager manager;
    vela::PropertyHolder parameters;
    parameters.setWString("input", std::to_wstring(fd).c_str());
    quor::TarnEventGenerator reader(&parameters, &manager);
    // The loop itself, on this thread: it returns when the bytes run out or
    // go wrong, and must stop the broker exactly once on the way.
    reader.run();
    if (manager.broker.stops != 1) std::abort();
    // The queued messages go with the broker.
  }
  close(fd);
  return 0;
}
