#include "e2e/tests/reliability.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>

#include "app/resources/resource_ids.h"
#include "channel/status_record.h"
#include "tools/window_probe.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kSettleMs = 60000;  // a batch of records is handled within this
constexpr char kSnoozeKey[] = "Software\\KRT\\SM";

double secondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

// The template of a dialog on screen, told by its controls: only 115 has the
// links, only 504 the inline picture.
int templateOf(const probe::Dialog& dialog) {
  if (dialog.hasControl(IDC_HELP_LINK)) return IDD_STATUS_DETAILED;
  if (dialog.hasControl(IDC_INLINE_PICTURE)) return IDD_STATUS_INLINE;
  return IDD_STATUS_NOTIFICATION;
}

// A text of the program's own string table (the English texts the language
// data repeats), without carriage returns, as the dialogs are compared.
std::wstring programText(std::uint32_t id) {
  static const HMODULE program =
      LoadLibraryExW(builtFile("app/qmxMeadowMonitor.exe").c_str(), nullptr,
                     LOAD_LIBRARY_AS_DATAFILE);
  wchar_t text[4096] = {};
  const int length = program != nullptr ? LoadStringW(program, id, text, 4096) : 0;
  std::wstring result(text, length > 0 ? static_cast<std::size_t>(length) : 0);
  result.erase(std::remove(result.begin(), result.end(), L'\r'), result.end());
  return result;
}

std::wstring messageOf(const probe::Dialog& dialog) {
  std::wstring text = dialog.text(IDC_MESSAGE);
  text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
  return text;
}

// What each status of the soak does, written out by hand from the status
// rows (template, text, severity) and the rules in README: the model below
// reads none of the program's own tables, so it can disagree with them.
enum class Effect {
  kShows,         // shows its alert, replacing the alert of its template
  kDismissesAll,  // "Ready", "Initializing", "Printing"
  kNothing,       // a row that shows nothing; still the status "more..." tells of
  kUnknown,       // no row: nothing at all
};
struct StatusEffect {
  std::uint32_t code;
  Effect effect;
  int templateId;         // kShows
  std::uint32_t textId;   // what its alert and its details say
  bool closesAtEndOfJob;  // warnings and notices; errors (severity 3) stay
  bool lowInk;            // waits for the snooze
};
const StatusEffect kEffects[] = {
    {40020, Effect::kShows, IDD_STATUS_NOTIFICATION, 7267, true, false},   // Rear Access Door Open
    {40021, Effect::kShows, IDD_STATUS_NOTIFICATION, 7268, true, false},   // Clamshell Open
    {10209, Effect::kShows, IDD_STATUS_NOTIFICATION, 7206, true, true},    // Black Ink Low
    {10214, Effect::kShows, IDD_STATUS_NOTIFICATION, 7211, true, false},   // Infrared Ink Low
    {11011, Effect::kShows, IDD_STATUS_NOTIFICATION, 7291, false, false},  // Waste ink full
    {10001, Effect::kDismissesAll, 0, 7198, false, false},                 // Ready
    {10003, Effect::kDismissesAll, 0, 7200, false, false},                 // Initializing
    {10023, Effect::kDismissesAll, 0, 7199, false, false},                 // Printing
    {10031, Effect::kNothing, 0, 7205, false, false},                      // Cleaning in Progress
    {12345, Effect::kUnknown, 0, 0, false, false},
    {41101, Effect::kShows, IDD_STATUS_INLINE, 7269, true, false},  // manual feed, with a picture
    {40122, Effect::kShows, IDD_STATUS_INLINE, 7271, true,
     false},  // two-sided printing, with a picture
};

const StatusEffect& effectOf(std::uint32_t code) {
  for (const StatusEffect& entry : kEffects) {
    if (entry.code == code) return entry;
  }
  ADD_FAILURE() << "the soak's model does not know status " << code;
  return kEffects[9];  // no row
}

