// The shared test helpers report what they could not do, and do what they
// say: a helper that failed quietly would let the test that trusts it pass.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>

#include "platform/byte_stream.h"
#include "platform/test_support/deadline.h"
#include "platform/test_support/pipe_pair.h"

#ifdef _WIN32
#include <windows.h>

#include <fstream>
#include <sstream>

#include "platform/test_support/temp_dir.h"
#endif

namespace {

using namespace std::chrono_literals;

TEST(Watchdog, ActsOnceTheDeadlinePassesAndNotWhenDisarmedInTime) {
  std::atomic<int> actions{0};
  {
    testsupport::Watchdog watchdog(10ms, [&] { ++actions; });
    ASSERT_TRUE(testsupport::waitUntil([&] { return actions.load() == 1; }));
    EXPECT_TRUE(watchdog.fired());
    EXPECT_TRUE(watchdog.disarm());
  }
  testsupport::Watchdog quiet(std::chrono::minutes(10), [&] { ++actions; });
  EXPECT_FALSE(quiet.disarm()) << "disarmed long before its deadline";
  EXPECT_FALSE(quiet.fired());
  EXPECT_EQ(1, actions.load());
}

TEST(WaitUntil, AnswersFalseAtTheDeadline) {
  EXPECT_FALSE(testsupport::waitUntil([] { return false; }, 5ms));
  EXPECT_TRUE(testsupport::waitUntil([] { return true; }, 0ms));
}

// What is written at one end is read at the other; closing the write end
// ends the stream for the reader.
TEST(PipePair, CarriesBytesAndEndsWhenTheWriteEndCloses) {
  testsupport::PipePair pipe;
  ASSERT_TRUE(platform::isUsableStream(pipe.readEnd()));
  ASSERT_TRUE(platform::isUsableStream(pipe.writeEnd()));
  const std::uint8_t sent[3] = {1, 2, 3};
  ASSERT_TRUE(platform::writeAll(pipe.writeEnd(), sent, sizeof sent));
  std::uint8_t received[3] = {};
  ASSERT_TRUE(platform::readExactly(pipe.readEnd(), received, sizeof received));
  EXPECT_EQ(0, std::memcmp(sent, received, sizeof sent));
  pipe.closeWriteEnd();
  EXPECT_EQ(platform::kNoStream, pipe.writeEnd());
  pipe.closeWriteEnd();  // once only
  std::uint8_t more = 0;
  EXPECT_FALSE(platform::readExactly(pipe.readEnd(), &more, 1));
}

#ifdef _WIN32

TEST(TempDir, WritesEveryByteIntoFoldersItMakesAndRemovesThem) {
  std::string folder;
  std::string file;
  {
    testsupport::TempDir dir;
    folder = dir.path();
    file = dir.write("de\\strings.xml", std::string("a\0b", 3));
    std::ifstream in(file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(std::string("a\0b", 3), content.str());
  }
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(file.c_str()));
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(folder.c_str()));
}

// A file that cannot be written (its name is a folder's) fails the test
// that asked for it instead of leaving it to find an empty folder.
TEST(TempDir, AFileThatCannotBeWrittenFailsTheTest) {
  testsupport::TempDir dir;
  dir.folder("taken");
  EXPECT_NONFATAL_FAILURE(dir.write("taken", "x"), "cannot create");
  EXPECT_NONFATAL_FAILURE(dir.copy(dir.path() + "\\missing", "copy"), "cannot copy");
}

#endif  // _WIN32

}  // namespace
