// Fuzz target: any byte sequence as the status stream, read by the status
// stream reader's own loop (reads, header check, payload buffer, decoding,
// messages), each message delivered at once to a listener that reads every
// entry. The bytes reach the reader through a real file descriptor, so the
// reads are the reader's own. Run with -malloc_limit_mb=2: no record may make
// the reader allocate more than its one-mebibyte buffer (plus small change).
//
// The reader's loop runs on the fuzzer's thread and the broker delivers each
// message as it is posted, so that an input costs no thread and no wake-up:
// about ten times the executions per second of a run through the real
// threads, whose interplay the ThreadSanitizer build tests instead.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>

#include "channel/tarn_event_generator.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "framework/properties/property_holder.h"
#include "platform/debug_output.h"

namespace {

// Delivers each message as it is posted and counts the stops.
class CountingBroker : public quor::EventBroker {
 public:
  using quor::EventBroker::EventBroker;
  using quor::EventBroker::post;
  bool post(vela::counted_ptr<vela::IMessage> message) override {
    dispatch(message.get());
    return true;
  }
  bool stop(const vela::Guid* source, bool flag) override {
    ++stops;
    return quor::EventBroker::stop(source, flag);
  }
  int stops = 0;
};

class FuzzManager : public quor::AbstractInstanceManager {
 public:
  FuzzManager() : broker(this) { broker_ = &broker; }
  ~FuzzManager() override { broker.stopComponentThreads(); }
  CountingBroker broker;
};

// Reads every entry a status message may carry, as listeners do.
class ReadingListener : public quor::AbstractListener {
 public:
  ReadingListener() { setPointer(L"listener", static_cast<vela::IListener*>(this)); }
  const vela::Guid* getClassId() const override { return &vela::nullGuid(); }
  bool receive(vela::IMessage* message) override {
    const vela::IPropertyHolder* p = message->getProperties();
    std::uint64_t sum = 0;
    for (const wchar_t* key : {L"subcode", L"jobID", L"severity", L"status", L"oembufferSize"}) {
      sum += static_cast<std::uint32_t>(p->getInt(key, 0));
    }
    for (const wchar_t* key : {L"portName", L"printerName", L"docName"}) {
      if (const char* text = p->getString(key, nullptr)) sum += std::strlen(text);
      if (const wchar_t* text = p->getWString(key, nullptr)) sum += std::wcslen(text);
    }
    const auto* block = static_cast<const std::uint8_t*>(p->getPointer(L"oemMessages", nullptr));
    const std::int32_t size = p->getInt(L"oembufferSize", 0);
    // The whole block must be there (the sanitizer checks each byte read).
    for (std::int32_t i = 0; block != nullptr && i < size; ++i) sum += block[i];
    checksum += sum;
    return false;
  }
  std::uint64_t checksum = 0;
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
    manager.broker.add(new ReadingListener);
    vela::PropertyHolder parameters;
    parameters.setWString("input", std::to_wstring(fd).c_str());
    quor::TarnEventGenerator reader(&parameters, &manager);
    // The loop itself, on this thread: it returns when the bytes run out or
    // go wrong, and must stop the broker exactly once on the way. Every
    // message is delivered (and released) as it is posted, so the backlog
    // never fills.
    reader.run();
    if (manager.broker.stops != 1) std::abort();
  }
  close(fd);
  return 0;
}
