#include "channel/configured_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "framework/properties/property_holder.h"
#include "platform/debug_output.h"
#include "platform/tests/test_pipes.h"

namespace {

using platform::testing::ConnectedStream;
using quor::ConfiguredStream;
using Direction = quor::ConfiguredStream::Direction;

// True when the reader of a request stream sees its end: the writer's last
// handle is closed.
bool writerHasGone(platform::StreamHandle server) {
  char byte;
  std::size_t got = 0;
  return !platform::readSome(server, &byte, 1, &got);
}

TEST(ConfiguredStreamTest, AStreamOpenedByNameIsOwnedAndClosedOnceWhereverItWasMoved) {
  const std::wstring base = platform::testing::uniquePipeBase("configured");
  const platform::StreamHandle served = platform::testing::serveStream(base + L".requests", false);
  ASSERT_TRUE(platform::isUsableStream(served));
  vela::PropertyHolder parameters;
  parameters.setWString(L"pipe", base.c_str());
  {
    ConfiguredStream opened =
        ConfiguredStream::open(parameters, "output", L".requests", Direction::kWriting, "Test");
    ASSERT_TRUE(opened.isOwned());
    ASSERT_TRUE(platform::isUsableStream(opened.get()));
    ASSERT_TRUE(platform::testing::acceptClient(served));
    ConfiguredStream moved = std::move(opened);
    EXPECT_FALSE(opened.isOwned());  // NOLINT(bugprone-use-after-move): what is left
    EXPECT_TRUE(moved.isOwned());
    ASSERT_TRUE(platform::writeAll(moved.get(), "TARN", 4));
    char bytes[4];
    ASSERT_TRUE(platform::readExactly(served, bytes, sizeof bytes));
  }
  EXPECT_TRUE(writerHasGone(served)) << "the stream opened by name was not closed";
  platform::closeStream(served);
  platform::testing::unserveStream(base + L".requests");
}

TEST(ConfiguredStreamTest, AStreamGivenByNumberIsBorrowedAndWinsOverTheName) {
  ConnectedStream given;
  platform::testing::connectStream(&given, "configured-given", false);
  ASSERT_TRUE(given.ok());
  vela::PropertyHolder parameters;
  parameters.setWString(L"output", std::to_wstring(given.client).c_str());
  parameters.setWString(L"pipe", platform::testing::uniquePipeBase("configured-absent").c_str());
  {
    ConfiguredStream stream =
        ConfiguredStream::open(parameters, "output", L".requests", Direction::kWriting, "Test");
    EXPECT_EQ(stream.get(), given.client);
    EXPECT_FALSE(stream.isOwned());
  }
  EXPECT_TRUE(platform::writeAll(given.client, "TARN", 4)) << "a borrowed stream was closed";
}

TEST(ConfiguredStreamTest, WithoutAUsableStreamTheValueTellsWhyAndAFailedOpenIsTraced) {
  std::string trace;
  platform::ScopedDebugOutputCapture capture([&](const std::string& text) { trace += text; });
  const std::wstring absent = platform::testing::uniquePipeBase("configured-missing");
  const struct {
    const char* name;
    const wchar_t* number;
    const wchar_t* pipe;
    platform::StreamHandle expected;
  } cases[] = {
      {"neither", nullptr, nullptr, platform::kNoStream},
      {"an empty name", nullptr, L"", platform::kNoStream},
      {"the number -1 and no name", L"-1", nullptr, platform::kInvalidStream},
      {"a name that does not exist", L"0", absent.c_str(), platform::kInvalidStream},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    vela::PropertyHolder parameters;
    if (c.number != nullptr) parameters.setWString(L"input", c.number);
    if (c.pipe != nullptr) parameters.setWString(L"pipe", c.pipe);
    ConfiguredStream stream =
        ConfiguredStream::open(parameters, "input", L".status", Direction::kReading, "Reader");
    EXPECT_EQ(stream.get(), c.expected);
    EXPECT_FALSE(stream.isOwned());
  }
  EXPECT_NE(trace.find("[Reader] cannot open " + platform::wideToUtf8(absent) + ".status"),
            std::string::npos)
      << trace;
}

}  // namespace
