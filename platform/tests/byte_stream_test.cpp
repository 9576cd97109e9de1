#include "platform/byte_stream.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include "platform/tests/blocked_thread.h"
#include "platform/tests/test_pipes.h"
#include "platform/text.h"
#include "platform/thread.h"

namespace {

using platform::StreamHandle;
using platform::testing::ConnectedStream;
using platform::testing::connectStream;
using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;

// Reads `count` bytes from the client end on another thread, so that a read
// that never returns fails the test instead of hanging it.
std::future<std::pair<bool, std::string>> readLater(StreamHandle handle, std::size_t count) {
  return std::async(std::launch::async, [handle, count] {
    std::string buffer(count, '\0');
    const bool ok = platform::readExactly(handle, buffer.data(), count);
    return std::make_pair(ok, buffer);
  });
}

TEST(ByteStreamTest, ReadExactlyJoinsPiecesAndStopsAtTheEndOfTheStream) {
  {
    SCOPED_TRACE("a header written as 5 and then 11 bytes arrives whole");
    ConnectedStream pipe;
    connectStream(&pipe, "split", true);
    ASSERT_TRUE(pipe.ok());
    auto reader = readLater(pipe.client, 16);
    ASSERT_TRUE(platform::writeAll(pipe.server, "TARN\x01", 5));
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(platform::writeAll(pipe.server, "\0\0\0\x02\0\0\0\x03\0\0", 11));
    ASSERT_EQ(reader.wait_for(kDeadline), std::future_status::ready);
    const auto [ok, bytes] = reader.get();
    EXPECT_TRUE(ok);
    EXPECT_EQ(bytes, std::string("TARN\x01\0\0\0\x02\0\0\0\x03\0\0\0", 16));
  }
  {
    SCOPED_TRACE("a writer that closes after 3 of 16 bytes ends the read with a failure");
    ConnectedStream pipe;
    connectStream(&pipe, "short", true);
    ASSERT_TRUE(pipe.ok());
    auto reader = readLater(pipe.client, 16);
    ASSERT_TRUE(platform::writeAll(pipe.server, "TAR", 3));
    pipe.closeServer();
    ASSERT_EQ(reader.wait_for(kDeadline), std::future_status::ready);
    EXPECT_FALSE(reader.get().first);
  }
}

TEST(ByteStreamTest, UnusableHandlesAndMissingNamesFailWithoutEffects) {
  EXPECT_EQ(platform::openStreamForReading(platform::testing::uniquePipeBase("missing")),
            platform::kInvalidStream);
  EXPECT_EQ(platform::openStreamForWriting(platform::testing::uniquePipeBase("missing")),
            platform::kInvalidStream);
  char byte = 0;
  std::size_t got = 99;
  EXPECT_FALSE(platform::readSome(platform::kInvalidStream, &byte, 1, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(platform::readSome(platform::kNoStream, &byte, 1, &got));
  EXPECT_FALSE(platform::writeOnce(platform::kInvalidStream, "x", 1));
  EXPECT_FALSE(platform::writeOnce(platform::kNoStream, "x", 1));
  EXPECT_EQ(platform::streamFromNumber(-1), platform::kInvalidStream);
  EXPECT_EQ(platform::streamFromNumber(static_cast<std::int32_t>(0xFFFFFFFFu)),
            platform::kInvalidStream);
}

TEST(ByteStreamTest, WritingToAStreamWhoseReaderHasGoneFailsAndTheProcessGoesOn) {
  ConnectedStream pipe;
  connectStream(&pipe, "gone", false);
  ASSERT_TRUE(pipe.ok());
  pipe.closeServer();
  std::size_t written = 99;
  EXPECT_FALSE(platform::writeOnce(pipe.client, "TARN", 4, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_FALSE(platform::writeAll(pipe.client, "TARN", 4));
}

TEST(ByteStreamTest, AFileAtItsEndEndsTheReadInsteadOfSpinning) {
  const std::wstring name = platform::testing::uniqueTempFile("file");
  const std::string path = platform::wideToUtf8(name);
  {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite("TARN", 1, 4, file);
    std::fclose(file);
  }
  const StreamHandle handle = platform::openStreamForReading(name);
  ASSERT_TRUE(platform::isUsableStream(handle));
  auto reader = readLater(handle, 8);
  const bool ended = reader.wait_for(kDeadline) == std::future_status::ready;
  EXPECT_TRUE(ended);
  if (ended) {
    const auto [ok, bytes] = reader.get();
    EXPECT_FALSE(ok);
    EXPECT_EQ(bytes.substr(0, 4), "TARN");
  }
  platform::closeStream(handle);
  std::remove(path.c_str());
  if (!ended) std::_Exit(1);  // the reader spins; nothing can stop it
}

#ifdef _WIN32
// A pipe handed over as a handle number may be read in message mode: a read
// shorter than the message fails with ERROR_MORE_DATA although its bytes
// arrived, and the next read goes on with the rest.
TEST(ByteStreamTest, AMessageLongerThanTheReadArrivesInPieces) {
  const std::wstring name = platform::testing::uniquePipeBase("message");
  HANDLE server = CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND,
                                   PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096,
                                   4096, 0, nullptr);
  ASSERT_NE(server, INVALID_HANDLE_VALUE);
  HANDLE client = CreateFileW(name.c_str(), GENERIC_READ | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(client, INVALID_HANDLE_VALUE);
  DWORD mode = PIPE_READMODE_MESSAGE;
  ASSERT_TRUE(SetNamedPipeHandleState(client, &mode, nullptr, nullptr));
  DWORD written = 0;
  ASSERT_TRUE(WriteFile(server, "TARN0123456789abcdef", 20, &written, nullptr));
  const auto stream = reinterpret_cast<StreamHandle>(client);
  char header[16], payload[4];
  EXPECT_TRUE(platform::readExactly(stream, header, sizeof header));
  EXPECT_TRUE(platform::readExactly(stream, payload, sizeof payload));
  EXPECT_EQ(std::string(payload, 4), "cdef");
  CloseHandle(client);
  CloseHandle(server);
}
#endif

struct BlockedReader {
  StreamHandle handle = platform::kNoStream;
  std::string name;  // set before `entered`
  std::atomic<bool> entered{false};
  std::atomic<int> result{-1};
};

std::uint32_t readOneByte(void* argument) {
  auto* reader = static_cast<BlockedReader*>(argument);
  reader->name = platform::testing::nameCallingThread();
  reader->entered.store(true);
  char byte;
  reader->result.store(platform::readExactly(reader->handle, &byte, 1) ? 1 : 0);
  return 0;
}

TEST(ByteStreamTest, ABlockedReadIsReleasedFromAnotherThread) {
  ConnectedStream pipe;
  connectStream(&pipe, "cancel", true);
  ASSERT_TRUE(pipe.ok());
  BlockedReader reader;
  reader.handle = pipe.client;
  std::uint32_t id = 0;
  platform::ThreadHandle thread = platform::createThread(readOneByte, &reader, &id);
  ASSERT_NE(thread, nullptr);
  while (!reader.entered.load()) std::this_thread::sleep_for(1ms);
  ASSERT_TRUE(platform::testing::waitUntilBlocked(reader.name)) << "the read never blocked";
  EXPECT_EQ(reader.result.load(), -1);
  // The canceller repeats until the thread has left, as a teardown does.
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (platform::waitForThread(thread, 10) == platform::kWaitTimeout &&
         std::chrono::steady_clock::now() < deadline) {
    platform::cancelSynchronousIo(thread);
  }
  const bool released = platform::waitForThread(thread, 0) == platform::kWaitObject0;
  EXPECT_TRUE(released);
  if (!released) {
    pipe.closeServer();  // ends the read the hard way
    platform::waitForThread(thread, platform::kInfinite);
  }
  EXPECT_EQ(reader.result.load(), 0);
  platform::closeThreadHandle(thread);
}

}  // namespace
