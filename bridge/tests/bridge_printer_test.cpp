// The bridge end to end: the real bridge program against a real IPP printer
// (ippeveprinter, jobs submitted with ipptool) and, for what that printer
// cannot do, a fake one; the real monitor started by the bridge, its dialogs
// watched from this process as a user sees them. The Linux side (both
// printers and the control server that steers them) is printer_peer.py,
// which runs this program.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/port_side.h"
#include "e2e/tests/monitor_run.h"
#include "platform/text.h"
#include "platform/win32/scoped_win_handle.h"
#include "tools/window_probe.h"

namespace {

constexpr DWORD kDeadlineMs = 30000;
constexpr int kMessage = e2e::kMessageControl;

std::string environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// One request to the printer peer's control server: its answer, or a failed
// test (and "") when it does not answer 200.
std::string peer(const std::string& path, const std::string& body = std::string(),
                 bool post = false) {
  const std::string base = environment("BRIDGE_PEER_URL");  // http://127.0.0.1:PORT
  const std::size_t colon = base.rfind(':');
  const INTERNET_PORT port = static_cast<INTERNET_PORT>(std::stoi(base.substr(colon + 1)));
  HINTERNET session = WinHttpOpen(L"bridge-test", WINHTTP_ACCESS_TYPE_NO_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  HINTERNET connection = WinHttpConnect(session, L"127.0.0.1", port, 0);
  HINTERNET request =
      WinHttpOpenRequest(connection, post ? L"POST" : L"GET", platform::utf8ToWide(path).c_str(),
                         nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0);
  WinHttpSetTimeouts(request, 60000, 60000, 60000, 60000);
  std::string answer;
  DWORD status = 0, size = sizeof status;
  const bool ok =
      WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                         const_cast<char*>(body.data()), static_cast<DWORD>(body.size()),
                         static_cast<DWORD>(body.size()), 0) &&
      WinHttpReceiveResponse(request, nullptr) &&
      WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                          WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  char chunk[4096];
  DWORD got = 0;
  while (ok && WinHttpReadData(request, chunk, sizeof chunk, &got) && got > 0)
    answer.append(chunk, got);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  EXPECT_TRUE(ok && status == 200) << path << ": " << status << " " << answer;
  return ok && status == 200 ? answer : std::string();
}

// A job on ippeveprinter whose print command runs `script` (see
// printer_peer.py); go() lets it run to its next "wait".
struct PrinterJob {
  explicit PrinterJob(const std::string& script) {
    std::istringstream answer(peer("/submit", script, true));
    answer >> id >> token;
    EXPECT_GT(id, 0) << "no job submitted";
  }
  void go() const { peer("/go?token=" + token); }
  int id = 0;
  std::string token;
};

std::wstring tempPath(const std::string& leaf) {
  wchar_t folder[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH, folder);
  return folder + std::to_wstring(GetCurrentProcessId()) + L"-" + platform::utf8ToWide(leaf);
}

// One run of the bridge with the real monitor as its PROGRAM.
class BridgeRun {
 public:
  BridgeRun(const std::string& name, const std::vector<std::string>& arguments)
      : logPath_(tempPath(name + ".log")) {
    DeleteFileW(logPath_.c_str());
    std::vector<std::wstring> command{e2e::builtFile("bridge/ipp_status_bridge.exe"), L"--log",
                                      logPath_};
    for (const std::string& arg : arguments) command.push_back(platform::utf8ToWide(arg));
    command.push_back(L"--");
    command.push_back(e2e::builtFile("app/qmxMeadowMonitor.exe"));
    std::string error;
    EXPECT_TRUE(bridge_.start(portside::commandLineOf(command), false, &error)) << error;
  }
  ~BridgeRun() {
    if (bridge_.process() && !bridge_.wait(0)) bridge_.terminate(0xDEAD);
    for (DWORD id : monitors_) {
      const platform::ScopedWinHandle monitor(OpenProcess(PROCESS_TERMINATE, FALSE, id));
      if (monitor) TerminateProcess(monitor.get(), 0xDEAD);
    }
    DeleteFileW(logPath_.c_str());
  }

  std::string log() const {
    std::stringstream text;
    text << std::ifstream(platform::wideToUtf8(logPath_), std::ios::binary).rdbuf();
    return text.str();
  }
  // Waits until the log holds `text` at least `count` times.
  bool waitForLog(const std::string& text, int count = 1, DWORD timeoutMs = kDeadlineMs) const {
    return probe::waitUntil([&] { return occurrences(text) >= count; }, timeoutMs);
  }
  int occurrences(const std::string& text) const {
    const std::string all = log();
    int count = 0;
    for (std::size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + 1))
      ++count;
    return count;
  }

