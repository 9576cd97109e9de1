// Messages: what the event broker carries from producers to listeners.
//
// A message has a source (the address of a class id that outlives it), a
// code, flags (bit 0: exclusive delivery) and a property holder. Queued
// messages live on the heap and are shared through counted_ptr<IMessage>,
// whose count is atomic; messages sent synchronously (thread control, the
// idle heartbeat) may live on the sender's stack. Properties are set by the
// producer before posting and only read afterwards.
#ifndef FRAMEWORK_MESSAGE_H_
#define FRAMEWORK_MESSAGE_H_

#include <cstdint>

#include "framework/properties/counted_ptr.h"
#include "framework/properties/guid.h"
#include "framework/properties/property_holder.h"

namespace vela {

class IMessage {
 public:
  // Address of the source class id.
  virtual const Guid* getSource() const = 0;
  virtual std::int32_t getCode() const = 0;
  virtual std::int32_t getFlags() const = 0;
  // Replaces all flag bits; returns the value stored.
  virtual std::int32_t setFlags(std::int32_t flags) = 0;
  // Flags bit 0: delivery stops at the first listener that consumes it.
  virtual bool isExclusive() const = 0;
  // The message's properties: producers write through the first accessor,
  // listeners read through the second. Both give the same holder.
  virtual IPropertyHolder* getProperties() = 0;
  virtual const IPropertyHolder* getProperties() const = 0;
  virtual ~IMessage() = default;
};

using MessagePtr = counted_ptr<IMessage>;

// A message without properties of its own: both accessors give one shared,
// process-wide empty holder that refuses to store anything.
class SimpleMessage : public IMessage {
 public:
  SimpleMessage(const Guid* source, std::int32_t code, std::int32_t flags)
      : source_(source), code_(code), flags_(flags) {}
  SimpleMessage(const SimpleMessage&) = delete;
  SimpleMessage& operator=(const SimpleMessage&) = delete;

  const Guid* getSource() const override { return source_; }
  std::int32_t getCode() const override { return code_; }
  std::int32_t getFlags() const override { return flags_; }
  std::int32_t setFlags(std::int32_t flags) override { return flags_ = flags; }
  bool isExclusive() const override { return (flags_ & 1) != 0; }
  IPropertyHolder* getProperties() override;
  const IPropertyHolder* getProperties() const override;

  // The shared empty holder of every SimpleMessage.
  static IPropertyHolder* sharedEmptyProperties();

 private:
  const Guid* source_;  // not owned
  std::int32_t code_;
  std::int32_t flags_;
};

// A message with its own property holder, empty at construction.
class Message : public SimpleMessage {
 public:
  Message(const Guid* source, std::int32_t code, std::int32_t flags)
      : SimpleMessage(source, code, flags) {}

  IPropertyHolder* getProperties() override { return &properties_; }
  const IPropertyHolder* getProperties() const override { return &properties_; }

 private:
  PropertyHolder properties_;
};

}  // namespace vela

#endif  // FRAMEWORK_MESSAGE_H_
