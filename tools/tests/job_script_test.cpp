#include "tools/job_script.h"

#include <gtest/gtest.h>

#include "channel/status_record.h"

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
      "status 2 1003\n"
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
      {"status 1", "line 1: usage: status SEVERITY CODE"},
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

}  // namespace
