// The stream a channel component reads or writes, as its configuration names
// it: "input" or "output", a stream handle given as a number, or else "pipe",
// the base name of the stream pair, to which the component's suffix
// (".status", ".requests") is appended.
//
// Ownership is in the type: a stream given by number belongs to whoever
// passed the number (the port monitor, which let the program inherit it) and
// is only borrowed; a stream opened here by name is owned and closed when
// this object goes.
//
// Threads: made by the component's constructor; afterwards read by one thread
// at a time.
#ifndef CHANNEL_CONFIGURED_STREAM_H_
#define CHANNEL_CONFIGURED_STREAM_H_

#include "framework/properties/property_holder.h"
#include "platform/byte_stream.h"
#include "platform/scoped_handle.h"

namespace quor {

class ConfiguredStream {
 public:
  enum class Direction { kReading, kWriting };

  // No stream (kNoStream).
  ConfiguredStream() = default;
  ConfiguredStream(ConfiguredStream&&) = default;
  ConfiguredStream& operator=(ConfiguredStream&&) = default;

  // Takes the number under `numberKey` (default 0, sign-extended from 32
  // bits). A usable number is borrowed and "pipe" is not looked at.
  // Otherwise a non-empty "pipe" is opened, with `suffix`, in `direction`;
  // a failed open is traced as `owner`'s ("[TarnListener] cannot open
  // ...") and leaves kInvalidStream. Without a name the number stays
  // whatever it was (0: no stream; -1: the invalid stream).
  static ConfiguredStream open(const vela::IPropertyHolder& parameters, const char* numberKey,
                               const wchar_t* suffix, Direction direction, const char* owner);

  // The handle to read or write: the owned one, or else the borrowed value.
  platform::StreamHandle get() const { return owned_ ? owned_.get() : borrowed_.get(); }
  // True when the stream was opened here and is closed with this object.
  bool isOwned() const { return owned_.isValid(); }

 private:
  platform::ScopedStream owned_;
  // A number that was given, or what a failed open returned: nothing to
  // close in either case.
  platform::BorrowedStream borrowed_;
};

}  // namespace quor

#endif  // CHANNEL_CONFIGURED_STREAM_H_
