// Status streams a broken or hostile port monitor could write, and records
// that arrive while the user holds the program's only thread in a drag or a
// message box: the real program under the simulator, watched from here.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "channel/status_record.h"
#include "e2e/tests/monitor_run.h"
#include "tools/window_probe.h"

namespace {

using e2e::kExitMs;
using e2e::kShowMs;
using e2e::MonitorRun;
using e2e::waitForAlert;
using probe::Dialog;

const char kJobStart[] =
    "printer LPT1: \"Kestrel 100\"\n"
    "job 7 report.pdf\n";

// A script built line by line, so that a test knows the line numbers the
// simulator's log will name.
class Script {
 public:
  explicit Script(const std::string& start = kJobStart) { add(start); }
  // Adds one or more lines; answers the number of the last.
  int add(const std::string& lines) {
    text_ += lines;
    if (!text_.empty() && text_.back() != '\n') text_ += '\n';
    lines_ = static_cast<int>(std::count(text_.begin(), text_.end(), '\n'));
    return lines_;
  }
  const std::string& text() const { return text_; }

 private:
  std::string text_;
  int lines_ = 0;
};

std::string flushedAt(int line) {
  return "line " + std::to_string(line) + ": flush: read by the monitor";
}

int templateOf(const Dialog& dialog) {
  if (dialog.hasControl(IDC_HELP_LINK)) return IDD_STATUS_DETAILED;
  if (dialog.hasControl(IDC_INLINE_PICTURE)) return IDD_STATUS_INLINE;
  return IDD_STATUS_NOTIFICATION;
}

// The visible dialogs by template, with their messages' first lines.
std::map<int, std::wstring> screenOf(const MonitorRun& run) {
  std::map<int, std::wstring> screen;
  for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
    if (dialog.caption.rfind(L"IDC_", 0) == 0) continue;  // a link's message box
    std::wstring text = dialog.text(IDC_MESSAGE);
    text = text.substr(0, text.find_first_of(L"\r\n"));
    screen[templateOf(dialog)] = text;
  }
  return screen;
}

std::string describe(const std::map<int, std::wstring>& screen) {
  std::string text;
  for (const auto& [id, message] : screen) {
    text += std::to_string(id) + ": \"" + probe::utf8(message) + "\"  ";
  }
  return text.empty() ? "nothing" : text;
}

// Waits until exactly these dialogs (template: first line of the message)
// are on screen.
bool waitForScreen(const MonitorRun& run, const std::map<int, std::wstring>& expected,
                   std::string* seen) {
  const bool matched = probe::waitUntil([&] { return screenOf(run) == expected; }, kShowMs);
  *seen = describe(screenOf(run));
  return matched;
}

// The program's exit code once it ended (0xDEAD when it had to be ended);
// meanwhile records every template it showed.
DWORD exitCodeWatching(MonitorRun& run, std::map<int, int>* templatesSeen = nullptr) {
  return e2e::exitCodeWatching(run, [&] {
    if (templatesSeen == nullptr) return;
    for (const auto& entry : screenOf(run)) ++(*templatesSeen)[entry.first];
  });
}

const wchar_t kDoorOpen[] = L"Rear Access Door Open";
const wchar_t kClamshell[] = L"Clamshell Open";
const wchar_t kManualFeed[] = L"Follow these instructions to print using the Manual Feed Tray.";
const wchar_t kDuplex[] =
    L"One side of each page is printed first, after which the printer will pause.";
const wchar_t kBlackInk[] = L"Black Ink Low";
const wchar_t kWasteInk[] = L"Waste ink container full. Contact service.";

