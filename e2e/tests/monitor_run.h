// One run of the real monitor program against the port-monitor simulator,
// over real named pipes, as the port monitor starts it for a print job.
//
// The simulator is started first, without a program, so that it creates the
// pipe pair and plays the job script once the monitor connects; then the
// monitor is started with pipe=\\.\pipe\NAME (or other arguments), so that
// the test holds the monitor's own process handle: its id to find its
// windows, and its exit code. Both processes are ended when the run goes.
#ifndef E2E_TESTS_MONITOR_RUN_H_
#define E2E_TESTS_MONITOR_RUN_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/resources/resource_ids.h"
#include "tools/window_probe.h"

namespace e2e {

// How long an alert may take to appear, and the program to end, before a test
// gives up on it.
inline constexpr std::uint32_t kShowMs = 20000;
inline constexpr std::uint32_t kExitMs = 20000;
// The message control of every status dialog, for the tests that know it by
// this name.
inline constexpr int kMessageControl = IDC_MESSAGE;

// Path of a file built beside the test program's build tree, from its path
// relative to the top of the build tree ("app/qmxMeadowMonitor.exe").
std::wstring builtFile(const char* relativePath);

struct RunOptions {
  // How the monitor learns about its streams: "pipe" (pipe=\\.\pipe\NAME),
  // "none" (no arguments at all), or anything else, passed as it stands.
  std::string monitorArguments = "pipe";
  // Starts the monitor through the simulator (--handles: inherited handle
  // numbers) instead of by itself; the monitor's process is then found by
  // its file name.
  bool throughSimulatorWithHandles = false;
  // Environment changes for the monitor, "NAME=value" each.
  std::vector<std::string> environment;
  // The monitor program; default the one the build makes.
  std::wstring program;
  // How long the simulator lets the monitor run before it ends it (exit
  // code 124); long jobs need more than the default.
  std::uint32_t simulatorTimeoutMs = 60000;
  // UTF-8 text added to the run's unique name, and so to the pipes' names
  // and the script's event names: letters beyond ASCII, as a port monitor
  // that names its pipes after the printer gives them.
  std::string nameSuffix;
};

// What the system tells about a process's resources. Under Wine 8 (tried
// here with a process of known use): GetGuiResources answers 0 with
// ERROR_CALL_NOT_IMPLEMENTED for any process, so both of its counts read -1;
// GetProcessMemoryInfo leaves PrivateUsage at 0 and answers the process's
// resident anonymous memory as PagefileUsage (20 MB written and 80 MB
// committed but untouched read as 25 MB), which privateBytes then holds.
// Windows are counted with EnumWindows and EnumChildWindows, which see every
// window of the process, hidden or not.
struct ProcessFigures {
  std::uint64_t privateBytes = 0;
  std::uint64_t workingSet = 0;
  long gdiObjects = -1;   // -1: the system does not count them
  long userObjects = -1;  // -1: likewise
  int topLevelWindows = 0;
  int windows = 0;  // top-level windows and everything below them
};
// "private 12.3 MB, working set 40.1 MB, 3 top-level windows, 27 windows,
// GDI objects not counted by the system, ..."
std::string describe(const ProcessFigures& figures);

// The bytes a job script sends on the status stream, in order: what the
// simulator writes for it. Fails the test (and answers nothing) when the
// script does not parse.
std::vector<std::uint8_t> streamBytesOf(const std::string& script);
// A script line that writes exactly these bytes, in one write.
std::string rawLine(const std::uint8_t* bytes, std::size_t size);

class MonitorRun {
 public:
  // Writes the script, starts the simulator and then the monitor. In the
  // script, "{ID}" stands for this run's unique name (for wait-event names).
  explicit MonitorRun(const std::string& script, RunOptions options = RunOptions());
  // Ends whatever is still running.
  ~MonitorRun();
  MonitorRun(const MonitorRun&) = delete;
  MonitorRun& operator=(const MonitorRun&) = delete;

  bool started() const { return monitor_ != nullptr; }
  DWORD monitorId() const { return monitorId_; }
  const std::string& id() const { return id_; }

  // Sets the named event "{ID}-<suffix>" that a script's wait-event waits on.
  void signal(const std::string& suffix);

  // Whether the monitor has ended.
  bool ended() const { return monitor_ == nullptr || WaitForSingleObject(monitor_, 0) == WAIT_OBJECT_0; }
  // Waits for the monitor to end; false when it did not end in time (it is
  // then ended, with exit code 0xDEAD).
  bool waitForExit(std::uint32_t timeoutMs, DWORD* exitCode);
  // Waits for the simulator to end and answers its log.
  std::string simulatorLog(std::uint32_t timeoutMs = 10000);
  // The log as it stands, without waiting.
  std::string logSoFar() const;
  // Waits until the log holds `text`.
  bool waitForLog(const std::string& text, std::uint32_t timeoutMs);

  // The monitor's resources as the system tells them, now.
  ProcessFigures figures() const;

 private:
  std::string id_;
  std::wstring scriptPath_;
  std::wstring logPath_;
  HANDLE simulator_ = nullptr;
  HANDLE monitor_ = nullptr;
  DWORD monitorId_ = 0;
  std::vector<HANDLE> events_;
};

// The visible dialog of the run whose message is `message`; fails the calling
// test when none shows within kShowMs.
probe::Dialog waitForAlert(const MonitorRun& run, const std::wstring& message);

// Waits up to kExitMs for the program to end, calling `watch` at every look;
// answers its exit code, 0xDEAD when it had to be ended.
DWORD exitCodeWatching(MonitorRun& run, const std::function<void()>& watch);

}  // namespace e2e

#endif  // E2E_TESTS_MONITOR_RUN_H_
