#include "tools/job_script.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "channel/status_record.h"
#include "platform/test_support/failing_allocations.h"

// No single allocation of this test program may be larger than the most a
// script may send: a script line that asks for more must be refused before
// its bytes are built, not run the simulator out of memory building them.
namespace {
constexpr std::size_t kLargestAllocation = jobscript::kMaxScriptBytes + 4096;

// Set before main, so that no test runs without it.
const bool allocationsLimited = [] {
  testsupport::setLargestAllocation(kLargestAllocation);
  return true;
}();
}  // namespace

// The limit is in force from the start, and refuses what it should.
TEST(AllocationLimit, ABlockLargerThanAnyScriptIsRefused) {
  ASSERT_TRUE(allocationsLimited);
  const std::size_t refusedBefore = testsupport::refusedAllocations();
  EXPECT_THROW(std::vector<char> tooLarge(kLargestAllocation + 1), std::bad_alloc);
  EXPECT_EQ(refusedBefore + 1, testsupport::refusedAllocations());
  EXPECT_NO_THROW(std::vector<char> small(4096));
  EXPECT_EQ(refusedBefore + 1, testsupport::refusedAllocations());
}

namespace {

using jobscript::Action;
using Bytes = std::vector<std::uint8_t>;

std::vector<Action> parseOk(const std::string& text) {
  std::vector<Action> actions;
  std::string error;
  EXPECT_TRUE(jobscript::parse(text, &actions, &error)) << error;
  return actions;
}

std::string parseError(const std::string& text) {
  std::vector<Action> actions;
  std::string error;
  EXPECT_FALSE(jobscript::parse(text, &actions, &error)) << text;
  return error;
}

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(JobScriptTest, EachRecordKeywordSendsTheRecordThePortMonitorWouldWrite) {
  const auto actions = parseOk(
      "printer LPT1: \"Kestrel 100\"\n"
      "printer-wide USB001 \"Drucker \xC3\xBC\"\n"
      "job 7 a\n"
      "job-wide 0x10 \"Bericht.pdf\"\n"
      "end-job 7\n"
      "job-status 2 1003\n"
      "event 1500\n"
      "oem 01 0203 \"ab\"\n");
  ASSERT_EQ(actions.size(), 8u);
  const Bytes expected[] = {
      tarn::encodePortNames("LPT1:", "Kestrel 100"),
      tarn::encodePortNamesWide(L"USB001", L"Drucker \u00FC"),
      tarn::encodeJobStart(7, "a"),
      tarn::encodeJobStartWide(16, L"Bericht.pdf"),
      tarn::encodeJobEnd(7),
      tarn::encodeSeverityStatus(2, 1003),
      tarn::encodeStatus(1500),
      tarn::encodeOemBlock("\x01\x02\x03"
                           "ab",
                           5),
  };
  for (std::size_t i = 0; i < actions.size(); ++i) {
    SCOPED_TRACE(actions[i].keyword);
    EXPECT_EQ(actions[i].kind, Action::Kind::kSend);
    EXPECT_EQ(actions[i].line, static_cast<int>(i + 1));
    EXPECT_EQ(actions[i].bytes, expected[i]);
  }
}

TEST(JobScriptTest, ValuesBuildHostileRecordsByteForByte) {
  const auto actions = parseOk(
      "raw \"TARN\" u32:0 u32:5 u32:0x100001 zeros:3 ff\n"
      "record 2 1\n"
      "record 0 2 u32:7 str:\"a\\x80\\\"\" wstr:\"\xF0\x9F\x96\xA8\"\n"
      "raw 54415258\n");
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[0].bytes,
            (Bytes{'T', 'A', 'R', 'N', 0, 0, 0, 0, 5, 0, 0, 0, 1, 0, 0x10, 0, 0, 0, 0, 0xFF}));
  EXPECT_EQ(actions[1].bytes, tarn::encodeHeader(2, 1, 0));
  // A narrow text keeps its bytes; a wide text is UTF-16LE with a surrogate
  // pair for a character beyond the first plane.
  EXPECT_EQ(actions[2].bytes,
            concat({tarn::encodeHeader(0, 2, 14),
                    Bytes{7, 0, 0, 0, 'a', 0x80, '"', 0, 0x3D, 0xD8, 0xA8, 0xDD, 0, 0}}));
  EXPECT_EQ(actions[3].bytes, (Bytes{'T', 'A', 'R', 'X'}));
}