// What the user sees, by the rules in README: at most one alert per
// template, a new status replacing the alert of its template; a status
// whose alert is on screen changes nothing; the dismissing states take every
// alert away; "more..." shows the details (template 115) of the last status
// that was acted on; the end of the job closes the warnings and leaves the
// errors and the details.
class ListenerModel {
 public:
  struct Shown {
    std::uint32_t code = 0;  // 0 for the details asked for with "more..."
    std::uint32_t textId = 0;
    bool closesAtEndOfJob = false;
    HWND window = nullptr;  // once seen on screen
  };

  void status(std::uint32_t code, bool snoozed) {
    const StatusEffect& effect = effectOf(code);
    if (effect.effect == Effect::kUnknown || (effect.lowInk && snoozed)) return;
    for (const auto& entry : shown) {
      if (entry.second.code == code) return;
    }
    last_ = &effect;
    if (effect.effect == Effect::kDismissesAll) shown.clear();
    if (effect.effect == Effect::kShows) {
      shown[effect.templateId] = Shown{code, effect.textId, effect.closesAtEndOfJob, nullptr};
    }
  }

  // False when there is nothing to show details of.
  bool more() {
    if (last_ == nullptr) return false;
    shown[IDD_STATUS_DETAILED] = Shown{0, last_->textId, false, nullptr};
    return true;
  }

  std::map<int, Shown> shown;  // by template

 private:
  const StatusEffect* last_ = nullptr;
};

// Whether the visible dialogs are exactly the model's; remembers their
// windows. `why` tells the difference.
bool screenMatches(DWORD processId, ListenerModel& model, std::string* why) {
  const std::vector<probe::Dialog> visible = probe::visibleDialogsOf(processId);
  std::map<int, const probe::Dialog*> byTemplate;
  for (const probe::Dialog& dialog : visible) {
    if (!byTemplate.emplace(templateOf(dialog), &dialog).second) {
      *why = "two dialogs of template " + std::to_string(templateOf(dialog));
      return false;
    }
  }
  if (visible.size() != model.shown.size()) {
    *why = std::to_string(visible.size()) + " dialogs on screen, " +
           std::to_string(model.shown.size()) + " expected";
    return false;
  }
  for (auto& [templateId, expected] : model.shown) {
    const auto found = byTemplate.find(templateId);
    if (found == byTemplate.end()) {
      *why = "no dialog of template " + std::to_string(templateId);
      return false;
    }
    if (messageOf(*found->second) != programText(expected.textId)) {
      *why = "template " + std::to_string(templateId) + " says \"" +
             probe::utf8(messageOf(*found->second)) + "\", expected text " +
             std::to_string(expected.textId);
      return false;
    }
  }
  for (auto& [templateId, expected] : model.shown) expected.window = byTemplate[templateId]->window;
  return true;
}

void writeSnooze(bool on) {
  RegDeleteTreeA(HKEY_CURRENT_USER, kSnoozeKey);
  if (!on) return;
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSnoozeKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot write the snooze";
    return;
  }
  const std::int64_t tomorrow = static_cast<std::int64_t>(std::time(nullptr)) + 86400;
  RegSetValueExA(key, "snooze", 0, REG_QWORD, reinterpret_cast<const BYTE*>(&tomorrow),
                 sizeof tomorrow);
  RegCloseKey(key);
}

// The status codes a batch draws from, with their weights: notifications
// (one of them low on ink, so snoozed at times), a lasting error, the states
// that dismiss everything, a row that shows nothing, and a code with no row.
// The picture template is kept for the markers that end each batch.
struct Weighted {
  std::uint32_t code;
  int weight;
};
const Weighted kPalette[] = {
    {40020, 12}, {40021, 12}, {10209, 10}, {10214, 8}, {11011, 8},
    {10001, 5},  {10003, 2},  {10023, 3},  {10031, 5}, {12345, 5},
};
// Markers alternate between two picture alerts with different texts: when
// the marker of a batch is on screen, every record before it was handled.
const std::uint32_t kMarkers[] = {41101, 40122};

