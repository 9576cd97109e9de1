// The monitor program as the port monitor and a user meet it: the real
// executable under the port-monitor simulator, over real named pipes, its
// windows watched and clicked from this process.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/resources/resource_ids.h"
#include "app/tests/snooze_key.h"
#include "e2e/tests/monitor_run.h"
#include "platform/text.h"
#include "tools/window_probe.h"

namespace {

using e2e::exitCodeWatching;
using e2e::kExitMs;
using e2e::kShowMs;
using e2e::MonitorRun;
using e2e::RunOptions;
using e2e::waitForAlert;
using probe::Dialog;

const char kJobStart[] =
    "printer LPT1: \"Kestrel 100\"\n"
    "job 7 report.pdf\n";

std::wstring wide(const char* utf8) {
  return platform::utf8ToWide(utf8);
}

DWORD exitCode(MonitorRun& run) {
  DWORD code = 0;
  EXPECT_TRUE(run.waitForExit(kExitMs, &code)) << "the program did not end\n" << run.logSoFar();
  return code;
}

TEST(Program, AlertAppearsInTheCornerAndReadyDismissesIt) {
  MonitorRun run(std::string(kJobStart) +
                 "event 40020\n"
                 "wait-event {ID}-seen 30000\n"
                 "event 10001\n"
                 "wait-event {ID}-gone 30000\n"
                 "end-job 7\n");
  ASSERT_TRUE(run.started());
  const Dialog alert = waitForAlert(run, L"Rear Access Door Open");
  EXPECT_EQ(L"Printer Alert", alert.caption);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_EQ(work.right, alert.rect.right);
  EXPECT_EQ(work.bottom, alert.rect.bottom);

  run.signal("seen");
  EXPECT_TRUE(probe::waitUntil([&] { return probe::dialogsOf(run.monitorId()).empty(); }, kShowMs))
      << "the dismissed alert left a window behind";
  run.signal("gone");
  EXPECT_EQ(0u, exitCode(run));
}

TEST(Program, SameStatusTwiceShowsOneAlertAndTheNextOfItsTemplateReplacesIt) {
  MonitorRun run(std::string(kJobStart) +
                 "event 40020\n"
                 "event 40020\n"
                 "event 41101\n"  // another template: everything before it was handled
                 "wait-event {ID}-counted 30000\n"
                 "event 40021\n"
                 "wait-event {ID}-replaced 30000\n"
                 "end-job 7\n");
  ASSERT_TRUE(run.started());
  const Dialog first = waitForAlert(run, L"Rear Access Door Open");
  ASSERT_EQ(2u, probe::waitForVisibleDialogs(run.monitorId(), 2, kShowMs).size());
  EXPECT_EQ(2u, probe::dialogsOf(run.monitorId()).size()) << "hidden windows included";

  run.signal("counted");
  const Dialog second = waitForAlert(run, L"Clamshell Open");
  EXPECT_NE(first.window, second.window);
  EXPECT_FALSE(IsWindow(first.window)) << "the replaced alert's window is still there";
  EXPECT_EQ(2u, probe::dialogsOf(run.monitorId()).size());
  run.signal("replaced");
  EXPECT_EQ(0u, exitCode(run));
}

TEST(Program, TwoTemplatesSideBySideBothCloseAtTheEndOfTheJob) {
  MonitorRun run(std::string(kJobStart) +
                 "event 40020\n"
                 "event 41101\n"
                 "wait-event {ID}-both 30000\n"
                 "end-job 7\n"
                 "pause 30000\n");  // the stream stays open: the end of job alone ends it
  ASSERT_TRUE(run.started());
  const Dialog notification = waitForAlert(run, L"Rear Access Door Open");
  const auto dialogs = probe::waitForVisibleDialogs(run.monitorId(), 2, kShowMs);
  ASSERT_EQ(2u, dialogs.size());
  const Dialog& other = dialogs[0].window == notification.window ? dialogs[1] : dialogs[0];
  EXPECT_EQ(L"Printer Alert", other.caption);
  EXPECT_EQ(0, wcsncmp(other.text(IDC_MESSAGE).c_str(), L"Follow these instructions", 25));
  EXPECT_EQ(100, other.rect.left);
  EXPECT_EQ(100, other.rect.top);
  run.signal("both");
  EXPECT_EQ(0u, exitCode(run));
}

// An error that outlives the job stays until the user closes it, and so do
// the details asked for with "more...": the program ends with the last one.
TEST(Program, ErrorsStayAfterTheJobUntilTheUserClosesThem) {
  MonitorRun run(std::string(kJobStart) +
                 "event 11011\n"
                 "wait-event {ID}-details 30000\n"
                 "end-job 7\n"
                 "event 41101\n"  // shows once the end of the job has been handled
                 "wait-event {ID}-one-closed 30000\n"
                 "event 10001\n"  // dismisses 41101 once the close has been handled
                 "pause 60000\n");
  ASSERT_TRUE(run.started());
  const Dialog error = waitForAlert(run, L"Waste ink container full. Contact service.");
  ASSERT_TRUE(probe::clickControl(error.window, IDC_MORE_LINK));
  const auto both = probe::waitForVisibleDialogs(run.monitorId(), 2, kShowMs);
  ASSERT_EQ(2u, both.size());
  const Dialog& details = both[0].window == error.window ? both[1] : both[0];
  EXPECT_EQ(L"Waste ink container full. Contact service.", details.text(IDC_MESSAGE));
  EXPECT_EQ(L"Help", details.text(IDC_HELP_LINK));
  EXPECT_EQ(L"User Manual", details.text(IDC_MANUAL_LINK));

  run.signal("details");
  const auto after = probe::waitForVisibleDialogs(run.monitorId(), 3, kShowMs);
  ASSERT_EQ(3u, after.size()) << "errors closed at end of job";
  HWND marker = nullptr;
  for (const Dialog& dialog : after) {
    if (dialog.window != error.window && dialog.window != details.window) marker = dialog.window;
  }
  EXPECT_TRUE(IsWindowVisible(error.window));
  EXPECT_TRUE(IsWindowVisible(details.window));

  probe::pressCloseBox(details.window);
  EXPECT_TRUE(probe::waitUntil([&] { return !IsWindow(details.window); }, kShowMs));
  run.signal("one-closed");
  EXPECT_TRUE(probe::waitUntil([&] { return !IsWindow(marker); }, kShowMs));
  EXPECT_FALSE(run.ended()) << "closing one alert ended the program under the other";
  EXPECT_TRUE(IsWindowVisible(error.window));
  probe::pressCloseBox(error.window);
  EXPECT_EQ(0u, exitCode(run));
}

// After the end of the job: a second end of the job leaves the error where
// it is, the same error reported again is not shown twice, and a status that
// dismisses the last alert ends the program.
TEST(Program, AfterTheJobTheProgramEndsWhenNothingIsLeftOnScreen) {
  MonitorRun run(std::string(kJobStart) +
                 "event 11011\n"
                 "wait-event {ID}-shown 30000\n"
                 "end-job 7\n"
                 "end-job 7\n"
                 "event 11011\n"
                 "event 41101\n"  // shows once everything before it has been handled
                 "wait-event {ID}-closed 30000\n"
                 "event 10001\n"
                 "pause 60000\n");  // the stream stays open, as a port monitor keeps it
  ASSERT_TRUE(run.started());
  const Dialog error = waitForAlert(run, L"Waste ink container full. Contact service.");
  run.signal("shown");
  // 41101's alert: a picture alert, template 504.
  ASSERT_TRUE(probe::waitUntil(
      [&] {
        for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
          if (dialog.text(IDC_MESSAGE).rfind(L"Follow these", 0) == 0) return true;
        }
        return false;
      },
      kShowMs))
      << "no alert after the second end of the job: the program ended\n"
      << run.logSoFar();
  const auto shown = probe::visibleDialogsOf(run.monitorId());
  EXPECT_TRUE(IsWindowVisible(error.window)) << "the second end of the job closed the error";
  EXPECT_EQ(2u, shown.size()) << "the error reported again after the job is shown twice";
  HWND marker = nullptr;
  for (const Dialog& dialog : shown) {
    if (dialog.window != error.window) marker = dialog.window;
  }