TEST(JobScriptTest, CommentsBlankLinesPausesAndCloseKeepTheirLineNumbers) {
  const auto actions = parseOk(
      "# a job\r\n"
      "\r\n"
      "  end-job 1   # trailing comment\r\n"
      "pause 250\r\n"
      "printer \"#1\" x\r\n"
      "close");
  ASSERT_EQ(actions.size(), 4u);
  EXPECT_EQ(actions[0].line, 3);
  EXPECT_EQ(actions[1].kind, Action::Kind::kPause);
  EXPECT_EQ(actions[1].milliseconds, 250u);
  EXPECT_EQ(actions[2].bytes, tarn::encodePortNames("#1", "x"));
  EXPECT_EQ(actions[3].kind, Action::Kind::kClose);
  EXPECT_EQ(actions[3].line, 6);
}

TEST(JobScriptTest, MistakesAreReportedWithTheirLine) {
  const struct {
    const char* script;
    const char* expected;
  } cases[] = {
      {"end-job 1\nfrobnicate 3", "line 2: unknown keyword"},
      {"printer \"LPT1: x", "line 1: text without its closing quote"},
      {"job seven a", "line 1: expected a number for ID"},
      {"end-job 0x100000000", "line 1: expected a number for ID"},
      {"raw 0a1", "line 1: hex bytes come in pairs"},
      {"raw zz", "line 1: not a value"},
      {"job-status 1", "line 1: usage: job-status SEVERITY CODE"},
      // The old keyword for a class 0 status, which the program ignores.
      {"job 1 a\nstatus 2 42000", "line 2: there is no \"status\": use \"event CODE\""},
      {"wait-event go", "line 1: usage: wait-event NAME MILLISECONDS"},
      {"wait-event \"\" 10", "line 1: usage: wait-event NAME MILLISECONDS"},
      {"wait-file str:x 10", "line 1: expected a text for PATH"},
      {"wait-file x 0xFFFFFFFF", "line 1: a wait is limited to 4294967294 ms"},
      {"cut now", "line 1: usage: cut"},
      {"close now", "line 1: usage: close"},
      {"raw \"a\\q\"", "line 1: unknown escape"},
      {"raw zeros:300000000", "line 1: zeros: is limited"},
      {"\"quoted\" 1", "line 1: a line starts with a keyword"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script);
    EXPECT_EQ(parseError(c.script).rfind(c.expected, 0), 0u) << parseError(c.script);
  }
}

TEST(JobScriptTest, WaitsCutsEmptyWritesAndRequestActionsKeepTheirTargets) {
  const auto actions = parseOk(
      "wait-event \"Local\\\\sim go\" 5000\n"
      "wait-file C:\\temp\\clicked 0x10\n"
      "empty-write\n"
      "ignore-requests\n"
      "close-requests\n"
      "cut\n"
      "flush\n");
  ASSERT_EQ(actions.size(), 7u);
  EXPECT_EQ(actions[0].kind, Action::Kind::kWaitEvent);
  EXPECT_EQ(actions[0].target, "Local\\sim go");
  EXPECT_EQ(actions[0].milliseconds, 5000u);
  EXPECT_EQ(actions[1].kind, Action::Kind::kWaitFile);
  EXPECT_EQ(actions[1].target, "C:\\temp\\clicked");  // a bare word keeps its backslashes
  EXPECT_EQ(actions[1].milliseconds, 16u);
  EXPECT_EQ(actions[2].kind, Action::Kind::kEmptyWrite);
  EXPECT_TRUE(actions[2].bytes.empty());
  EXPECT_EQ(actions[3].kind, Action::Kind::kIgnoreRequests);
  EXPECT_EQ(actions[4].kind, Action::Kind::kCloseRequests);
  EXPECT_EQ(actions[5].kind, Action::Kind::kCut);
  EXPECT_EQ(actions[6].kind, Action::Kind::kFlush);
  EXPECT_TRUE(actions[6].bytes.empty());
}

TEST(JobScriptTest, ALineBeyondTheByteLimitIsRefusedBeforeItIsBuilt) {
  std::string eightTimes = "raw";
  for (int i = 0; i < 8; ++i) eightTimes += " zeros:268435456";
  const struct {
    std::string script;
    const char* expected;
  } cases[] = {
      {eightTimes, "line 1: the script sends more than 268435456 bytes"},
      // The budget is what earlier lines left.
      {"end-job 1\noem zeros:268435440", "line 2: the script sends more than 268435456 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.script.substr(0, 40));
    const std::string error = parseError(c.script);
    EXPECT_EQ(error.rfind(c.expected, 0), 0u) << error;
  }
}

}  // namespace