// A length field of 4 GiB - 1 and the stream closed while the reader skips
// it: the reader keeps one mebibyte of it, never more, and the program ends.
TEST(HostileStream, FourGibibyteLengthThenACloseEndsQuietlyWithinTheReadersBuffer) {
  Script job;
  job.add("event 40020\nwait-event {ID}-measured 30000");
  const std::vector<std::uint8_t> header = tarn::encodeHeader(2, 3, 0xFFFFFFFFu);
  job.add(e2e::rawLine(header.data(), header.size()));
  job.add("raw zeros:3145728");
  const int flush = job.add("flush");
  job.add("wait-event {ID}-grown 30000\nclose\npause 30000");
  MonitorRun run(job.text());
  ASSERT_TRUE(run.started());
  waitForAlert(run, kDoorOpen);
  const e2e::ProcessFigures before = run.figures();
  run.signal("measured");
  ASSERT_TRUE(run.waitForLog(flushedAt(flush), kShowMs)) << run.logSoFar();
  const e2e::ProcessFigures after = run.figures();
  run.signal("grown");
  std::printf("4 GiB record, 3 MiB of it read: private bytes %+.2f MB\n",
              (static_cast<double>(after.privateBytes) - static_cast<double>(before.privateBytes)) /
                  (1024.0 * 1024.0));
  EXPECT_LT(after.privateBytes, before.privateBytes + 4 * 1024 * 1024)
      << "before: " << e2e::describe(before) << "\nafter: " << e2e::describe(after);
  EXPECT_EQ(0u, exitCodeWatching(run)) << run.logSoFar();
}

// A status record one byte longer than the reader keeps: its first mebibyte
// is decoded (the status in its first four bytes shows), the byte beyond is
// skipped, and the next record is read from the byte after it.
TEST(HostileStream, ARecordOfOneMebibyteAndOneByteShowsAndSoDoesTheAlertAfterIt) {
  Script script;
  script.add("record 2 3 u32:40020 zeros:1048573");  // 1048577 payload bytes
  script.add("event 41101\nwait-event {ID}-seen 30000\nend-job 7\npause 30000");
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  std::string seen;
  EXPECT_TRUE(waitForScreen(
      run, {{IDD_STATUS_NOTIFICATION, kDoorOpen}, {IDD_STATUS_INLINE, kManualFeed}}, &seen))
      << seen;
  run.signal("seen");
  EXPECT_EQ(0u, exitCodeWatching(run));
}

// A wrong magic after valid records ends the reading: what came before was
// shown, nothing after it is looked at, and the program ends quietly.
TEST(HostileStream, AWrongMagicAfterValidRecordsEndsTheProgramAndNothingAfterItShows) {
  Script script;
  script.add("event 40020\nwait-event {ID}-shown 30000");
  script.add("raw 54415258 02000000 03000000 04000000 4da00000");  // "TARX", event 41037
  script.add("event 41101\nevent 11011\npause 30000");
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  waitForAlert(run, kDoorOpen);
  run.signal("shown");
  std::map<int, int> templatesSeen;
  EXPECT_EQ(0u, exitCodeWatching(run, &templatesSeen));
  EXPECT_EQ(0, templatesSeen[IDD_STATUS_INLINE]) << "a record after the wrong magic was acted on";
  EXPECT_EQ(0, templatesSeen[IDD_STATUS_DETAILED]) << "a record after the wrong magic was acted on";
}

// Five thousand records in one write: two alerts of one template (the
// second, a lasting error, replaces the first), records that change nothing
// on screen, and an alert of another template. All of them are read and
// handled in order, and the program ends once the user closes the error.
TEST(HostileStream, ThousandsOfRecordsInOneWriteAreAllHandledInOrder) {
  constexpr int kQuiet = 4997;
  std::vector<std::uint8_t> flood = tarn::encodeStatus(40021);
  const std::vector<std::uint8_t> error = tarn::encodeStatus(11011);
  flood.insert(flood.end(), error.begin(), error.end());
  for (int i = 0; i < kQuiet; ++i) {
    // A code without a row, and the class-0 status the program ignores.
    const std::vector<std::uint8_t> record =
        i % 2 == 0 ? tarn::encodeStatus(12345) : tarn::encodeSeverityStatus(2, 40020);
    flood.insert(flood.end(), record.begin(), record.end());
  }
  const std::vector<std::uint8_t> picture = tarn::encodeStatus(41101);
  flood.insert(flood.end(), picture.begin(), picture.end());
  Script script;
  script.add(e2e::rawLine(flood.data(), flood.size()));
  script.add("wait-event {ID}-seen 30000\nend-job 7\npause 30000");
  const auto start = std::chrono::steady_clock::now();
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  std::string seen;
  EXPECT_TRUE(waitForScreen(
      run, {{IDD_STATUS_NOTIFICATION, kWasteInk}, {IDD_STATUS_INLINE, kManualFeed}}, &seen))
      << seen;
  std::printf("%d records (%zu bytes) in one write: on screen after %.0f ms\n", kQuiet + 3,
              flood.size(),
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                  .count());
  run.signal("seen");
  // The error stays after the job until the user closes it.
  EXPECT_TRUE(waitForScreen(run, {{IDD_STATUS_NOTIFICATION, kWasteInk}}, &seen)) << seen;
  for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
    probe::pressCloseBox(dialog.window);
  }
  EXPECT_EQ(0u, exitCodeWatching(run));
}