  // The monitor the bridge started for its next job (one not seen before).
  DWORD nextMonitor() {
    DWORD found = 0;
    probe::waitUntil(
        [&] {
          const DWORD id = probe::findChildProcess(GetProcessId(bridge_.process()));
          for (DWORD seen : monitors_)
            if (id == seen) return false;
          found = id;
          return id != 0;
        },
        kDeadlineMs);
    EXPECT_NE(found, 0u) << "no monitor started\n" << log();
    if (found) monitors_.push_back(found);
    return found;
  }

  // The bridge's exit code; 0xDEAD when it did not end in time.
  DWORD exitCode(DWORD timeoutMs = kDeadlineMs) {
    if (!bridge_.wait(timeoutMs)) {
      ADD_FAILURE() << "the bridge did not end\n" << log();
      bridge_.terminate(0xDEAD);
    }
    return bridge_.exitCode();
  }

 private:
  std::wstring logPath_;
  portside::Program bridge_;
  std::vector<DWORD> monitors_;
};

// The visible alert of `monitor` that says `message`.
probe::Dialog waitForAlert(DWORD monitor, const std::wstring& message) {
  probe::Dialog found;
  const bool seen = probe::waitUntil(
      [&] {
        for (const probe::Dialog& dialog : probe::visibleDialogsOf(monitor)) {
          if (dialog.text(kMessage) == message) {
            found = dialog;
            return true;
          }
        }
        return false;
      },
      kDeadlineMs);
  EXPECT_TRUE(seen) << "no alert saying \"" << probe::utf8(message) << "\"";
  return found;
}

bool waitUntilGone(const probe::Dialog& dialog) {
  return probe::waitUntil([&] { return !IsWindow(dialog.window) || !IsWindowVisible(dialog.window); },
                          kDeadlineMs);
}

// A job on the real printer, followed from the bridge's start: the bridge
// waits for it, the monitor shows the jam and the open cover while they last
// and the low black ink once, and the job's end ends both with 0.
TEST(BridgeOnARealPrinter, FollowsAJobThroughJamCoverAndLowInkToItsEnd) {
  BridgeRun run("one-job", {"--interval", "200", "--name", "bridge-test-one",
                            environment("BRIDGE_PRINTER_URI")});
  ASSERT_TRUE(run.waitForLog("waiting for a job")) << run.log();
  const PrinterJob job(
      "wait\nstate +media-jam-error\nwait\nstate -media-jam-error\n"
      "wait\nstate +cover-open-error\nwait\nstate -cover-open-error\n"
      "wait\nsupplies supply0=10&supply1=8\nwait\n");
  ASSERT_TRUE(run.waitForLog("job " + std::to_string(job.id) + " ")) << run.log();
  const DWORD monitor = run.nextMonitor();
  ASSERT_TRUE(run.waitForLog("code 10023 sent")) << run.log();

  job.go();
  const probe::Dialog jam = waitForAlert(monitor, L"Paper Jam");
  job.go();
  EXPECT_TRUE(waitUntilGone(jam)) << "the jam alert stayed after the jam cleared";
  job.go();
  const probe::Dialog cover = waitForAlert(monitor, L"Clamshell Open");
  job.go();
  EXPECT_TRUE(waitUntilGone(cover)) << "the cover alert stayed after the cover closed";
  job.go();
  waitForAlert(monitor, L"Black Ink Low");
  job.go();

  EXPECT_EQ(run.exitCode(), 0u) << run.log();
  const std::string log = run.log();
  EXPECT_NE(log.find("code 42000 sent: media-jam"), std::string::npos) << log;
  EXPECT_NE(log.find("code 40021 sent: cover-open"), std::string::npos) << log;
  EXPECT_NE(log.find("code 10209 sent"), std::string::npos) << log;
  EXPECT_NE(log.find("job " + std::to_string(job.id) + " completed"), std::string::npos) << log;
  EXPECT_NE(log.find("end of job " + std::to_string(job.id) + " sent"), std::string::npos) << log;
  EXPECT_NE(log.find("exit code 0"), std::string::npos) << log;
}

