// TarnListener: writes a request record to the request stream for every
// message addressed to it (whose source is its class id).
//
// Configuration (read once, in the constructor): "output", an open stream
// handle given as a number, or else "pipe", the base name of the stream pair
// (".requests" is appended). Without a stream, messages are accepted and
// dropped.
//
// Threads: receive runs on whichever thread the broker delivers on (the main
// thread); each request is one write of 16 bytes, so concurrent deliveries
// could only interleave whole requests. No lock of its own.
#ifndef CHANNEL_TARN_LISTENER_H_
#define CHANNEL_TARN_LISTENER_H_

#include "channel/configured_stream.h"
#include "framework/event_broker.h"
#include "framework/instance_manager.h"
#include "platform/byte_stream.h"

namespace quor {

class TarnListener : public AbstractListener {
 public:
  TarnListener(vela::IPropertyHolder* parameters, IInstanceManager* manager);
  ~TarnListener() override;

  // {5DB8AD6D-4D3C-4F33-BD1D-BAFB50401E7B}.
  const vela::Guid* getClassId() const override;

  // Writes "TARN", the message's code, its "subcode" (0 when absent) and
  // length 0 for a message whose source is this class id. A failed write is
  // ignored. Always answers false: the message is never consumed.
  bool receive(vela::IMessage* message) override;

  platform::StreamHandle handle() const { return stream_.get(); }
  // True when the stream was opened here from "pipe" (and is closed here).
  bool openedHere() const { return stream_.isOwned(); }

 private:
  IInstanceManager* manager_;  // not owned
  ConfiguredStream stream_;
};

// Makes a TarnListener; null when it cannot be allocated.
vela::IPropertyHolder* MakeTarnListener(vela::IPropertyHolder* parameters,
                                        IInstanceManager* manager);

}  // namespace quor

#endif  // CHANNEL_TARN_LISTENER_H_