// A record dribbled out one byte at a time with pauses between the bytes
// (the header arrives in sixteen reads) still makes its alert.
TEST(HostileStream, ARecordSplitIntoOneByteWritesWithPausesStillShowsItsAlert) {
  Script script;
  for (std::uint8_t byte : tarn::encodeStatus(40020)) {
    script.add(e2e::rawLine(&byte, 1) + "pause 25");
  }
  script.add("wait-event {ID}-seen 30000\nend-job 7\npause 30000");
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  waitForAlert(run, kDoorOpen);
  run.signal("seen");
  EXPECT_EQ(0u, exitCodeWatching(run));
}

// Records that arrive while the user drags an alert with the mouse: the drag
// holds the program's only thread in the system's move loop, the records
// wait, and once the alert is dropped every one of them is handled, in the
// order it came: the ready status between the two picture alerts must come
// after the first and before the second, or the screen differs.
TEST(UserHoldsTheThread, RecordsArrivingWhileAnAlertIsDraggedAreHandledInOrderAfterTheDrop) {
  Script script;
  script.add("event 40020\nwait-event {ID}-dragging 30000");
  script.add(
      "event 41101\n"   // a picture alert
      "event 40021\n"   // replaces the dragged alert
      "event 10001\n"   // ready: both go
      "event 40122");   // another picture alert
  const int flush = script.add("flush");
  script.add("wait-event {ID}-dropped 30000\nend-job 7\npause 30000");
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  const Dialog alert = waitForAlert(run, kDoorOpen);
  ASSERT_NE(alert.window, nullptr);

  // A point of the caption, as the window itself tells it.
  POINT grip{};
  for (LONG y = alert.rect.top; y < alert.rect.bottom && grip.x == 0; ++y) {
    const LONG x = (alert.rect.left + alert.rect.right) / 2;
    DWORD_PTR hit = 0;
    if (SendMessageTimeoutW(alert.window, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                            2000, &hit) != 0 &&
        hit == HTCAPTION) {
      grip = POINT{x, y};
    }
  }
  ASSERT_NE(grip.x, 0) << "the alert has no caption to drag it by";
  const auto mouse = [](DWORD flags, POINT at = POINT{}) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    if (flags & MOUSEEVENTF_MOVE) {
      input.mi.dwFlags |= MOUSEEVENTF_ABSOLUTE;
      input.mi.dx = MulDiv(at.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
      input.mi.dy = MulDiv(at.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    }
    return SendInput(1, &input, sizeof input) == 1;
  };
  ASSERT_TRUE(mouse(MOUSEEVENTF_MOVE, grip));
  ASSERT_TRUE(mouse(MOUSEEVENTF_LEFTDOWN));
  const DWORD thread = GetWindowThreadProcessId(alert.window, nullptr);
  GUITHREADINFO gui{};
  gui.cbSize = sizeof gui;
  const bool moving = probe::waitUntil(
      [&] { return GetGUIThreadInfo(thread, &gui) && (gui.flags & GUI_INMOVESIZE) != 0; }, 5000);
  // The window follows the mouse while the button is down.
  POINT to{grip.x - 300, grip.y - 200};
  for (int step = 1; step <= 10; ++step) {
    mouse(MOUSEEVENTF_MOVE, POINT{grip.x - 30 * step, grip.y - 20 * step});
    Sleep(10);
  }
  RECT dragged{};
  const bool followed = probe::waitUntil(
      [&] { return GetWindowRect(alert.window, &dragged) && dragged.left <= alert.rect.left - 250; },
      5000);

  run.signal("dragging");
  const bool read = run.waitForLog(flushedAt(flush), kShowMs);
  Sleep(200);
  const std::map<int, std::wstring> duringTheDrag = screenOf(run);
  mouse(MOUSEEVENTF_MOVE, to);
  mouse(MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(moving) << "the alert never entered the move loop";
  EXPECT_TRUE(followed) << "the alert did not follow the mouse";
  ASSERT_TRUE(read) << run.logSoFar();
  std::printf("while the alert was dragged: %s\n", describe(duringTheDrag).c_str());

  std::string seen;
  EXPECT_TRUE(waitForScreen(run, {{IDD_STATUS_INLINE, kDuplex}}, &seen)) << seen;
  EXPECT_FALSE(IsWindow(alert.window)) << "the dragged alert outlived its replacement";
  run.signal("dropped");
  EXPECT_EQ(0u, exitCodeWatching(run));
}

// The links of the details dialog (asked for with "more..." on an alert) each
// open a message box, which runs a loop of its own on the program's only
// thread; records that arrive meanwhile wait, and none is lost or taken out
// of order once the box is closed.
TEST(UserHoldsTheThread, RecordsArrivingWhileALinksMessageBoxIsOpenAreHandledInOrderAfterIt) {
  struct Link {
    int id;
    const wchar_t* caption;
    const char* records;
    std::map<int, std::wstring> after;
  };
  const Link links[] = {
      {IDC_HELP_LINK,
       L"IDC_HELP_STATIC",
       "event 41101\nevent 40021",
       {{IDD_STATUS_DETAILED, kDoorOpen},
        {IDD_STATUS_NOTIFICATION, kClamshell},
        {IDD_STATUS_INLINE, kManualFeed}}},
      {IDC_TOOLBOX_LINK,
       L"IDC_TOOLBOX_STATIC",
       "event 10209\nevent 40122\nevent 10209",
       {{IDD_STATUS_DETAILED, kDoorOpen},
        {IDD_STATUS_NOTIFICATION, kBlackInk},
        {IDD_STATUS_INLINE, kDuplex}}},
      {IDC_MANUAL_LINK,
       L"IDC_USERMANUAL_STATIC",
       "event 10001\nevent 40020",
       {{IDD_STATUS_NOTIFICATION, kDoorOpen}}},
  };
  Script script;
  script.add("event 40020");
  std::vector<int> flushes;
  for (std::size_t i = 0; i < std::size(links); ++i) {
    script.add("wait-event {ID}-box" + std::to_string(i) + " 30000");
    script.add(links[i].records);
    flushes.push_back(script.add("flush"));
  }
  script.add("wait-event {ID}-done 30000\nend-job 7\npause 30000");
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\KRT\\SM");  // no snooze of the low-ink alert
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  const Dialog alert = waitForAlert(run, kDoorOpen);
  ASSERT_TRUE(probe::clickControl(alert.window, IDC_MORE_LINK));
  std::string seen;
  ASSERT_TRUE(waitForScreen(
      run, {{IDD_STATUS_DETAILED, kDoorOpen}, {IDD_STATUS_NOTIFICATION, kDoorOpen}}, &seen))
      << seen;
  Dialog details;
  for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
    if (templateOf(dialog) == IDD_STATUS_DETAILED) details = dialog;
  }

  for (std::size_t i = 0; i < std::size(links); ++i) {
    const Link& link = links[i];
    SCOPED_TRACE(probe::utf8(link.caption));
    ASSERT_TRUE(IsWindow(details.window));
    ASSERT_TRUE(probe::clickControl(details.window, link.id));
    HWND box = nullptr;
    ASSERT_TRUE(probe::waitUntil(
        [&] {
          for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
            if (dialog.caption == link.caption) box = dialog.window;
          }
          return box != nullptr;
        },
        kShowMs))
        << "no message box";
    run.signal("box" + std::to_string(i));
    ASSERT_TRUE(run.waitForLog(flushedAt(flushes[i]), kShowMs)) << run.logSoFar();
    Sleep(200);
    std::printf("while %s was open: %s\n", probe::utf8(link.caption).c_str(),
                describe(screenOf(run)).c_str());
    ASSERT_TRUE(probe::clickControl(box, IDOK));
    EXPECT_TRUE(waitForScreen(run, link.after, &seen)) << seen;
    EXPECT_TRUE(probe::waitUntil([&] { return !IsWindow(box); }, kShowMs));
  }
  run.signal("done");
  EXPECT_EQ(0u, exitCodeWatching(run));
}