  probe::pressCloseBox(error.window);
  EXPECT_TRUE(probe::waitUntil([&] { return !IsWindow(error.window); }, kShowMs));
  EXPECT_TRUE(IsWindow(marker));
  run.signal("closed");
  EXPECT_EQ(0u, exitCode(run)) << "\"Ready\" took the last alert away, yet the program went on";
}

TEST(Program, CancelCommandEndsTheProgram) {
  MonitorRun run(std::string(kJobStart) +
                 "event 40020\n"
                 "pause 60000\n");
  ASSERT_TRUE(run.started());
  const Dialog alert = waitForAlert(run, L"Rear Access Door Open");
  probe::clickControl(alert.window, IDCANCEL);
  EXPECT_EQ(0u, exitCode(run));
}

class Snooze : public SnoozeKeyTest {
 protected:
  // Plays a low-ink alert with the snooze as it stands, then a marker of
  // another template; answers whether the low-ink alert was shown. The other
  // low-ink code, 10214, is shown whatever the snooze.
  static bool lowInkShown() {
    MonitorRun run(std::string(kJobStart) +
                   "event 10209\n"
                   "event 41101\n"
                   "wait-event {ID}-looked 30000\n"
                   "event 10214\n"
                   "wait-event {ID}-done 30000\n"
                   "end-job 7\n");
    EXPECT_TRUE(run.started());
    bool shown = false;
    const bool settled = probe::waitUntil(
        [&] {
          const auto dialogs = probe::visibleDialogsOf(run.monitorId());
          for (const Dialog& dialog : dialogs) {
            if (dialog.text(IDC_MESSAGE) == L"Black Ink Low") shown = true;
          }
          return dialogs.size() == (shown ? 2u : 1u) &&
                 std::any_of(dialogs.begin(), dialogs.end(), [](const Dialog& d) {
                   return d.text(IDC_MESSAGE).rfind(L"Follow these", 0) == 0;
                 });
        },
        kShowMs);
    // A screen that never showed the marker says nothing about the alert.
    EXPECT_TRUE(settled) << "the marker alert never showed";
    run.signal("looked");
    waitForAlert(run, L"Infrared Ink Low");
    run.signal("done");
    EXPECT_EQ(0u, exitCode(run));
    return shown;
  }
};

