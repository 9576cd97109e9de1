// The status reader's messages that wait for delivery, bounded by the memory
// they hold rather than by their number.
//
// While the main thread is inside a loop of its own (a link's message box, a
// drag of an alert) nothing is delivered, and every record the port monitor
// writes meanwhile waits in the broker's queue as a message. Each message
// takes a Charge for the bytes it holds (kPauseBytes of them is some 30,000
// status records); while the charges add up to kPauseBytes or more the
// reader stops reading until delivery has brought them down to
// kResumeBytes, and the port monitor's further writes wait in the pipe. The
// OEM blocks of class-1 records have a cap of their own within that
// (kOemBytes): a block beyond it is dropped, and its record is delivered
// without it.
//
// A reader that merely runs ahead of a main thread that is delivering is
// held much earlier: at kSteadyBytes it waits (at most kSteadyWaitMs) for
// delivery to bring the backlog down to kSteadyResumeBytes. A queue that
// small stays in the processor's caches, which a flood of records through a
// working main thread needs (with queues of 16 MiB it moved a third as many
// records a second). When that wait runs out, the main thread is held, and
// the reader reads on, up to kPauseBytes, until delivery has caught up.
//
//   auto backlog = std::make_shared<StatusBacklog>();
//   backlog->waitForRoom([&] { return stopRequested(); });  // reader thread
//   StatusBacklog::Charge charge = StatusBacklog::charge(backlog, bytes);
//   ... the message keeps `charge` until it is destroyed, on any thread.
//
// Threads: one reader thread charges and waits; charges are returned on any
// thread (where the message dies, normally the main thread); wake() from any
// thread. The counters are atomic; no lock is held.
#ifndef CHANNEL_STATUS_BACKLOG_H_
#define CHANNEL_STATUS_BACKLOG_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/wake_signal.h"

namespace quor {

class StatusBacklog {
 public:
  static constexpr std::uint64_t kPauseBytes = 16 * 1024 * 1024;
  static constexpr std::uint64_t kResumeBytes = 8 * 1024 * 1024;
  static constexpr std::uint64_t kOemBytes = 4 * 1024 * 1024;
  static constexpr std::uint64_t kSteadyBytes = 1024 * 1024;
  static constexpr std::uint64_t kSteadyResumeBytes = 512 * 1024;
  static constexpr std::uint32_t kSteadyWaitMs = 20;

  struct Limits {
    std::uint64_t pauseBytes = kPauseBytes;    // reading pauses at this many
    std::uint64_t resumeBytes = kResumeBytes;  // and resumes at this many
    std::uint64_t oemBytes = kOemBytes;        // the most the OEM blocks hold
    // While the main thread delivers: where the reader waits for it, how
    // far, and for how long at most.
    std::uint64_t steadyBytes = kSteadyBytes;
    std::uint64_t steadyResumeBytes = kSteadyResumeBytes;
    std::uint32_t steadyWaitMs = kSteadyWaitMs;
  };

  // What one message holds; returns it to the backlog when destroyed.
  // Move-only; an empty charge (default-constructed or moved from) holds
  // nothing.
  class Charge {
   public:
    Charge() = default;
    Charge(Charge&& other) noexcept;
    Charge& operator=(Charge&& other) noexcept;
    ~Charge();
    Charge(const Charge&) = delete;
    Charge& operator=(const Charge&) = delete;

    // The bytes charged, OEM block included.
    std::uint64_t bytes() const { return bytes_ + oemBytes_; }

   private:
    friend class StatusBacklog;
    void release();

    std::shared_ptr<StatusBacklog> backlog_;
    std::uint64_t bytes_ = 0;
    std::uint64_t oemBytes_ = 0;
  };

  StatusBacklog() : StatusBacklog(Limits()) {}
  explicit StatusBacklog(const Limits& limits) : limits_(limits) {}
  StatusBacklog(const StatusBacklog&) = delete;
  StatusBacklog& operator=(const StatusBacklog&) = delete;

  // Counts one message of `bytes` bytes until the charge is destroyed.
  static Charge charge(const std::shared_ptr<StatusBacklog>& backlog, std::uint64_t bytes);
  // Adds an OEM block of `size` bytes to the charge when the blocks of all
  // charges stay within the cap; false, and nothing added, otherwise.
  bool chargeOem(Charge* charge, std::uint64_t size);

  // Whether reading should pause: the charges hold pauseBytes or more.
  bool full() const { return bytes_.load() >= limits_.pauseBytes; }
  // Called by the reader before each message. When full(), blocks until the
  // charges have come down to resumeBytes. At steadyBytes or more, unless an
  // earlier wait there ran out with no delivery since, waits at most
  // steadyWaitMs for them to come down to steadyResumeBytes. Answers at once
  // otherwise. False when `stopRequested` answered true (it is asked before
  // each wait and after every wake()).
  bool waitForRoom(const std::function<bool()>& stopRequested);
  // Wakes a waitForRoom() to ask `stopRequested` again.
  void wake() { room_.set(); }

  std::uint64_t bytes() const { return bytes_.load(); }
  std::uint64_t oemBytes() const { return oemBytes_.load(); }
  std::uint32_t messages() const { return messages_.load(); }
  const Limits& limits() const { return limits_; }

 private:
  void release(std::uint64_t bytes, std::uint64_t oemBytes);

  const Limits limits_;
  std::atomic<std::uint64_t> bytes_{0};  // OEM blocks included
  std::atomic<std::uint64_t> oemBytes_{0};
  std::atomic<std::uint32_t> messages_{0};
  // Set when the charges come down to resumeBytes or to steadyResumeBytes,
  // and by wake().
  platform::WakeSignal room_;
  // The reader's own: a wait at steadyBytes ran out, and the charges have
  // not come down to steadyResumeBytes since.
  bool mainThreadHeld_ = false;
};

}  // namespace quor

#endif  // CHANNEL_STATUS_BACKLOG_H_