// --jobs 2 follows two jobs, each with a monitor of its own; the second ends
// with a full waste container, an error that stays on screen after the job
// until the user closes it.
TEST(BridgeOnARealPrinter, FollowsTwoJobsAndAWasteErrorOutlivesTheSecond) {
  // The printer takes one job at a time: the second comes once the first
  // has ended and the bridge waits for another.
  const PrinterJob first("wait\n");
  BridgeRun run("two-jobs", {"--interval", "200", "--jobs", "2",
                             environment("BRIDGE_PRINTER_URI")});
  const DWORD firstMonitor = run.nextMonitor();
  ASSERT_TRUE(run.waitForLog("job record " + std::to_string(first.id))) << run.log();
  first.go();
  ASSERT_TRUE(run.waitForLog("exit code 0")) << run.log();
  ASSERT_TRUE(run.waitForLog("waiting for a job")) << run.log();

  const PrinterJob second("wait\nsupplies supply0=100&supply1=90\nwait\n");
  const DWORD secondMonitor = run.nextMonitor();
  EXPECT_NE(firstMonitor, secondMonitor);
  ASSERT_TRUE(run.waitForLog("job record " + std::to_string(second.id))) << run.log();
  second.go();
  const probe::Dialog waste =
      waitForAlert(secondMonitor, L"Waste ink container full. Contact service.");
  second.go();
  ASSERT_TRUE(run.waitForLog("end of job " + std::to_string(second.id) + " read by the monitor"))
      << run.log();
  // The monitor has read the end of the job: from now on an error that
  // belonged to the job would be gone within milliseconds.
  EXPECT_FALSE(probe::waitUntil([&] { return !IsWindowVisible(waste.window); }, 2000))
      << "the waste error was closed at the end of the job";
  EXPECT_EQ(run.occurrences("exit code"), 1) << run.log();

  probe::pressCloseBox(waste.window);
  EXPECT_EQ(run.exitCode(), 0u) << run.log();
  EXPECT_EQ(run.occurrences("exit code 0"), 2) << run.log();
}

// What ippeveprinter cannot do, played by the fake printer: a door open,
// then one answer of each kind of failure. Each costs one log line and its
// recovery one more; the door's alert stays all along, no end of job is
// invented, and the job's end (the printer forgets it) still ends both
// programs with 0. Meanwhile a bridge whose printer never answers gives up
// with 4 after 30 s, and one whose pipe names are taken with 3.
TEST(BridgeOnAFakePrinter, EachFailureCostsALogLineAndLosesNothing) {
  peer("/fake?reset=1&reasons=door-open-error");
  BridgeRun dead("dead", {"--interval", "1000", environment("BRIDGE_DEAD_URI")});
  BridgeRun run("fake", {"--interval", "200", "--name", "bridge-test-fake",
                         environment("BRIDGE_FAKE_URI")});
  const DWORD monitor = run.nextMonitor();
  const probe::Dialog door = waitForAlert(monitor, L"Rear Access Door Open");

  BridgeRun taken("taken", {"--job", "1", "--name", "bridge-test-fake",
                            environment("BRIDGE_FAKE_URI")});
  EXPECT_EQ(taken.exitCode(), 3u) << taken.log();
  EXPECT_NE(taken.log().find("cannot create \\\\.\\pipe\\bridge-test-fake."), std::string::npos)
      << taken.log();

  const struct {
    const char* fault;
    const char* logged;
  } faults[] = {
      {"http500", "HTTP status 500"},
      {"lying-ipp", "response refused: "},
      {"lying-http", "response refused: "},
      {"cut", "bytes where Content-Length says"},
      {"huge", "refused (at most 1048576)"},
      {"huge-unannounced", "larger than 1048576 bytes refused"},
      {"slow", "no answer within 5 s"},
      // The first request after the printer went may still meet the old
      // connection (reset) rather than a refused one.
      {"offline", "request not sent: "},
  };
  int failures = 0;
  for (const auto& f : faults) {
    SCOPED_TRACE(f.fault);
    peer(std::string("/fake?fault=") + f.fault);
    ++failures;
    EXPECT_TRUE(run.waitForLog("printer unreachable: ", failures)) << run.log();
    EXPECT_TRUE(run.waitForLog("printer answers again", failures)) << run.log();
    EXPECT_NE(run.log().find(f.logged), std::string::npos) << run.log();
    EXPECT_TRUE(IsWindowVisible(door.window)) << "the door's alert went";
  }
  EXPECT_EQ(run.occurrences("printer unreachable: "), failures) << run.log();
  EXPECT_EQ(run.log().find("end of job"), std::string::npos) << run.log();

  peer("/fake?reasons=none");
  EXPECT_TRUE(waitUntilGone(door)) << run.log();
  peer("/fake?job=forgotten");
  EXPECT_EQ(run.exitCode(), 0u) << run.log();
  const std::string log = run.log();
  EXPECT_NE(log.find("code 40020 sent: door-open"), std::string::npos) << log;
  EXPECT_NE(log.find("job 1 no longer known to the printer"), std::string::npos) << log;
  EXPECT_NE(log.find("end of job 1 sent"), std::string::npos) << log;
  EXPECT_NE(log.find("exit code 0"), std::string::npos) << log;

  EXPECT_EQ(dead.exitCode(40000), 4u) << dead.log();
  EXPECT_NE(dead.log().find("giving up"), std::string::npos) << dead.log();
}

}  // namespace