// A port monitor that writes synchronously must not wait on the user: while
// a link's message box holds the program's only thread, the reader goes on
// reading far more records than a queue bounded by their number (1024) took,
// so the whole flood is read before the box is closed; once it is, every
// record is handled, in order.
TEST(UserHoldsTheThread, AFloodWrittenWhileAMessageBoxIsOpenIsReadAtOnceAndHandledInOrder) {
  constexpr int kRecords = 5000;
  Script script;
  script.add("event 40020");
  script.add("wait-event {ID}-box 30000");
  // The alert for 40020 is on screen: each of these changes nothing. One
  // write of them all, as a port monitor with a backlog of its own writes.
  std::vector<std::uint8_t> flood;
  for (int i = 0; i < kRecords; ++i) {
    const std::vector<std::uint8_t> record = tarn::encodeStatus(40020);
    flood.insert(flood.end(), record.begin(), record.end());
  }
  script.add(e2e::rawLine(flood.data(), flood.size()));
  script.add("event 10001\nevent 40122");
  const int flush = script.add("flush");
  script.add("wait-event {ID}-done 30000\nend-job 7\npause 30000");
  MonitorRun run(script.text());
  ASSERT_TRUE(run.started());
  const Dialog alert = waitForAlert(run, kDoorOpen);
  ASSERT_TRUE(probe::clickControl(alert.window, IDC_MORE_LINK));
  std::string seen;
  ASSERT_TRUE(waitForScreen(
      run, {{IDD_STATUS_DETAILED, kDoorOpen}, {IDD_STATUS_NOTIFICATION, kDoorOpen}}, &seen))
      << seen;
  Dialog details;
  for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
    if (templateOf(dialog) == IDD_STATUS_DETAILED) details = dialog;
  }
  ASSERT_TRUE(probe::clickControl(details.window, IDC_HELP_LINK));
  HWND box = nullptr;
  ASSERT_TRUE(probe::waitUntil(
      [&] {
        for (const Dialog& dialog : probe::visibleDialogsOf(run.monitorId())) {
          if (dialog.caption == L"IDC_HELP_STATIC") box = dialog.window;
        }
        return box != nullptr;
      },
      kShowMs))
      << "no message box";
  run.signal("box");
  const bool read = run.waitForLog(flushedAt(flush), kShowMs);
  const bool boxStillOpen = IsWindowVisible(box) != FALSE;
  const std::map<int, std::wstring> whileOpen = screenOf(run);
  ASSERT_TRUE(probe::clickControl(box, IDOK));
  ASSERT_TRUE(read) << "the flood was not read while the box was open: " << run.logSoFar();
  EXPECT_TRUE(boxStillOpen);
  EXPECT_EQ(whileOpen, (std::map<int, std::wstring>{{IDD_STATUS_DETAILED, kDoorOpen},
                                                    {IDD_STATUS_NOTIFICATION, kDoorOpen}}))
      << describe(whileOpen);
  EXPECT_TRUE(waitForScreen(run, {{IDD_STATUS_INLINE, kDuplex}}, &seen)) << seen;
  run.signal("done");
  EXPECT_EQ(0u, exitCodeWatching(run));
}

}  // namespace