std::uint32_t drawCode(std::mt19937& random) {
  int total = 0;
  for (const Weighted& entry : kPalette) total += entry.weight;
  int pick = static_cast<int>(random() % static_cast<unsigned>(total));
  for (const Weighted& entry : kPalette) {
    if (pick < entry.weight) return entry.code;
    pick -= entry.weight;
  }
  return kPalette[0].code;
}

}  // namespace

const std::string& realisticJob() {
  static const std::string job =
      "printer-wide USB001: \"Kestrel 100 Series\"\n"
      "job-wide 42 \"Quarterly report 2024 - final.pdf\"\n"
      "event 40020\n"  // rear access door open: a notification (501)
      "event 41101\n"  // manual feed instructions with a picture (504)
      "event 40021\n"  // clamshell open: replaces the notification
      "event 10001\n"  // ready: every alert goes
      "end-job 42\n";
  return job;
}

std::vector<std::size_t> recordBoundaries() {
  std::vector<std::size_t> boundaries{0};
  const std::string& job = realisticJob();
  for (std::size_t start = 0; start < job.size();) {
    const std::size_t end = job.find('\n', start);
    boundaries.push_back(boundaries.back() + streamBytesOf(job.substr(start, end - start)).size());
    start = end + 1;
  }
  return boundaries;
}

std::vector<std::size_t> everyCutOffset() {
  std::vector<std::size_t> offsets(recordBoundaries().back() + 1);
  for (std::size_t i = 0; i < offsets.size(); ++i) offsets[i] = i;
  return offsets;
}

std::vector<std::size_t> sampleCutOffsets() {
  const std::vector<std::size_t> boundaries = recordBoundaries();
  const std::size_t length = boundaries.back();
  std::vector<std::size_t> offsets;
  for (std::size_t i = 0; i < boundaries.size(); ++i) {
    const std::size_t at = boundaries[i];
    if (at > 0) offsets.push_back(at - 1);
    offsets.push_back(at);
    if (at < length) {
      offsets.push_back(at + 1);
      offsets.push_back(at + tarn::kHeaderSize / 2);
    }
  }
  std::sort(offsets.begin(), offsets.end());
  offsets.erase(std::unique(offsets.begin(), offsets.end()), offsets.end());
  return offsets;
}

CutTally cutJobAt(const std::vector<std::size_t>& offsets) {
  const std::vector<std::uint8_t> job = streamBytesOf(realisticJob());
  CutTally tally;
  const Clock::time_point start = Clock::now();
  for (std::size_t offset : offsets) {
    if (offset > job.size()) continue;
    ++tally.cuts;
    std::string script = offset > 0 ? rawLine(job.data(), offset) : std::string();
    script += "flush\ncut\n";
    MonitorRun run(script);
    DWORD code = 0xDEAD;
    const bool ended = run.started() && run.waitForExit(kExitMs, &code);
    if (ended && code == 0) {
      ++tally.cleanExits;
      continue;
    }
    ADD_FAILURE() << "cut after " << offset << " of " << job.size() << " bytes: "
                  << (ended ? "exit code " + std::to_string(code) : std::string("no end in time"))
                  << "\n"
                  << run.logSoFar();
  }
  std::printf("%d cuts, %d clean exits (job of %zu bytes, %.1f s)\n", tally.cuts,
              tally.cleanExits, job.size(), secondsSince(start));
  std::fflush(stdout);
  return tally;
}

