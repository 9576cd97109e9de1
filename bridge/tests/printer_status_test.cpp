#include "bridge/printer_status.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge/tests/ipp_bytes.h"

namespace bridge {
namespace {

using testing::IppBytes;

// The printer's words as they arrive, after the printer's own quirks.
TEST(NormaliseReasonTest, SuffixesAndCutKeywords) {
  struct Case {
    const char* raw;
    const char* normalised;
  } cases[] = {
      {"media-jam-error", "media-jam"},
      {"media-jam-warning", "media-jam"},  // rewritten while printing
      {"media-jam-report", "media-jam"},   // rewritten while idle
      {"media-jam", "media-jam"},
      {"marker-waste-almost-full-warnin", "marker-waste-almost-full"},  // cut in the suffix
      {"media-jam-e", "media-jam"},
      {"marker-waste-almost-fu", "marker-waste-almost-full"},  // cut in the keyword
      {"marker-supply-lo", "marker-supply-low"},
      {"marker-supply-", "marker-supply-"},  // low or empty: not guessed
      {"media-e", "media-e"},                // too short to be a cut
      {"com.example-tray-error", "com.example-tray"},
      {"offline-report", "offline"},
      {"-error", "-error"},
      {"none", "none"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(normaliseReason(c.raw), c.normalised) << c.raw;
  }
}

TEST(ParseSupplyTest, EntriesAndColours) {
  Supply supply = parseSupply("index=1;class=supplyThatIsConsumed;type=toner;unit=percent;"
                              "maxcapacity=100;level=42;colorantname=cyan;");
  EXPECT_EQ(supply.type, "toner");
  EXPECT_EQ(supply.colorant, "cyan");
  EXPECT_EQ(supply.level, 42);
  EXPECT_EQ(supply.maxCapacity, 100);
  // Unknown and unreadable numbers, a missing final ';', keys in any case.
  supply = parseSupply("TYPE=ink;level=-2;maxcapacity=abc;colorantname=yellow");
  EXPECT_EQ(supply.type, "ink");
  EXPECT_EQ(supply.level, -1);
  EXPECT_EQ(supply.maxCapacity, -1);
  EXPECT_EQ(supply.colorant, "yellow");
  supply = parseSupply("level=99999999999;;=;garbage;level=");
  EXPECT_EQ(supply.level, -1);

  struct Case {
    const char* text;
    ColourSet colours;
  } colours[] = {
      {"#000000", kBlack},   {"#00FFFF", kCyan},         {"#ff00ff", kMagenta},
      {"#FFFF00", kYellow},  {"#808080", kOtherColour},  {"none", 0},
      {"", 0},               {"#00FFFF#FF00FF#FFFF00", kCyan | kMagenta | kYellow},
      {"#12", 0},            {"#GG0000", 0},             {"Photo Black", kBlack},
      {"lightCyan", kCyan},  {"Tri-Color", kCyan | kMagenta | kYellow},
      {"red", kOtherColour},
  };
  for (const Case& c : colours) {
    EXPECT_EQ(colourOf(c.text), c.colours) << c.text;
  }
}

// A printer attributes group as a printer answers Get-Printer-Attributes.
struct Printer {
  std::vector<std::string> reasons = {};
  // marker-names, marker-colors, marker-types, marker-levels, marker-low-levels.
  struct M {
    const char* name;
    const char* colour;
    const char* type;
    int level;
    int low;
  };
  std::vector<M> markers = {};
  std::vector<std::string> supplies = {};
  int state = 4;
};

std::vector<uint8_t> encode(const Printer& printer) {
  IppBytes bytes;
  bytes.header(0, 1).u8(0x01).attr(0x47, "attributes-charset", "utf-8").u8(0x04);
  bytes.integer(0x23, "printer-state", printer.state);
  auto list = [&bytes](const char* name, int tag, const std::vector<std::string>& texts) {
    for (size_t i = 0; i < texts.size(); ++i) bytes.attr(tag, i == 0 ? name : "", texts[i]);
  };
  auto ints = [&bytes](const char* name, const std::vector<int>& values) {
    for (size_t i = 0; i < values.size(); ++i) bytes.integer(0x21, i == 0 ? name : "", values[i]);
  };
  list("printer-state-reasons", 0x44, printer.reasons);
  bytes.attr(0x42, "printer-name", "Kestrel").attr(0x41, "printer-info", "Kestrel in room 2");
  std::vector<std::string> names, colours, types;
  std::vector<int> levels, lows;
  for (const Printer::M& m : printer.markers) {
    names.push_back(m.name);
    colours.push_back(m.colour);
    types.push_back(m.type);
    levels.push_back(m.level);
    lows.push_back(m.low);
  }
  list("marker-names", 0x42, names);
  list("marker-colors", 0x42, colours);
  list("marker-types", 0x44, types);
  ints("marker-levels", levels);
  ints("marker-low-levels", lows);
  list("printer-supply", 0x30, printer.supplies);
  std::vector<std::string> descriptions(printer.supplies.size(), "Supply");
  list("printer-supply-description", 0x41, descriptions);
  bytes.end();
  return bytes.bytes();
}

PrinterSnapshot snapshotOf(const Printer& printer) {
  ipp::DecodeResult result = ipp::decodeResponse(encode(printer));
  EXPECT_TRUE(result.ok()) << result.message;
  return readPrinterSnapshot(result.response);
}

std::string supplyEntry(const char* type, int level, const char* colorant, int max = 100) {
  return std::string("index=1;type=") + type + ";maxcapacity=" + std::to_string(max) +
         ";level=" + std::to_string(level) + ";colorantname=" + colorant + ";";
}

TEST(PrinterSnapshotTest, ReadsCleanValues) {
  Printer printer;
  printer.reasons = {"media-jam-error", "media-jam-warning", "none", "toner-low-report"};
  printer.markers = {{"Black ink", "#000000", "ink-cartridge", 5, 10},
                     {"Waste", "none", "waste-ink", -2, -1}};
  printer.supplies = {supplyEntry("toner", 30, "cyan")};
  PrinterSnapshot snapshot = snapshotOf(printer);
  EXPECT_EQ(snapshot.state, PrinterState::kProcessing);
  EXPECT_EQ(snapshot.reasons, (std::vector<std::string>{"media-jam", "toner-low"}));
  EXPECT_EQ(snapshot.name, "Kestrel");
  EXPECT_EQ(snapshot.info, "Kestrel in room 2");
  ASSERT_EQ(snapshot.markers.size(), 2u);
  EXPECT_EQ(snapshot.markers[0].name, "Black ink");
  EXPECT_EQ(snapshot.markers[0].level, 5);
  EXPECT_EQ(snapshot.markers[0].lowLevel, 10);
  EXPECT_EQ(snapshot.markers[1].type, "waste-ink");
  EXPECT_EQ(snapshot.markers[1].level, -1);
  ASSERT_EQ(snapshot.supplies.size(), 1u);
  EXPECT_EQ(snapshot.supplies[0].colorant, "cyan");
  EXPECT_EQ(snapshot.supplies[0].level, 30);
  EXPECT_EQ(snapshot.supplies[0].description, "Supply");

  // Attributes missing or of the wrong type leave the defaults.
  PrinterSnapshot empty = readPrinterSnapshot(ipp::Response());
  EXPECT_EQ(empty.state, PrinterState::kUnknown);
  EXPECT_TRUE(empty.reasons.empty() && empty.markers.empty() && empty.supplies.empty());
}

// The table, case by case: what the printer says, what the monitor gets.
TEST(ChooseStatusCodeTest, Table) {
  using M = Printer::M;
  struct Case {
    const char* what;
    Printer printer;
    JobState job;
    std::optional<uint32_t> code;
  };
  const M blackLow{"Black", "#000000", "ink-cartridge", 4, 10};
  const M cyanOk{"Cyan", "#00FFFF", "ink-cartridge", 60, 10};
  const M cyanLow{"Cyan", "#00FFFF", "ink-cartridge", 10, 10};  // at the low level
  const M yellowEmpty{"Yellow", "#FFFF00", "ink-cartridge", 0, 10};
  const M blackUnknown{"Black", "#000000", "ink-cartridge", -2, 10};
  const M blackSome{"Black", "#000000", "ink-cartridge", -3, 10};
  const M wasteFull{"Waste", "none", "waste-ink", 0, 10};
  const JobState processing = JobState::kProcessing;
  const JobState pending = JobState::kPending;
  std::vector<Case> cases = {
      {"jam", {{"media-jam-error"}}, processing, 42000},
      {"jam wins over a cover", {{"cover-open-warning", "media-jam-report"}}, processing, 42000},
      {"cover wins over a door", {{"door-open-error", "cover-open-error"}}, processing, 40021},
      {"door", {{"door-open-warning"}}, pending, 40020},
      {"tray empty", {{"media-empty-error"}}, processing, 41000},
      {"job needs paper", {{"media-needed-report"}}, pending, 41000},
      {"paper before ink", {{"toner-empty", "media-needed"}}, processing, 41000},
      {"black out (supply)", {{"toner-empty-error"}, {}, {supplyEntry("toner", 0, "black"), supplyEntry("toner", 50, "cyan")}},
       processing, 10300},
      {"yellow out (marker)", {{"marker-supply-empty-error"}, {cyanOk, yellowEmpty}}, processing, 10303},
      {"unknown level is not empty", {{"marker-supply-empty"}, {blackUnknown, yellowEmpty}}, processing, 10303},
      {"two out", {{"toner-empty"}, {}, {supplyEntry("toner", 0, "cyan"), supplyEntry("toner", 0, "magenta")}},
       processing, 10307},
      {"waste empty is not an ink", {{"toner-empty"}, {wasteFull}, {supplyEntry("toner", 0, "magenta")}},
       processing, 10302},
      {"out, colour unknown", {{"marker-supply-empty"}}, processing, 10307},
      {"out before waste full", {{"marker-waste-full", "toner-empty"}, {}, {supplyEntry("toner", 0, "cyan")}},
       processing, 10301},
      {"waste full before low ink", {{"toner-low", "marker-waste-full-error"}}, processing, 11011},
      {"waste almost full, cut", {{"marker-waste-almost-full-warnin"}}, processing, 11010},
      {"waste almost full before low ink", {{"toner-low", "marker-waste-almost-full-report"}},
       processing, 11010},
      {"black low (marker)", {{"marker-supply-low-warning"}, {blackLow, cyanOk}}, processing, 10209},
      {"cyan low at its low level", {{"marker-supply-low"}, {cyanLow}}, processing, 10210},
      {"negative level is not low", {{"marker-supply-low"}, {blackSome, cyanLow}}, processing, 10210},
      {"two low", {{"marker-supply-low"}, {blackLow, cyanLow}}, processing, 10217},
      {"tri-colour cartridge low", {{"marker-supply-low"}, {{"Tri-color", "#00FFFF#FF00FF#FFFF00", "ink-cartridge", 3, 10}}},
       processing, 10217},
      {"magenta low (supply)", {{"toner-low"}, {}, {supplyEntry("toner", 8, "magenta"), supplyEntry("wasteToner", 2, "black"), supplyEntry("toner", 70, "black")}},
       processing, 10211},
      {"low by the printer's measure: the lowest", {{"toner-low"}, {}, {supplyEntry("toner", 40, "black"), supplyEntry("toner", 15, "yellow")}},
       processing, 10212},
      {"supply of another capacity", {{"toner-low"}, {}, {supplyEntry("ink", 30, "black", 400), supplyEntry("ink", 300, "cyan", 400)}},
       processing, 10209},
      {"nothing: printing", {{"none"}}, processing, 10023},
      {"nothing, job pending", {{"none"}}, pending, std::nullopt},
      {"reasons with no row: printing", {{"offline-report", "paused", "input-tray-missing", "other",
                                          "media-low-warning", "spool-area-full"}},
       processing, 10023},
      {"reasons with no row, job held", {{"offline", "paused"}}, JobState::kPendingHeld, std::nullopt},
      {"an unknown keyword", {{"com.example-fuser-hot-error"}}, processing, 10023},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StatusChoice choice = chooseStatusCode(snapshotOf(c.printer), c.job);
    EXPECT_EQ(choice.code, c.code) << colourSetName(choice.colours);
  }

  // What is left out is reported for the trace.
  StatusChoice choice = chooseStatusCode(snapshotOf({{"media-jam", "offline-error", "paused"}}),
                                         processing);
  EXPECT_EQ(choice.reason, "media-jam");
  EXPECT_EQ(choice.unmatched, (std::vector<std::string>{"offline", "paused"}));
}

// One job, poll after poll: a code only when it changes, and a low-ink
// alert at most once per set of colours.
TEST(JobStatusMemoryTest, SendsChangesAndLowInkOncePerJob) {
  using M = Printer::M;
  const M blackLow{"Black", "#000000", "ink", 4, 10};
  const M cyanLow{"Cyan", "#00FFFF", "ink", 6, 10};
  const M cyanOk{"Cyan", "#00FFFF", "ink", 60, 10};
  const Printer printing{{"none"}, {blackLow, cyanOk}};
  const Printer blackLowOnly{{"marker-supply-low-warning"}, {blackLow, cyanOk}};
  const Printer jamAndLow{{"media-jam-error", "marker-supply-low-warning"}, {blackLow, cyanOk}};
  const Printer twoLow{{"marker-supply-low-report"}, {blackLow, cyanLow}};
  struct Poll {
    const char* what;
    Printer printer;
    JobState job;
    std::optional<uint32_t> sent;
  } polls[] = {
      {"job waits", printing, JobState::kPending, std::nullopt},
      {"job prints", printing, JobState::kProcessing, 10023},
      {"still printing", printing, JobState::kProcessing, std::nullopt},
      {"black low", blackLowOnly, JobState::kProcessing, 10209},
      {"black still low: stays on screen", blackLowOnly, JobState::kProcessing, std::nullopt},
      {"suffix rewritten: same", {{"marker-supply-low-report"}, {blackLow, cyanOk}}, JobState::kProcessing, std::nullopt},
      {"jam", jamAndLow, JobState::kProcessing, 42000},
      {"jam cleared: low ink not again", blackLowOnly, JobState::kProcessing, 10023},
      {"still", blackLowOnly, JobState::kProcessing, std::nullopt},
      {"cyan low too: a new set", twoLow, JobState::kProcessing, 10217},
      {"jam again", jamAndLow, JobState::kProcessing, 42000},
      {"cleared, black alone was sent", blackLowOnly, JobState::kProcessing, 10023},
      {"both again: sent before", twoLow, JobState::kProcessing, std::nullopt},
  };
  JobStatusMemory memory;
  for (const Poll& poll : polls) {
    SCOPED_TRACE(poll.what);
    EXPECT_EQ(memory.update(snapshotOf(poll.printer), poll.job), poll.sent);
  }
  EXPECT_TRUE(memory.lastChoice().lowInkAlreadySent);
  EXPECT_EQ(memory.lastSent(), 10023u);

  // A new job may warn again.
  memory.reset();
  EXPECT_EQ(memory.update(snapshotOf(blackLowOnly), JobState::kPending), 10209u);
}

// While the job waits no "Printing" comes: a condition that clears then is
// taken off the screen with "Ready", once, and only after an alert.
TEST(JobStatusMemoryTest, ReadyWhenAConditionClearsWhileTheJobWaits) {
  using M = Printer::M;
  const M blackLow{"Black", "#000000", "ink", 4, 10};
  const M cyanOk{"Cyan", "#00FFFF", "ink", 60, 10};
  const Printer clear{{"none"}, {blackLow, cyanOk}};
  const Printer jam{{"media-jam-error"}, {blackLow, cyanOk}};
  const Printer cover{{"cover-open-error"}, {blackLow, cyanOk}};
  const Printer blackLowOnly{{"marker-supply-low-warning"}, {blackLow, cyanOk}};
  const Printer jamAndLow{{"media-jam-error", "marker-supply-low-warning"}, {blackLow, cyanOk}};
  const JobState pending = JobState::kPending;
  const JobState held = JobState::kPendingHeld;
  const JobState stopped = JobState::kProcessingStopped;
  struct Poll {
    const char* what;
    Printer printer;
    JobState job;
    std::optional<uint32_t> sent;
  } polls[] = {
      {"waiting, no alert yet: nothing to take away", clear, pending, std::nullopt},
      {"jam while pending", jam, pending, 42000},
      {"jam cleared while pending: Ready", clear, pending, 10001},
      {"still clear: Ready once", clear, pending, std::nullopt},
      {"cover open while held", cover, held, 40021},
      {"cover closed while held: Ready", clear, held, 10001},
      {"black low while stopped", blackLowOnly, stopped, 10209},
      {"still low: stays on screen", blackLowOnly, stopped, std::nullopt},
      {"ink replaced: Ready", clear, stopped, 10001},
      {"jam", jamAndLow, pending, 42000},
      {"jam cleared, low ink shown before: Ready, not low again", blackLowOnly, pending, 10001},
      {"still", blackLowOnly, pending, std::nullopt},
      {"job prints", clear, JobState::kProcessing, 10023},
      {"job stopped, no alert on screen: Printing stays", clear, stopped, std::nullopt},
      {"jam while printing", jam, JobState::kProcessing, 42000},
      {"cleared as the job completes: its end takes over", clear, JobState::kCompleted,
       std::nullopt},
  };
  JobStatusMemory memory;
  for (const Poll& poll : polls) {
    SCOPED_TRACE(poll.what);
    EXPECT_EQ(memory.update(snapshotOf(poll.printer), poll.job), poll.sent);
  }
}

TEST(JobsTest, OldestJobNotCompleted) {
  IppBytes bytes;
  bytes.header(0, 1).u8(0x01).attr(0x47, "attributes-charset", "utf-8");
  struct {
    int id;
    int state;
  } jobs[] = {{12, 5}, {7, 9}, {9, 3}, {11, 4}};
  for (const auto& job : jobs) {
    bytes.u8(0x02).integer(0x21, "job-id", job.id).integer(0x23, "job-state", job.state)
        .attr(0x42, "job-name", "doc" + std::to_string(job.id));
  }
  bytes.u8(0x02).attr(0x42, "job-name", "no id").end();
  ipp::DecodeResult result = ipp::decodeResponse(bytes.bytes());
  ASSERT_TRUE(result.ok()) << result.message;
  std::vector<JobSnapshot> read = readJobs(result.response);
  ASSERT_EQ(read.size(), 5u);
  EXPECT_EQ(read[0].id, 12);
  EXPECT_EQ(read[0].state, JobState::kProcessing);
  EXPECT_EQ(read[0].name, "doc12");
  EXPECT_EQ(read[4].id, 0);
  EXPECT_EQ(oldestJobNotCompleted(read), 9);  // 7 is completed
  EXPECT_FALSE(oldestJobNotCompleted({}).has_value());

  JobSnapshot job = readJobSnapshot(result.response);
  EXPECT_EQ(job.id, 12);
  EXPECT_TRUE(isFinal(JobState::kAborted));
  EXPECT_FALSE(isFinal(JobState::kProcessingStopped));
}

}  // namespace
}  // namespace bridge
