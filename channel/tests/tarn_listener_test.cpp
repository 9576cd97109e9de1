#include "channel/tarn_listener.h"

#include <gtest/gtest.h>

#include <memory>

#include "channel/status_record.h"
#include "channel/tests/channel_test_support.h"
#include "framework/class_id.h"
#include "platform/tests/test_pipes.h"

namespace {

using chantest::TestManager;
using platform::testing::ConnectedStream;
using Bytes = std::vector<std::uint8_t>;

// Everything written to the served end so far (never blocks).
Bytes drain(platform::StreamHandle server) {
  Bytes out;
  long long waiting = platform::testing::bytesWaiting(server);
  if (waiting <= 0) return out;
  out.resize(static_cast<std::size_t>(waiting));
  EXPECT_TRUE(platform::readExactly(server, out.data(), out.size()));
  return out;
}

TEST(TarnListenerTest, WritesOneRequestPerMessageAddressedToItAndNeverConsumes) {
  TestManager manager;
  ConnectedStream pipe;
  platform::testing::connectStream(&pipe, "requests", false);
  ASSERT_TRUE(pipe.ok());
  auto params = chantest::parameters(manager.broker, {{"output", std::to_wstring(pipe.client)}});
  quor::TarnListener listener(params.get(), &manager);
  EXPECT_EQ(listener.getPointer("listener", nullptr), static_cast<vela::IListener*>(&listener));

  vela::Message noSubcode(&quor::kTarnListenerClassId, 1, 0);
  vela::Message withSubcode(&quor::kTarnListenerClassId, 2, 0);
  withSubcode.getProperties()->setInt("subcode", 7);
  vela::SimpleMessage simple(&quor::kTarnListenerClassId, -5, 1);
  vela::Message otherSource(&quor::kTarnEventGeneratorClassId, 2, 0);
  otherSource.getProperties()->setInt("subcode", 3);
  vela::Message lookalike(&quor::kTimerEventGeneratorClassId, 1, 0);
  vela::Message noSource(nullptr, 1, 0);

  EXPECT_FALSE(listener.receive(&noSubcode));
  EXPECT_EQ(drain(pipe.server), tarn::encodeRequest(1, 0));
  EXPECT_FALSE(listener.receive(&withSubcode));
  EXPECT_EQ(drain(pipe.server), (Bytes{'T', 'A', 'R', 'N', 2, 0, 0, 0, 7, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_FALSE(listener.receive(&simple));  // exclusive flag or not, never consumed
  EXPECT_EQ(drain(pipe.server), tarn::encodeRequest(0xFFFFFFFBu, 0));
  EXPECT_FALSE(listener.receive(&otherSource));
  EXPECT_FALSE(listener.receive(&lookalike));
  EXPECT_FALSE(listener.receive(&noSource));
  EXPECT_EQ(drain(pipe.server), Bytes{});
}

TEST(TarnListenerTest, OutputWinsOverPipeAndIsNotClosedWhilePipeIsOpenedAndOwned) {
  TestManager manager;
  vela::Message request(&quor::kTarnListenerClassId, 4, 0);
  ConnectedStream given;
  platform::testing::connectStream(&given, "given-out", false);
  ASSERT_TRUE(given.ok());
  const std::wstring base = platform::testing::uniquePipeBase("named-out");
  const platform::StreamHandle served = platform::testing::serveStream(base + L".requests", false);
  ASSERT_TRUE(platform::isUsableStream(served));
  {
    SCOPED_TRACE("output and pipe");
    auto params = chantest::parameters(manager.broker,
                                       {{"output", std::to_wstring(given.client)}, {"pipe", base}});
    quor::TarnListener listener(params.get(), &manager);
    EXPECT_EQ(listener.handle(), given.client);
    EXPECT_FALSE(listener.openedHere());
  }
  ASSERT_TRUE(platform::writeAll(given.client, "TARN", 4)) << "the given handle was closed";
  EXPECT_EQ(drain(given.server).size(), 4u);
  {
    SCOPED_TRACE("pipe alone");
    auto params = chantest::parameters(manager.broker, {{"pipe", base}});
    quor::TarnListener listener(params.get(), &manager);
    EXPECT_TRUE(listener.openedHere());
    EXPECT_TRUE(platform::testing::acceptClient(served));
    listener.receive(&request);
    EXPECT_EQ(drain(served), tarn::encodeRequest(4, 0));
  }
  {
    SCOPED_TRACE("neither: accepted and dropped");
    auto params = chantest::parameters(manager.broker, {});
    quor::TarnListener listener(params.get(), &manager);
    EXPECT_EQ(listener.handle(), platform::kNoStream);
    EXPECT_FALSE(listener.receive(&request));
  }
  {
    SCOPED_TRACE("a pipe that does not exist: writes fail quietly");
    auto params = chantest::parameters(manager.broker,
                                       {{"pipe", platform::testing::uniquePipeBase("absent-out")}});
    quor::TarnListener listener(params.get(), &manager);
    EXPECT_EQ(listener.handle(), platform::kInvalidStream);
    EXPECT_FALSE(listener.receive(&request));
  }
  platform::closeStream(served);
  platform::testing::unserveStream(base + L".requests");
}

}  // namespace