TEST_F(Snooze, HidesLowInkAlertsUntilItsTime) {
  const std::int64_t now = std::time(nullptr);
  EXPECT_TRUE(lowInkShown()) << "no snooze";

  std::int64_t future = now + 86400;
  store(REG_QWORD, &future, 8);
  EXPECT_FALSE(lowInkShown()) << "a snooze until tomorrow";

  std::int64_t past = now - 60;
  store(REG_QWORD, &past, 8);
  EXPECT_TRUE(lowInkShown()) << "a snooze that has passed";

  const std::uint32_t fourBytes = static_cast<std::uint32_t>(now + 86400);
  store(REG_DWORD, &fourBytes, 4);
  EXPECT_FALSE(lowInkShown()) << "a 4-byte value";

  std::int64_t tooFar = now + 2147483648LL + 100;
  store(REG_QWORD, &tooFar, 8);
  EXPECT_TRUE(lowInkShown()) << "a snooze beyond 32 bits of seconds";
}

// The shapes a writer may leave the value in, each with the outcome the
// snooze rule gives it (app/snooze.h; the reading itself is unit-tested in
// app/tests/snooze_test.cpp), and a key the user may not read.
TEST_F(Snooze, EveryShapeOfTheValueAndAKeyThatCannotBeReadHaveTheirOutcome) {
  const std::int64_t tomorrow = std::time(nullptr) + 86400;

  std::int64_t negative = -1;
  store(REG_QWORD, &negative, 8);
  EXPECT_FALSE(lowInkShown()) << "a negative time snoozes for ever";

  store(REG_SZ, "1", 2);
  EXPECT_TRUE(lowInkShown()) << "a text: its bytes are a time long past";

  const std::uint8_t oneByte = 0x7F;
  store(REG_BINARY, &oneByte, 1);
  EXPECT_TRUE(lowInkShown()) << "one byte: a time long past";

  std::int64_t sixteen[2] = {tomorrow, tomorrow};
  store(REG_BINARY, sixteen, 16);
  EXPECT_TRUE(lowInkShown()) << "16 bytes cannot be read: no snooze";

  RegDeleteTreeA(HKEY_CURRENT_USER, kKey);
  store(REG_QWORD, &tomorrow, 8);
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_SET_VALUE, &key));
  RegDeleteValueA(key, "snooze");
  RegCloseKey(key);
  EXPECT_TRUE(lowInkShown()) << "the key without the value";

  // Wine checks a key's access list as Windows does: the snooze until
  // tomorrow is there, but the program may not read it.
  store(REG_QWORD, &tomorrow, 8);
  setKeyAccess("D:P");
  ASSERT_NE(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key));
  EXPECT_TRUE(lowInkShown()) << "a key the program may not read";
}