SoakReport soak(const SoakOptions& options) {
  SoakReport report;
  const int batches = std::max(1, (options.changes + options.batchSize - 1) / options.batchSize);
  std::mt19937 random(options.seed);

  // The whole job is written before it starts: each batch, then a wait for
  // the user's turn.
  std::vector<std::vector<std::uint32_t>> codes(static_cast<std::size_t>(batches));
  std::string script = "printer LPT1: \"Kestrel 100\"\njob 7 soak.pdf\n";
  for (int batch = 0; batch < batches; ++batch) {
    const int size = std::min(options.batchSize, options.changes - batch * options.batchSize);
    for (int i = 0; i + 1 < size; ++i) codes[batch].push_back(drawCode(random));
    codes[batch].push_back(kMarkers[batch % 2]);
    for (std::uint32_t code : codes[batch]) script += "event " + std::to_string(code) + "\n";
    script += "wait-event {ID}-turn" + std::to_string(batch) + " 600000\n";
  }
  script += "end-job 7\npause 600000\n";

  writeSnooze(false);
  RunOptions runOptions;
  runOptions.simulatorTimeoutMs = 0;  // the test ends it
  MonitorRun run(script, runOptions);
  if (!run.started()) {
    ADD_FAILURE() << "the soak did not start";
    return report;
  }
  const DWORD id = run.monitorId();
  ListenerModel model;
  bool snoozed = false;
  int hiddenWindows = -1;  // top-level windows that are not dialogs, from the first batch on
  const Clock::time_point begun = Clock::now();

  for (int batch = 0; batch < batches; ++batch) {
    for (std::uint32_t code : codes[batch]) model.status(code, snoozed);
    const std::wstring marker = programText(effectOf(kMarkers[batch % 2]).textId);
    const bool handled = probe::waitUntil(
        [&] {
          for (const probe::Dialog& dialog : probe::visibleDialogsOf(id)) {
            if (templateOf(dialog) == IDD_STATUS_INLINE && messageOf(dialog) == marker) return true;
          }
          return run.ended();
        },
        kSettleMs);
    std::string why;
    if (!handled || run.ended() ||
        !probe::waitUntil([&] { return screenMatches(id, model, &why); }, 5000)) {
      ADD_FAILURE() << "batch " << batch << ": "
                    << (run.ended() ? "the program ended" : handled ? why : "not handled in time");
      return report;
    }
    report.batches = batch + 1;
    report.changes += static_cast<int>(codes[batch].size());  // each one seen handled

    const ProcessFigures figures = run.figures();
    const int hidden = figures.topLevelWindows - static_cast<int>(model.shown.size());
    if (hiddenWindows < 0) {
      hiddenWindows = hidden;
      report.start = figures;
      report.dialogsAtStart = model.shown.size();
    } else if (hidden != hiddenWindows) {
      ADD_FAILURE() << "batch " << batch << ": " << hidden << " top-level windows besides the "
                    << "dialogs, " << hiddenWindows << " at the start";
    }
    report.end = figures;
    report.dialogsAtEnd = model.shown.size();

    // The user's turn.
    const int choice = static_cast<int>(random() % 100);
    if (choice < 35 && !model.shown.empty()) {
      auto closed = model.shown.begin();
      std::advance(closed, random() % model.shown.size());
      const HWND window = closed->second.window;
      model.shown.erase(closed);
      probe::pressCloseBox(window);
      if (!probe::waitUntil([&] { return !IsWindow(window); }, kExitMs)) {
        ADD_FAILURE() << "batch " << batch << ": a dialog the user closed stayed";
      }
      ++report.closedByUser;
    } else if (choice < 60 && !model.shown.empty()) {
      auto clicked = model.shown.begin();
      std::advance(clicked, random() % model.shown.size());
      const HWND window = clicked->second.window;
      const auto oldDetails = model.shown.find(IDD_STATUS_DETAILED);
      const HWND previous = oldDetails != model.shown.end() ? oldDetails->second.window : nullptr;
      if (model.more()) {
        probe::clickControl(window, IDC_MORE_LINK);
        const std::wstring text = programText(model.shown[IDD_STATUS_DETAILED].textId);
        const bool shown = probe::waitUntil(
            [&] {
              for (const probe::Dialog& dialog : probe::visibleDialogsOf(id)) {
                if (templateOf(dialog) == IDD_STATUS_DETAILED && dialog.window != previous &&
                    messageOf(dialog) == text) {
                  return true;
                }
              }
              return false;
            },
            kExitMs);
        if (!shown) ADD_FAILURE() << "batch " << batch << ": no details after \"more...\"";
        ++report.moreRequests;
      }
    } else if (choice < 80) {
      snoozed = !snoozed;
      writeSnooze(snoozed);
      ++report.snoozeChanges;
    }
    if (!probe::waitUntil([&] { return screenMatches(id, model, &why); }, 5000)) {
      ADD_FAILURE() << "batch " << batch << ", after the user's turn: " << why;
      return report;
    }
    run.signal("turn" + std::to_string(batch));
  }

  // The end of the job closes what closes with it; the user closes the rest,
  // and with the last of them the program ends.
  for (auto it = model.shown.begin(); it != model.shown.end();) {
    it = it->second.closesAtEndOfJob ? model.shown.erase(it) : std::next(it);
  }
  std::string why;
  if (!model.shown.empty()) {
    // The dialogs that stay are the ones on screen once the others are gone.
    if (!probe::waitUntil([&] { return screenMatches(id, model, &why); }, kSettleMs)) {
      ADD_FAILURE() << "at the end of the job: " << why;
    }
    for (const auto& entry : model.shown) probe::pressCloseBox(entry.second.window);
  }
  DWORD code = 0xDEAD;
  EXPECT_TRUE(run.waitForExit(kExitMs, &code)) << "the program did not end with the job";
  EXPECT_EQ(code, 0u);
  writeSnooze(false);

  std::printf(
      "soak: %d status changes in %d batches (%.1f s); the user closed %d dialogs, asked %d "
      "times for more..., changed the snooze %d times; exit code %lu\n",
      report.changes, report.batches, secondsSince(begun), report.closedByUser,
      report.moreRequests, report.snoozeChanges, code);
  std::printf("soak start (%zu dialogs): %s\n", report.dialogsAtStart,
              describe(report.start).c_str());
  std::printf("soak end (%zu dialogs): %s\n", report.dialogsAtEnd, describe(report.end).c_str());
  std::fflush(stdout);
  return report;
}

