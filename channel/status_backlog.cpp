#include "channel/status_backlog.h"

#include <chrono>
#include <utility>

#include "platform/debug_output.h"
#include "platform/thread.h"

namespace quor {

StatusBacklog::Charge::Charge(Charge&& other) noexcept
    : backlog_(std::move(other.backlog_)), bytes_(other.bytes_), oemBytes_(other.oemBytes_) {
  other.bytes_ = 0;
  other.oemBytes_ = 0;
}

StatusBacklog::Charge& StatusBacklog::Charge::operator=(Charge&& other) noexcept {
  if (this != &other) {
    release();
    backlog_ = std::move(other.backlog_);
    bytes_ = other.bytes_;
    oemBytes_ = other.oemBytes_;
    other.bytes_ = 0;
    other.oemBytes_ = 0;
  }
  return *this;
}

StatusBacklog::Charge::~Charge() {
  release();
}

void StatusBacklog::Charge::release() {
  if (!backlog_) return;
  backlog_->release(bytes_, oemBytes_);
  backlog_.reset();
  bytes_ = 0;
  oemBytes_ = 0;
}

StatusBacklog::Charge StatusBacklog::charge(const std::shared_ptr<StatusBacklog>& backlog,
                                            std::uint64_t bytes) {
  Charge charge;
  charge.backlog_ = backlog;
  charge.bytes_ = bytes;
  backlog->messages_.fetch_add(1);
  backlog->bytes_.fetch_add(bytes);
  return charge;
}

bool StatusBacklog::chargeOem(Charge* charge, std::uint64_t size) {
  if (charge->backlog_.get() != this || charge->oemBytes_ != 0) return false;
  std::uint64_t held = oemBytes_.load();
  do {
    if (size > limits_.oemBytes || held > limits_.oemBytes - size) return false;
  } while (!oemBytes_.compare_exchange_weak(held, held + size));
  bytes_.fetch_add(size);
  charge->oemBytes_ = size;
  return true;
}

void StatusBacklog::release(std::uint64_t bytes, std::uint64_t oemBytes) {
  oemBytes_.fetch_sub(oemBytes);
  messages_.fetch_sub(1);
  const std::uint64_t total = bytes + oemBytes;
  const std::uint64_t before = bytes_.fetch_sub(total);
  // Only a release that crosses a resume mark wakes the reader; the signal
  // keeps a setting that comes before the reader waits.
  const std::uint64_t after = before - total;
  if ((before > limits_.resumeBytes && after <= limits_.resumeBytes) ||
      (before > limits_.steadyResumeBytes && after <= limits_.steadyResumeBytes)) {
    room_.set();
  }
}

bool StatusBacklog::waitForRoom(const std::function<bool()>& stopRequested) {
  if (bytes_.load() <= limits_.steadyResumeBytes) mainThreadHeld_ = false;
  if (!full()) {
    if (mainThreadHeld_ || bytes_.load() < limits_.steadyBytes) return true;
    // A setting left from an earlier crossing must not end this wait early.
    room_.wait(0);
    const std::chrono::steady_clock::time_point end =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(limits_.steadyWaitMs);
    while (bytes_.load() > limits_.steadyResumeBytes) {
      if (stopRequested()) return false;
      const auto now = std::chrono::steady_clock::now();
      if (now >= end) {
        // Nothing is delivered: the main thread is held in a loop of its
        // own. Reading goes on, up to the bound.
        mainThreadHeld_ = true;
        platform::debugOutput("[TarnEventGenerator] no message delivered meanwhile: reading "
                              "goes on up to the backlog's bound\n");
        return true;
      }
      room_.wait(static_cast<std::uint32_t>(
          std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1));
    }
    return !stopRequested();
  }
  platform::debugOutput("[TarnEventGenerator] the messages waiting for delivery hold their "
                        "most bytes: reading pauses\n");
  while (bytes_.load() > limits_.resumeBytes) {
    if (stopRequested()) return false;
    room_.wait(platform::kInfinite);
  }
  return !stopRequested();
}

}  // namespace quor