// Under each locale (the test is run once per locale, see CMakeLists.txt)
// the alert speaks the user's language; a language without texts of its own
// reads English throughout, never a mixture.
TEST(Languages, AlertSpeaksTheUsersLanguage) {
  const char* locale = std::getenv("MONITOR_EXPECTED_LOCALE");
  if (locale == nullptr) GTEST_SKIP() << "run by the per-locale tests";
  struct Expected {
    const char* locale;
    const char* caption;
    const char* message;
  };
  static const Expected kExpected[] = {
      {"en_US", "Printer Alert", "Rear Access Door Open"},
      {"de_DE", "Druckerwarnung", "Hintere Zugangsklappe offen"},
      {"fr_FR", "Alerte d'imprimante", "Porte d'accès arrière ouverte"},
      {"es_ES", "Alerta de impresora", "Puerta de acceso posterior abierta"},
      {"zh_CN", "打印机提醒", "后检修门已打开"},
      {"it_IT", "Printer Alert", "Rear Access Door Open"},
  };
  const Expected* expected = nullptr;
  for (const Expected& entry : kExpected) {
    if (std::string(entry.locale) == locale) expected = &entry;
  }
  ASSERT_NE(nullptr, expected) << locale;

  MonitorRun run(std::string(kJobStart) +
                 "event 40020\n"
                 "wait-event {ID}-read 30000\n"
                 "end-job 7\n");
  ASSERT_TRUE(run.started());
  const Dialog alert = waitForAlert(run, wide(expected->message));
  EXPECT_EQ(wide(expected->caption), alert.caption);
  run.signal("read");
  EXPECT_EQ(0u, exitCode(run));
}

// A port monitor names its pipes after the printer. The name reaches the
// program whatever the user's code page holds of it: run once per locale
// (see CMakeLists.txt): German, whose code page holds "ü" and "é" but not the
// Chinese character, and Chinese, whose code page holds the character.
TEST(PipeNames, ANameWithLettersBeyondAsciiReachesTheStream) {
  RunOptions options;
  options.nameSuffix = "-B\xC3\xBCro-caf\xC3\xA9-\xE6\x89\x93";  // "-Büro-café-打"
  MonitorRun run(std::string(kJobStart) +
                     "event 40020\n"
                     "wait-event {ID}-seen 30000\n"
                     "end-job 7\n",
                 options);
  ASSERT_TRUE(run.started());
  EXPECT_EQ(1u, probe::waitForVisibleDialogs(run.monitorId(), 1, kShowMs).size())
      << "no alert: the program did not open the status stream\n"
      << run.logSoFar();
  run.signal("seen");
  EXPECT_EQ(0u, exitCode(run));
  EXPECT_NE(std::string::npos, run.simulatorLog().find("status stream connected"));
}

// Starts that cannot work, and streams that break, end the program quietly.
TEST(Program, BadStartsAndBrokenStreamsEndWithExitCodeZeroAndNoWindow) {
  struct Case {
    const char* what;
    const char* arguments;
    const char* script;
  };
  const Case cases[] = {
      {"no command line", "none", "pause 100\n"},
      {"a command line of blanks", "   ", "pause 100\n"},
      {"a pipe that does not exist", "pipe=\\\\.\\pipe\\{ID}-absent", "pause 100\n"},
      {"a key the monitor does not know", "pipes=\\\\.\\pipe\\{ID}", "pause 100\n"},
      {"a stream cut in mid-record", "pipe",
       "printer LPT1: Kestrel\nraw 54 41 52 4e 02 00 00 00 03 00 00 00 04 00 00 00 24 9c\ncut\n"
       "pause 30000\n"},
      {"a wrong magic", "pipe",
       "printer LPT1: Kestrel\nraw 54 41 52 58 02 00 00 00 03 00 00 00 04 00 00 00 24 9c 00 00\n"
       "pause 30000\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RunOptions options;
    options.monitorArguments = c.arguments;
    MonitorRun run(c.script, options);
    ASSERT_TRUE(run.started());
    std::size_t mostDialogs = 0;
    EXPECT_EQ(0u, exitCodeWatching(run, [&] {
                mostDialogs = std::max(mostDialogs, probe::visibleDialogsOf(run.monitorId()).size());
              }));
    EXPECT_EQ(0u, mostDialogs);
  }
}

TEST(Program, StartsWithInheritedHandleNumbers) {
  RunOptions options;
  options.throughSimulatorWithHandles = true;
  MonitorRun run(std::string(kJobStart) +
                     "event 40020\n"
                     "wait-event {ID}-seen 30000\n"
                     "end-job 7\n",
                 options);
  ASSERT_TRUE(run.started());
  waitForAlert(run, L"Rear Access Door Open");
  run.signal("seen");
  EXPECT_EQ(0u, exitCode(run));
  EXPECT_NE(std::string::npos, run.simulatorLog().find("exit code 0"));
}

}  // namespace