TeardownTally teardownUnderLoad(int runs, unsigned seed) {
  // Each of these shows a dialog, replacing the one of its template.
  const std::uint32_t kShowing[] = {40020, 41101, 40021, 40122};
  std::mt19937 random(seed);
  TeardownTally tally;
  const Clock::time_point start = Clock::now();
  for (int i = 0; i < runs; ++i) {
    const std::size_t before = random() % 40;
    const std::size_t after = random() % 3 == 0 ? 0 : 200 + random() % 2000;
    const int ending = static_cast<int>(random() % 3);
    std::vector<std::uint8_t> flood;
    for (std::size_t n = 0; n < before + 1 + after; ++n) {
      const std::vector<std::uint8_t> record =
          n == before ? tarn::encodeJobEnd(7) : tarn::encodeStatus(kShowing[n % 4]);
      flood.insert(flood.end(), record.begin(), record.end());
    }
    std::string script = "printer LPT1: Kestrel\njob 7 teardown.pdf\n" +
                         rawLine(flood.data(), flood.size());
    if (after > 0) script += rawLine(flood.data() + flood.size() - 20 * after, 20 * after);
    script += ending == 0 ? "pause 30000\n" : ending == 1 ? "close\n" : "cut\n";
    MonitorRun run(script);
    ++tally.runs;
    DWORD code = 0xDEAD;
    const bool ended = run.started() && run.waitForExit(kExitMs, &code);
    if (ended && code == 0) {
      ++tally.cleanExits;
      continue;
    }
    ADD_FAILURE() << "teardown " << i << " (end of job after " << before << " records, " << after
                  << " after it): "
                  << (ended ? "exit code " + std::to_string(code) : std::string("no end in time"))
                  << "\n"
                  << run.logSoFar();
  }
  std::printf("%d teardowns, %d clean exits (%.1f s)\n", tally.runs, tally.cleanExits,
              secondsSince(start));
  std::fflush(stdout);
  return tally;
}

}  // namespace e2e
